#pragma once
// POSIX helpers shared by the backend's files and the registry store.
#include <string>

#include "platform/status.h"

namespace qz381::platform::posix {

// Reads from `fd` until end of file; `path` only names the file in the error.
Status ReadAll(int fd, const std::string& path, std::string* out);

// The directory part of `path`: "." for a bare file name, "/" for a file in the root.
std::string ParentDirectory(const std::string& path);

// Closes a descriptor when it goes out of scope.
class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd();
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace qz381::platform::posix
