// One run per output folder: a run holds an advisory lock on the file
// .quorvane.lock in its folder from the start of its writing to its end, so
// that two runs can never mix their files in one folder. The kernel drops
// the lock when the process ends, however it ends, so a run that dies
// leaves nothing that blocks the next one; the empty file itself stays.
#pragma once

#include <string>

namespace quorvane::cli {

// The name of the lock file in an output folder.
inline constexpr const char* kLockFileName = ".quorvane.lock";

class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Takes the lock of `folder` (which exists). When another run holds it:
  // without `wait`, false at once with a message naming the folder and
  // --wait; with `wait`, waits until that run ends, giving up (false, with
  // `error` empty) when this run is interrupted meanwhile (cli/interrupt.h).
  // False with the cause when the lock file cannot be made.
  bool acquire(const std::string& folder, bool wait, std::string& error);

 private:
  int fd_ = -1;
};

}  // namespace quorvane::cli
