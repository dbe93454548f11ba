// An Env that forwards every call to another. Fakes and the simulator's
// hosts derive from it and override only what they change.
#pragma once

#include "hostruntime/Env.h"

namespace hostrt {

class EnvWrapper : public Env {
 public:
  // `target` must outlive the wrapper.
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  void RunProcess(const ProcessSpec& spec, ProcessOutcome* out) override {
    target_->RunProcess(spec, out);
  }
  bool OpenWritable(const std::string& path, int flags, int mode,
                    std::unique_ptr<WritableFile>* file,
                    std::string* error) override {
    return target_->OpenWritable(path, flags, mode, file, error);
  }
  bool ReadFile(const std::string& path, std::string* content,
                std::string* error) override {
    return target_->ReadFile(path, content, error);
  }
  bool RemoveFile(const std::string& path) override {
    return target_->RemoveFile(path);
  }
  bool FileExists(const std::string& path) override {
    return target_->FileExists(path);
  }
  bool CreateDir(const std::string& path, int mode, std::string* error) override {
    return target_->CreateDir(path, mode, error);
  }
  bool ListDir(const std::string& path, std::vector<std::string>* names,
               std::string* error) override {
    return target_->ListDir(path, names, error);
  }
  int64_t NowMicros() override { return target_->NowMicros(); }
  void LocalTime(std::time_t when, std::tm* out) override {
    target_->LocalTime(when, out);
  }
  void SleepMs(int64_t ms) override { target_->SleepMs(ms); }
  bool GetSetting(const std::string& section, const std::string& key,
                  std::string* value) override {
    return target_->GetSetting(section, key, value);
  }
  std::string TempDirectory() override { return target_->TempDirectory(); }
  bool GetDirectory(const std::string& name, std::string* dir) override {
    return target_->GetDirectory(name, dir);
  }
  std::string HostName() override { return target_->HostName(); }
  unsigned int PlatformType() override { return target_->PlatformType(); }
  bool ClientName(std::string* name) override { return target_->ClientName(name); }
  void Log(const LogRecord& record) override { target_->Log(record); }
  HostDatabase* Database() override { return target_->Database(); }
  HostSystem* System() override { return target_->System(); }
  bool OpenScsiDevice(const std::string& path, std::unique_ptr<ScsiDevice>* device,
                      std::string* error) override {
    return target_->OpenScsiDevice(path, device, error);
  }
  bool RunRemote(const std::string& client, const std::string& request,
                 std::string* response, std::string* error) override {
    return target_->RunRemote(client, request, response, error);
  }

 private:
  Env* target_;
};

}  // namespace hostrt
