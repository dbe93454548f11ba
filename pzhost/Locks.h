// Locks a job holds for its life, as flock(2) locks on small files under
// <home>/locks (never on a database file). The kernel drops them when the
// process ends however it ends, so a lock that can be taken names a job
// that is no longer running.
//   job-<id>.lock       held by the process running job <id>
//   snapshot-<id>.lock  held by the one job working on snapshot <id>;
//                       it holds a line naming that job
#pragma once

#include <string>

namespace pzhost {

class HeldLock {
 public:
  HeldLock() = default;
  ~HeldLock();
  HeldLock(HeldLock&& other) noexcept;
  HeldLock& operator=(HeldLock&& other) noexcept;
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

  // Takes the lock of `path` without waiting. False with `*busy` when
  // another process (or another lock of this one) holds it.
  static bool TryTake(const std::string& path, HeldLock* lock, bool* busy,
                      std::string* error);
  bool held() const { return fd_ >= 0; }
  // Replaces the lock file's text (who holds it).
  bool SetText(const std::string& text, std::string* error);
  // Releases the lock; with `remove` the file goes first, so nobody reads
  // a stale holder text from it.
  void Release(bool remove = false);

 private:
  int fd_ = -1;
  std::string path_;
};

std::string LocksDir(const std::string& homeDir);
std::string JobLockPath(const std::string& homeDir, long long jobId);
std::string SnapshotLockPath(const std::string& homeDir, int snapshotId);

// True when a live process holds the lock of `path` (a missing file is not
// held).
bool IsLockHeld(const std::string& path);
// The holder text of a lock file (empty when none).
std::string LockText(const std::string& path);

}  // namespace pzhost
