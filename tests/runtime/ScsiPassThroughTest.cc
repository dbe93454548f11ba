// SG_IO pass-through against a kernel played by the test: the request the
// kernel sees and how its answers (data, sense, statuses) are read.
#include "hostruntime/ScsiPassThrough.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/PzDeviceTree.h"

namespace {

using hostrt::OpenScsiPath;
using hostrt::ScsiDevice;

struct Answer {
  std::vector<uint8_t> data;
  std::vector<uint8_t> sense;
  uint8_t status = 0;
  uint16_t hostStatus = 0, driverStatus = 0;
  bool ioctlFails = false;
};

struct FakeKernel : hostrt::ScsiIoctl {
  Answer answer;
  bool openFails = false;
  std::vector<int> closed;
  // What the kernel saw.
  sg_io_hdr_t seen{};
  std::vector<uint8_t> seenCdb;

  int Open(const std::string& path, std::string* error) override {
    if (openFails) {
      *error = "cannot open " + path + ": No such device";
      return -1;
    }
    return 42;
  }
  int SgIo(int fd, sg_io_hdr_t* hdr, std::string* error) override {
    EXPECT_EQ(42, fd);
    seen = *hdr;
    seenCdb.assign(hdr->cmdp, hdr->cmdp + hdr->cmd_len);
    if (answer.ioctlFails) {
      *error = "SG_IO: Invalid argument";
      return -1;
    }
    size_t n = std::min<size_t>(answer.data.size(), hdr->dxfer_len);
    if (n) memcpy(hdr->dxferp, answer.data.data(), n);
    hdr->resid = int(hdr->dxfer_len - n);
    size_t s = std::min<size_t>(answer.sense.size(), hdr->mx_sb_len);
    if (s) memcpy(hdr->sbp, answer.sense.data(), s);
    hdr->sb_len_wr = static_cast<unsigned char>(s);
    hdr->status = answer.status;
    hdr->host_status = answer.hostStatus;
    hdr->driver_status = answer.driverStatus;
    return 0;
  }
  void Close(int fd) override { closed.push_back(fd); }
};

const uint8_t kStandardInquiry[] = {0x12, 0x00, 0x00, 0x00, 0xFF, 0x00};

class ScsiPassThroughTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(OpenScsiPath("/dev/sdb", &kernel, &device, &error)) << error;
  }
  int Send(int timeoutSecs = 10, int direction = SCSI_DIR_READ) {
    memset(buffer, 0, sizeof buffer);
    error.clear();
    return device->SendCdb(kStandardInquiry, sizeof kStandardInquiry, buffer,
                           sizeof buffer, direction, timeoutSecs, &error);
  }
  FakeKernel kernel;
  std::unique_ptr<ScsiDevice> device;
  uint8_t buffer[4096];
  std::string error;
};

TEST_F(ScsiPassThroughTest, RequestIsAReadWithTimeLimitAndSenseBuffer) {
  kernel.answer.data.assign(36, 0x41);
  ASSERT_EQ(36, Send(10)) << error;
  EXPECT_EQ('S', kernel.seen.interface_id);
  EXPECT_EQ(SG_DXFER_FROM_DEV, kernel.seen.dxfer_direction);
  EXPECT_EQ(std::vector<uint8_t>(kStandardInquiry, kStandardInquiry + 6), kernel.seenCdb);
  EXPECT_EQ(sizeof buffer, kernel.seen.dxfer_len);
  EXPECT_EQ(10000u, kernel.seen.timeout);
  EXPECT_GE(kernel.seen.mx_sb_len, 18);
  EXPECT_NE(nullptr, kernel.seen.sbp);
  EXPECT_EQ(0x41, buffer[35]);
  EXPECT_EQ(0, buffer[36]);
  Send(0);
  EXPECT_EQ(unsigned(hostrt::kDefaultScsiTimeoutSecs) * 1000u, kernel.seen.timeout);
  device.reset();
  EXPECT_EQ(std::vector<int>{42}, kernel.closed);
  kernel.openFails = true;
  EXPECT_FALSE(OpenScsiPath("/dev/sdz", &kernel, &device, &error));
  EXPECT_NE(std::string::npos, error.find("/dev/sdz"));
  EXPECT_EQ(nullptr, device);
}

// What the kernel answers, and what the sender makes of it: the data
// length, or -1 with a text naming the fault.
TEST_F(ScsiPassThroughTest, SenseTransportDriverAndStatusFailures) {
  const std::vector<uint8_t> none;
  struct Case {
    const char* what;
    uint8_t status;
    uint16_t hostStatus, driverStatus;
    std::vector<uint8_t> sense;
    bool ioctlFails;
    int direction, result;
    const char* text;
  } cases[] = {
      {"fixed sense: ILLEGAL REQUEST, INVALID FIELD IN CDB", 0x02, 0, 0x08,
       {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00}, false, SCSI_DIR_READ, -1,
       "sense key 0x05 asc 0x24 ascq 0x00"},
      {"descriptor sense: LOGICAL UNIT NOT READY", 0x02, 0, 0x08,
       {0x72, 0x02, 0x04, 0x01, 0, 0, 0, 0}, false, SCSI_DIR_READ, -1,
       "sense key 0x02 asc 0x04 ascq 0x01"},
      {"no readable sense", 0x02, 0, 0x08, none, false, SCSI_DIR_READ, -1,
       "without readable sense"},
      {"RECOVERED ERROR: the data is good", 0x02, 0, 0x08,
       {0x70, 0, 0x01, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x17, 0x01}, false, SCSI_DIR_READ, 36, ""},
      {"no connection", 0, 0x01, 0, none, false, SCSI_DIR_READ, -1, "host status 0x01"},
      {"driver time-out", 0, 0, 0x06, none, false, SCSI_DIR_READ, -1, "driver status 0x06"},
      {"BUSY", 0x08, 0, 0, none, false, SCSI_DIR_READ, -1, "SCSI status 0x08"},
      {"ioctl fails", 0, 0, 0, none, true, SCSI_DIR_READ, -1, "Invalid argument"},
      {"only reads are passed on", 0, 0, 0, none, false, SCSI_DIR_NONE, -1, ""},
      {"good", 0, 0, 0, none, false, SCSI_DIR_READ, 36, ""},
  };
  kernel.answer.data.assign(36, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kernel.answer.status = c.status;
    kernel.answer.hostStatus = c.hostStatus;
    kernel.answer.driverStatus = c.driverStatus;
    kernel.answer.sense = c.sense;
    kernel.answer.ioctlFails = c.ioctlFails;
    EXPECT_EQ(c.result, Send(10, c.direction)) << error;
    EXPECT_NE(std::string::npos, error.find(c.text)) << error;
    if (c.result < 0 && *c.text) {
      EXPECT_NE(std::string::npos, error.find("/dev/sdb")) << error;
    }
  }
}


}  // namespace
