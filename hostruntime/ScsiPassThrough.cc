#include "hostruntime/ScsiPassThrough.h"

#include "host/PzDeviceTree.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>


namespace hostrt {

namespace {

// SCSI status, sense and driver values the decoding names.
constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint16_t kDriverSense = 0x08;  // sense data came back; not a fault
constexpr uint8_t kSenseResponseMask = 0x7f;
constexpr uint8_t kSenseFixedCurrent = 0x70;
constexpr uint8_t kSenseFixedDeferred = 0x71;
constexpr uint8_t kSenseDescriptorCurrent = 0x72;
constexpr uint8_t kSenseDescriptorDeferred = 0x73;
constexpr size_t kFixedSenseKey = 2;
constexpr size_t kFixedSenseAsc = 12;
constexpr size_t kFixedSenseAscq = 13;
constexpr size_t kDescriptorSenseKey = 1;
constexpr size_t kDescriptorSenseAsc = 2;
constexpr size_t kDescriptorSenseAscq = 3;
constexpr uint8_t kSenseKeyMask = 0x0f;
constexpr uint8_t kSenseKeyNoSense = 0x0;
constexpr uint8_t kSenseKeyRecovered = 0x1;

std::string Hex(unsigned value) {
  char text[16];
  snprintf(text, sizeof text, "0x%02x", value);
  return text;
}

class KernelScsiIoctl : public ScsiIoctl {
 public:
  int Open(const std::string& path, std::string* error) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && error) *error = "cannot open " + path + ": " + strerror(errno);
    return fd;
  }
  int SgIo(int fd, sg_io_hdr_t* hdr, std::string* error) override {
    int rc;
    do {
      rc = ::ioctl(fd, SG_IO, hdr);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0 && error) *error = std::string("SG_IO: ") + strerror(errno);
    return rc < 0 ? -1 : 0;
  }
  void Close(int fd) override { ::close(fd); }
};

class SgScsiDevice : public ScsiDevice {
 public:
  SgScsiDevice(std::string path, int fd, ScsiIoctl* ioctl)
      : path_(std::move(path)), fd_(fd), ioctl_(ioctl) {}
  ~SgScsiDevice() override { ioctl_->Close(fd_); }

  int SendCdb(const uint8_t* cdb, size_t cdbLength, uint8_t* buffer,
              size_t bufferSize, int direction, int timeoutSecs,
              std::string* error) override {
    if (!cdb || cdbLength == 0 || cdbLength > UINT8_MAX || (!buffer && bufferSize)) {
      if (error) *error = "invalid CDB for " + path_;
      return -1;
    }
    if (direction != SCSI_DIR_READ) {
      if (error) *error = "only reading commands are passed to " + path_;
      return -1;
    }
    uint8_t sense[kSenseBufferSize] = {0};
    sg_io_hdr_t hdr;
    BuildSgIoRequest(cdb, cdbLength, buffer, std::min(bufferSize, kMaxScsiTransfer),
                     sense, sizeof sense, timeoutSecs, &hdr);
    std::string text;
    if (ioctl_->SgIo(fd_, &hdr, &text) != 0) {
      if (error) *error = path_ + ": " + text;
      return -1;
    }
    int n = DecodeSgIoResult(hdr, &text);
    if (n < 0 && error) *error = path_ + ": " + text;
    return n;
  }

 private:
  std::string path_;
  int fd_;
  ScsiIoctl* ioctl_;
};


}  // namespace

ScsiIoctl* SystemScsiIoctl() {
  static KernelScsiIoctl* kernel = new KernelScsiIoctl;
  return kernel;
}

void BuildSgIoRequest(const uint8_t* cdb, size_t cdbLength, uint8_t* buffer,
                      size_t bufferSize, uint8_t* sense, size_t senseSize,
                      int timeoutSecs, sg_io_hdr_t* hdr) {
  memset(hdr, 0, sizeof *hdr);
  hdr->interface_id = 'S';
  hdr->dxfer_direction = SG_DXFER_FROM_DEV;
  hdr->cmd_len = static_cast<unsigned char>(cdbLength);
  hdr->cmdp = const_cast<uint8_t*>(cdb);
  hdr->dxfer_len = static_cast<unsigned int>(bufferSize);
  hdr->dxferp = buffer;
  hdr->mx_sb_len = static_cast<unsigned char>(std::min<size_t>(senseSize, UINT8_MAX));
  hdr->sbp = sense;
  hdr->timeout = static_cast<unsigned int>(
                     timeoutSecs > 0 ? timeoutSecs : kDefaultScsiTimeoutSecs) * 1000u;
}

int DecodeSgIoResult(const sg_io_hdr_t& hdr, std::string* error) {
  auto fail = [&](const std::string& text) {
    if (error) *error = text;
    return -1;
  };
  if (hdr.host_status != 0)
    return fail("transport failure, host status " + Hex(hdr.host_status));
  if ((hdr.driver_status & ~kDriverSense) != 0)
    return fail("driver failure, driver status " + Hex(hdr.driver_status));
  uint8_t status = hdr.status & 0xfe;  // bit 0 is reserved
  if (status == kStatusCheckCondition || (hdr.driver_status & kDriverSense)) {
    const uint8_t* sense = hdr.sbp;
    size_t length = std::min<size_t>(hdr.sb_len_wr, hdr.mx_sb_len);
    uint8_t key = 0, asc = 0, ascq = 0;
    bool known = false;
    if (sense && length > 0) {
      uint8_t format = sense[0] & kSenseResponseMask;
      if ((format == kSenseFixedCurrent || format == kSenseFixedDeferred) &&
          length > kFixedSenseAscq) {
        key = sense[kFixedSenseKey] & kSenseKeyMask;
        asc = sense[kFixedSenseAsc];
        ascq = sense[kFixedSenseAscq];
        known = true;
      } else if ((format == kSenseDescriptorCurrent ||
                  format == kSenseDescriptorDeferred) &&
                 length > kDescriptorSenseAscq) {
        key = sense[kDescriptorSenseKey] & kSenseKeyMask;
        asc = sense[kDescriptorSenseAsc];
        ascq = sense[kDescriptorSenseAscq];
        known = true;
      }
    }
    bool harmless = known && (key == kSenseKeyNoSense || key == kSenseKeyRecovered);
    if (status == kStatusCheckCondition && !harmless) {
      if (!known) return fail("check condition without readable sense data");
      return fail("check condition, sense key " + Hex(key) + " asc " + Hex(asc) +
                  " ascq " + Hex(ascq));
    }
  } else if (status != kStatusGood) {
    return fail("SCSI status " + Hex(hdr.status));
  }
  int resid = hdr.resid < 0 ? 0 : hdr.resid;
  int transferred = int(hdr.dxfer_len) - resid;
  return transferred < 0 ? 0 : transferred;
}

bool OpenScsiPath(const std::string& path, ScsiIoctl* ioctl,
                  std::unique_ptr<ScsiDevice>* device, std::string* error) {
  if (!ioctl) ioctl = SystemScsiIoctl();
  int fd = ioctl->Open(path, error);
  if (fd < 0) return false;
  device->reset(new SgScsiDevice(path, fd, ioctl));
  return true;
}

}  // namespace hostrt
