// Serial devices on termios. The device node is opened non-blocking and every
// wait is a poll() on the node and on a wake pipe, so Interrupt can end any wait
// at once: the reader thread of a port blocks here, and closing the port must not
// depend on the printer sending something.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>

#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/trace.h"

namespace qz381::platform {
namespace {

using Clock = std::chrono::steady_clock;

std::string ErrnoText(int error) {
  return std::strerror(error);
}

std::optional<speed_t> SpeedOf(uint32_t baud) {
  switch (baud) {
    case 50:
      return B50;
    case 75:
      return B75;
    case 110:
      return B110;
    case 134:
      return B134;
    case 150:
      return B150;
    case 200:
      return B200;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
#ifdef B460800
    case 460800:
      return B460800;
#endif
#ifdef B921600
    case 921600:
      return B921600;
#endif
    default:
      return std::nullopt;
  }
}

// Milliseconds left until `deadline` as poll() takes them; -1 without deadline.
int PollTimeout(const std::optional<Clock::time_point>& deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

std::optional<Clock::time_point> DeadlineAfter(uint32_t timeout_ms) {
  if (timeout_ms == 0xFFFFFFFFu) return std::nullopt;
  return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

class PosixSerialDevice final : public SerialDevice {
 public:
  PosixSerialDevice(std::string name, int fd, int wake_read, int wake_write)
      : name_(std::move(name)), fd_(fd), wake_read_(wake_read), wake_write_(wake_write) {}
  ~PosixSerialDevice() override {
    ::close(fd_);  // also drops the flock
    ::close(wake_read_);
    ::close(wake_write_);
  }

  Status Configure(const SerialLineSettings& settings) override {
    const std::optional<speed_t> speed = SpeedOf(settings.baudRate);
    if (!speed) return Invalid("baud rate " + std::to_string(settings.baudRate));
    tcflag_t size = 0;
    switch (settings.byteSize) {
      case 5:
        size = CS5;
        break;
      case 6:
        size = CS6;
        break;
      case 7:
        size = CS7;
        break;
      case 8:
        size = CS8;
        break;
      default:
        return Invalid("byte size " + std::to_string(settings.byteSize));
    }
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return Errno("tcgetattr", errno);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD);
#ifdef CMSPAR
    tio.c_cflag &= ~CMSPAR;
#endif
#ifdef CRTSCTS
    tio.c_cflag &= ~CRTSCTS;
#endif
    tio.c_cflag |= size | CLOCAL | CREAD;
    switch (settings.stopBits) {
      case StopBits::kOne:
        break;
      // termios has no one and a half; the UART sends two, which a receiver
      // expecting one and a half accepts.
      case StopBits::kOneAndHalf:
      case StopBits::kTwo:
        tio.c_cflag |= CSTOPB;
        break;
      default:
        return Invalid("stop-bit code " + std::to_string(int(settings.stopBits)));
    }
    switch (settings.parity) {
      case Parity::kNone:
        break;
      case Parity::kOdd:
        tio.c_cflag |= PARENB | PARODD;
        break;
      case Parity::kEven:
        tio.c_cflag |= PARENB;
        break;
#ifdef CMSPAR
      case Parity::kMark:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
      case Parity::kSpace:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
#endif
      default:
        return Invalid("parity code " + std::to_string(int(settings.parity)));
    }
    if (settings.ctsFlow) {
#ifdef CRTSCTS
      tio.c_cflag |= CRTSCTS;
#else
      return Status::Fail(Outcome::kUnsupported, name_ + ": CTS flow control");
#endif
    }
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, *speed);
    ::cfsetospeed(&tio, *speed);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return Errno("tcsetattr", errno);
    dsr_flow_.store(settings.dsrFlow, std::memory_order_relaxed);
    return Status::Ok();
  }

  Status SetTimeouts(const SerialTimeouts& timeouts) override {
    write_multiplier_.store(timeouts.writeTotalMultiplier, std::memory_order_relaxed);
    write_constant_.store(timeouts.writeTotalConstant, std::memory_order_relaxed);
    return Status::Ok();
  }

  Status Purge(unsigned flags) override {
    const bool in = flags & kPurgeInput, out = flags & kPurgeOutput;
    if (!in && !out) return Status::Ok();
    const int queue = in && out ? TCIOFLUSH : in ? TCIFLUSH : TCOFLUSH;
    if (::tcflush(fd_, queue) != 0) return Errno("tcflush", errno);
    return Status::Ok();
  }

  Status GetModemLines(ModemLines* out) override {
    int bits = 0;
    if (::ioctl(fd_, TIOCMGET, &bits) != 0) {
      const int error = errno;
      // A pseudo-terminal has no modem lines and says so with EINVAL or ENOTTY.
      const Outcome outcome =
          error == EINVAL || error == ENOTTY ? Outcome::kUnsupported : Outcome::kIoError;
      return Status::Fail(outcome, name_ + ": modem lines: " + ErrnoText(error), error);
    }
    out->cts = bits & TIOCM_CTS;
    out->dsr = bits & TIOCM_DSR;
    out->ring = bits & TIOCM_RNG;
    out->rlsd = bits & TIOCM_CAR;
    return Status::Ok();
  }

  Status InputWaiting(size_t* count) override {
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) return Errno("FIONREAD", errno);
    *count = waiting > 0 ? static_cast<size_t>(waiting) : 0;
    return Status::Ok();
  }

