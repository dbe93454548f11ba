// SCSI pass-through of the host: Linux SG_IO for device files. Failures are
// texts.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <memory>
#include <string>

#include "hostruntime/Env.h"

namespace hostrt {

// SCSI vocabulary used by the pass-through.
constexpr uint8_t kScsiOpInquiry = 0x12;
constexpr size_t kCdbOpcode = 0;
constexpr size_t kCdbInquiryFlags = 1;  // bit 0: EVPD
constexpr size_t kCdbInquiryPage = 2;
constexpr size_t kCdbInquiryLengthHigh = 3;
constexpr size_t kCdbInquiryLengthLow = 4;
constexpr uint8_t kInquiryEvpd = 0x01;
constexpr size_t kInquiryCdbLength = 6;
constexpr int kDefaultScsiTimeoutSecs = 30;
constexpr size_t kSenseBufferSize = 64;
constexpr size_t kMaxScsiTransfer = 65536;

// The kernel calls of the pass-through, so tests can play the kernel.
class ScsiIoctl {
 public:
  virtual ~ScsiIoctl() = default;
  // A file descriptor, or -1 with `error` set.
  virtual int Open(const std::string& path, std::string* error) = 0;
  // ioctl(fd, SG_IO, hdr): 0, or -1 with `error` set.
  virtual int SgIo(int fd, sg_io_hdr_t* hdr, std::string* error) = 0;
  virtual void Close(int fd) = 0;
};

// The real kernel.
ScsiIoctl* SystemScsiIoctl();

// Fills `hdr` for one CDB reading at most `bufferSize` bytes into `buffer`.
void BuildSgIoRequest(const uint8_t* cdb, size_t cdbLength, uint8_t* buffer,
                      size_t bufferSize, uint8_t* sense, size_t senseSize,
                      int timeoutSecs, sg_io_hdr_t* hdr);
// Bytes transferred by a completed SG_IO, or -1 with the reason: transport
// (host status), driver, or SCSI status with the sense key and codes.
int DecodeSgIoResult(const sg_io_hdr_t& hdr, std::string* error);

// Opens the device file `path` for SG_IO through `ioctl` (null: the
// kernel's).
bool OpenScsiPath(const std::string& path, ScsiIoctl* ioctl,
                  std::unique_ptr<ScsiDevice>* device, std::string* error);

}  // namespace hostrt
