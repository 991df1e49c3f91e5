#pragma once
// Test equipment: the far end of a pseudo-terminal, standing in for a printer on
// a serial line, for tests of code that opens the other end as a serial port.
// POSIX directly, as test equipment may; product code goes through platform/.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qz381::test_equipment {

class PtyPeer {
 public:
  PtyPeer() {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0) return;
    if (::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
      Close();
      return;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    slave_ = ::ptsname(fd_);
  }
  ~PtyPeer() { Close(); }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool ok() const { return fd_ >= 0; }
  // The device node the code under test opens.
  const std::string& slave_path() const { return slave_; }

  // True when every byte went out.
  bool Write(const void* data, size_t size) {
    return fd_ >= 0 && ::write(fd_, data, size) == static_cast<ssize_t>(size);
  }
  // Waits up to timeout_ms for bytes, then reads what is there (at most `capacity`);
  // 0 when nothing came.
  size_t Read(uint8_t* buffer, size_t capacity, int timeout_ms) {
    if (fd_ < 0) return 0;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0 || !(p.revents & POLLIN)) return 0;
    const ssize_t n = ::read(fd_, buffer, capacity);
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
  // Hangs up: the line looks unplugged from the other end.
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  std::string slave_;
};

inline void SetEnvironment(const char* name, const std::string& value) {
  ::setenv(name, value.c_str(), 1);
}

}  // namespace qz381::test_equipment