  SerialWait WaitInput(uint32_t timeout_ms) override {
    const auto deadline = DeadlineAfter(timeout_ms);
    for (;;) {
      if (Interrupted()) return SerialWait::kInterrupted;
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
      const int n = ::poll(fds, 2, PollTimeout(deadline));
      if (n < 0) {
        if (errno == EINTR) continue;
        return SerialWait::kFailed;
      }
      if (fds[1].revents != 0 || Interrupted()) return SerialWait::kInterrupted;
      // A hung-up terminal polls readable but reads end-of-file: only bytes
      // that really wait count as input then.
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        size_t waiting = 0;
        return InputWaiting(&waiting).ok() && waiting > 0 ? SerialWait::kReady
                                                          : SerialWait::kFailed;
      }
      if (fds[0].revents & POLLIN) return SerialWait::kReady;
      if (n == 0) return SerialWait::kTimedOut;
    }
  }

  Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) override {
    *got = 0;
    if (buffer.empty()) return Status::Ok();
    switch (WaitInput(timeout_ms)) {
      case SerialWait::kTimedOut:
      case SerialWait::kInterrupted:
        return Status::Ok();
      case SerialWait::kFailed:
        return Errno("read", EIO);
      case SerialWait::kReady:
        break;
    }
    for (;;) {
      const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
      if (n > 0) {
        *got = static_cast<size_t>(n);
        return Status::Ok();
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return Status::Ok();
      return Errno("read", errno);
    }
  }

  Status Write(std::span<const uint8_t> data, size_t* written) override {
    *written = 0;
    const uint64_t limit =
        uint64_t{write_multiplier_.load(std::memory_order_relaxed)} * data.size() +
        write_constant_.load(std::memory_order_relaxed);
    const std::optional<Clock::time_point> deadline =
        limit == 0 ? std::nullopt : std::optional(Clock::now() + std::chrono::milliseconds(limit));
    while (*written < data.size()) {
      if (Interrupted()) return Status::Fail(Outcome::kIoError, name_ + ": write interrupted");
      if (dsr_flow_.load(std::memory_order_relaxed) && !DsrAllowsOutput()) {
        // termios knows no DSR flow control: hold the output here while the
        // other side keeps DSR low, looking again every few milliseconds.
        if (deadline && Clock::now() >= *deadline) return TimedOut(*written, data.size());
        PollWake(deadline ? std::min(PollTimeout(deadline), 5) : 5);
        continue;
      }
      const ssize_t n = ::write(fd_, data.data() + *written, data.size() - *written);
      if (n > 0) {
        *written += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Errno("write", errno);
      // The driver's queue is full (or CTS holds it): wait until it drains.
      if (deadline && Clock::now() >= *deadline) return TimedOut(*written, data.size());
      pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_read_, POLLIN, 0}};
      if (::poll(fds, 2, PollTimeout(deadline)) < 0 && errno != EINTR) return Errno("poll", errno);
      if (fds[0].revents & (POLLERR | POLLNVAL)) return Errno("write", EIO);
    }
    return Status::Ok();
  }

  void Interrupt() override {
    interrupted_.store(true, std::memory_order_release);
    const char byte = 1;
    // The pipe is non-blocking; when it is full it is already readable.
    [[maybe_unused]] const ssize_t ignored = ::write(wake_write_, &byte, 1);
  }
  bool Interrupted() const override {
    return interrupted_.load(std::memory_order_acquire);
  }
  const std::string& name() const override {
    return name_;
  }

 private:
  Status Invalid(const std::string& what) const {
    return Status::Fail(Outcome::kInvalidArgument, name_ + ": unusable " + what);
  }
  Status Errno(const char* operation, int error) const {
    return Status::Fail(Outcome::kIoError, name_ + ": " + operation + ": " + ErrnoText(error),
                        error);
  }
  Status TimedOut(size_t written, size_t total) const {
    return Status::Fail(Outcome::kTimedOut, name_ + ": write time-out after " +
                                                std::to_string(written) + " of " +
                                                std::to_string(total) + " bytes");
  }
  // A line that cannot report DSR is not held: it could never be released.
  bool DsrAllowsOutput() {
    ModemLines lines;
    return !GetModemLines(&lines).ok() || lines.dsr;
  }
  void PollWake(int timeout_ms) {
    pollfd fd = {wake_read_, POLLIN, 0};
    ::poll(&fd, 1, timeout_ms);
  }

  const std::string name_;
  const int fd_;
  const int wake_read_;
  const int wake_write_;
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> dsr_flow_{false};
  std::atomic<uint32_t> write_multiplier_{0};
  std::atomic<uint32_t> write_constant_{0};
};

