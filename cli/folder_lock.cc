#include "cli/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "cli/interrupt.h"

namespace quorvane::cli {

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool FolderLock::acquire(const std::string& folder, bool wait, std::string& error) {
  const std::string path = folder + "/" + kLockFileName;
  // Close-on-exec: a plotting or helper process started later must not keep
  // the folder locked after this run ends.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    error = "--out: cannot make the lock file " + path + ": " + std::strerror(errno);
    return false;
  }
  // flock locks belong to the open file, so the kernel releases them when
  // the process ends, even by kill -9. Waiting polls instead of blocking so
  // that an interrupt ends the wait at once.
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int cause = errno;
    if (cause == EINTR) continue;
    if (cause != EWOULDBLOCK) {
      ::close(fd);
      error = "--out: cannot lock " + path + ": " + std::strerror(cause);
      return false;
    }
    if (!wait) {
      ::close(fd);
      error = "--out: the folder " + folder +
              " is in use by another run; give another --out, or --wait to start when that run "
              "ends";
      return false;
    }
    if (interruption() != 0) {
      ::close(fd);
      error.clear();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  fd_ = fd;
  return true;
}

}  // namespace quorvane::cli
