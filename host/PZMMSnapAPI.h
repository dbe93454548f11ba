// Host's active-snap service: the target reservation records.
#pragma once

#include <string>
#include <vector>

enum SMActiveSnapReqOpType {
  ActiveSnapQuery = 1,
  ActiveSnapReserve = 3,
  ActiveSnapRelease = 5,
};

// Reserve response status of a granted entry.
constexpr int SM_ACTIVE_SNAP_GRANTED = 1;
// A reserve entry's Extra1 may list devices that can stand in for its
// TargetDevice, in order of preference, separated by this character; the
// response entry's TargetDevice is then the device granted.
constexpr char SM_ACTIVE_SNAP_ALTERNATIVE_SEPARATOR = ',';

class SMActiveSnapInfo {
 public:
  int getSMSnapId() const { return SMSnapId; }
  void setSMSnapId(int v) { SMSnapId = v; }
  const std::string& getArrayName() const { return ArrayName; }
  void setArrayName(const std::string& v) { ArrayName = v; }
  const std::string& getSourceDevice() const { return SourceDevice; }
  void setSourceDevice(const std::string& v) { SourceDevice = v; }
  const std::string& getTargetDevice() const { return TargetDevice; }
  void setTargetDevice(const std::string& v) { TargetDevice = v; }
  int getStatus() const { return Status; }
  void setStatus(int v) { Status = v; }
  int getFlags() const { return Flags; }
  void setFlags(int v) { Flags = v; }
  const std::string& getExtra1() const { return Extra1; }
  void setExtra1(const std::string& v) { Extra1 = v; }
  const std::string& getExtra2() const { return Extra2; }
  void setExtra2(const std::string& v) { Extra2 = v; }

  int SMSnapId = 0;
  std::string ArrayName;
  std::string SourceDevice;
  std::string TargetDevice;
  int Status = 0;
  int Flags = 0;
  std::string Extra1;
  std::string Extra2;
};

class SMActiveSnapInfoMsg {
 public:
  using List = std::vector<SMActiveSnapInfo>;
  List& getActiveSnapInfoList() { return ActiveSnapInfoList; }
  List::iterator getActiveSnapInfoListBegin() {
    return ActiveSnapInfoList.begin();
  }
  List::iterator getActiveSnapInfoListEnd() { return ActiveSnapInfoList.end(); }
  void setActiveSnapInfoList(const List& list) {
    ActiveSnapInfoList.clear();
    ActiveSnapInfoList = list;
  }
  void setOpType(SMActiveSnapReqOpType op) { OpType = op; }
  SMActiveSnapReqOpType getOpType() const { return OpType; }
  void setJobId(long long id) { JobId = id; }
  long long getJobId() const { return JobId; }
  int getErrCode() const { return ErrCode; }
  void setErrCode(int code) { ErrCode = code; }
  const std::string& getErrString() const { return ErrString; }
  void setErrString(const std::string& s) { ErrString = s; }

  List ActiveSnapInfoList;
  SMActiveSnapReqOpType OpType = ActiveSnapQuery;
  long long JobId = 0;
  int ErrCode = 0;
  std::string ErrString;
};

// Request client of the service. Query lists the reservations of one array;
// reserve grants an entry (status 1) only when no holder has that target on
// that array, or else the first of its stand-ins that nobody holds; release removes only reservations whose SMSnapId is the
// requester's.
class PZMMSnapAPI {
 public:
  explicit PZMMSnapAPI(int client);
  bool activeSnapOperation(long long jobId, SMActiveSnapReqOpType op,
                           SMActiveSnapInfoMsg& msg);

 private:
  int client_;
};