class PosixSerialPorts final : public SerialPorts {
 public:
  // Null registry: DefaultRegistry() on every open, so QZ381_REGISTRY set after
  // start-up is honoured as everywhere else.
  explicit PosixSerialPorts(Registry* registry) : registry_(registry) {}

  std::unique_ptr<SerialDevice> Open(std::string_view name, Status* status) override {
    std::string node;
    Status resolved =
        ResolveSerialDeviceNode(registry_ ? *registry_ : DefaultRegistry(), name, &node);
    if (!resolved.ok()) return Fail(status, std::move(resolved));
    const std::string label = std::string(StripDevicePrefix(name)) + " (" + node + ")";

    const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      const Outcome outcome = error == ENOENT || error == ENODEV || error == ENXIO
                                  ? Outcome::kNotFound
                              : error == EBUSY ? Outcome::kBusy
                                               : Outcome::kIoError;
      return Fail(status, Status::Fail(outcome, label + ": open: " + ErrnoText(error), error));
    }
    // A serial port belongs to one holder at a time, as on Windows. The lock
    // covers other processes and other opens in this one; TIOCEXCL also keeps
    // out programs that do not take the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      const Outcome outcome = error == EWOULDBLOCK ? Outcome::kBusy : Outcome::kIoError;
      return Fail(status, Status::Fail(outcome, label + ": in use", error));
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
      const int error = errno;
      ::close(fd);
      return Fail(status,
                  Status::Fail(Outcome::kIoError,
                               label + ": not a serial device: " + ErrnoText(error), error));
    }
    ::ioctl(fd, TIOCEXCL);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
      const int error = errno;
      ::close(fd);
      return Fail(status, Status::Fail(Outcome::kIoError, label + ": raw mode: " + ErrnoText(error),
                                       error));
    }
    int wake[2];
    if (::pipe(wake) != 0) {
      const int error = errno;
      ::close(fd);
      return Fail(status, Status::Fail(Outcome::kIoError,
                                       label + ": wake pipe: " + ErrnoText(error), error));
    }
    for (int end : wake) {
      ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
      ::fcntl(end, F_SETFD, FD_CLOEXEC);
    }
    if (status) *status = Status::Ok();
    return std::make_unique<PosixSerialDevice>(label, fd, wake[0], wake[1]);
  }

 private:
  static std::unique_ptr<SerialDevice> Fail(Status* out, Status status) {
    if (out) *out = std::move(status);
    return nullptr;
  }
  Registry* registry_;
};

}  // namespace

SerialPorts& DefaultSerialPorts() {
  static PosixSerialPorts ports(nullptr);
  return ports;
}

std::unique_ptr<SerialPorts> NewSystemSerialPorts(Registry& registry) {
  return std::make_unique<PosixSerialPorts>(&registry);
}

}  // namespace qz381::platform
