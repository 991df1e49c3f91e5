// USB printers on Linux: the kernel's USB printer class devices (usbmisc,
// /dev/usb/lpN) listed and watched with libudev. The node is opened
// non-blocking and every wait is a poll() on the node and on a wake pipe, so
// Interrupt ends any wait at once, as for serial devices.
//
// Each call makes its own udev context: libudev objects may not be shared
// between threads, and a listing is rare enough that the context costs nothing.
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <optional>
#include <thread>

#include "platform/trace.h"
#include "platform/usb.h"

namespace qz381::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPrinterSubsystem = "usbmisc";
constexpr const char* kPrinterInterfaceClass = "07";

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

bool ParseHex16(const char* text, uint16_t* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 16);
  if (*end != '\0' || value > 0xFFFF) return false;
  *out = static_cast<uint16_t>(value);
  return true;
}

// What a usbmisc device is, when it is a printer interface with a node;
// `chain` gets the USB port chain it is plugged into.
std::optional<UsbPrinterInfo> PrinterInfoOf(udev_device* device, std::string* chain = nullptr) {
  const char* node = udev_device_get_devnode(device);
  if (!node) return std::nullopt;
  // Parents belong to the child: not unreferenced here.
  udev_device* interface =
      udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface");
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  if (!interface || !usb) return std::nullopt;
  const char* klass = udev_device_get_sysattr_value(interface, "bInterfaceClass");
  if (!klass || std::strcmp(klass, kPrinterInterfaceClass) != 0) return std::nullopt;
  UsbPrinterInfo info;
  if (!ParseHex16(udev_device_get_sysattr_value(usb, "idVendor"), &info.vendor) ||
      !ParseHex16(udev_device_get_sysattr_value(usb, "idProduct"), &info.product)) {
    return std::nullopt;
  }
  if (const char* serial = udev_device_get_sysattr_value(usb, "serial")) info.serial = serial;
  const char* sysname = udev_device_get_sysname(usb);
  info.node = node;
  info.path = UsbInterfacePath(info.vendor, info.product, info.serial, sysname ? sysname : "");
  if (chain) *chain = sysname ? sysname : "";
  return info;
}

// Printers of one product that report the same serial number (cheap printers
// often carry one number for a whole batch) would share a path, and the second
// could never be opened by it: each of them is named by its socket instead, as
// a printer without a serial number is.
void NameTwinsBySocket(std::vector<UsbPrinterInfo>& printers,
                       const std::map<std::string, std::string>& chain_of_node) {
  std::map<std::string, int> uses;
  for (const UsbPrinterInfo& p : printers) ++uses[p.path];
  for (UsbPrinterInfo& p : printers) {
    if (uses[p.path] < 2) continue;
    Trace("USB printers: %s is not the only printer with serial number '%s'; named by its socket",
          p.node.c_str(), p.serial.c_str());
    p.path = UsbInterfacePath(p.vendor, p.product, "", chain_of_node.at(p.node));
  }
}

Status ListPrinters(std::vector<UsbPrinterInfo>* out) {
  out->clear();
  UdevPtr<udev> context(udev_new());
  if (!context) return Status::Fail(Outcome::kIoError, "USB printers: no udev context", errno);
  UdevPtr<udev_enumerate> listing(udev_enumerate_new(context.get()));
  if (!listing || udev_enumerate_add_match_subsystem(listing.get(), kPrinterSubsystem) < 0 ||
      udev_enumerate_scan_devices(listing.get()) < 0) {
    return Status::Fail(Outcome::kIoError, "USB printers: cannot list usbmisc devices", errno);
  }
  std::map<std::string, std::string> chain_of_node;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(listing.get())) {
    UdevPtr<udev_device> device(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!device) continue;  // gone between the scan and now
    std::string chain;
    if (auto info = PrinterInfoOf(device.get(), &chain)) {
      chain_of_node[info->node] = chain;
      out->push_back(std::move(*info));
    }
  }
  NameTwinsBySocket(*out, chain_of_node);
  // lp2 before lp10: by node length, then by text.
  std::sort(out->begin(), out->end(), [](const UsbPrinterInfo& a, const UsbPrinterInfo& b) {
    return a.node.size() != b.node.size() ? a.node.size() < b.node.size() : a.node < b.node;
  });
  return Status::Ok();
}

bool SamePath(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

int PollTimeout(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

Clock::time_point DeadlineAfter(uint32_t timeout_ms) {
  // kInfinite and its neighbours: a month is as good as for ever here.
  return Clock::now() + std::chrono::milliseconds(std::min<uint32_t>(timeout_ms, 0x7FFFFFFF));
}

// A node error that means the printer is no longer there.
bool Gone(int error) {
  return error == ENODEV || error == ENXIO || error == EIO || error == EPIPE || error == ENOENT;
}

class WakePipe {
 public:
  bool Open() {
    if (::pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    return true;
  }
  ~WakePipe() {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  void Wake() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(fds_[1], &byte, 1);
  }
  int read_fd() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
};

class PosixUsbDevice final : public UsbDevice {
 public:
  PosixUsbDevice(std::string path, std::string node, int fd, std::unique_ptr<WakePipe> wake)
      : path_(std::move(path)), node_(std::move(node)), fd_(fd), wake_(std::move(wake)) {}
  ~PosixUsbDevice() override { ::close(fd_); }

  Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) override {
    *got = 0;
    const auto deadline = DeadlineAfter(timeout_ms);
    for (;;) {
      if (interrupted_.load(std::memory_order_acquire)) return Status::Ok();
      const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
      if (n > 0) {
        *got = static_cast<size_t>(n);
        return Status::Ok();
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Errno("read", errno);
      // A printer node with nothing to say reads 0 (usblp) or EAGAIN: wait.
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_->read_fd(), POLLIN, 0}};
      const int ready = ::poll(fds, 2, PollTimeout(deadline));
      if (ready < 0 && errno != EINTR) return Errno("poll", errno);
      if (fds[0].revents & (POLLERR | POLLNVAL)) return Errno("read", ENODEV);
      if (fds[0].revents & POLLHUP && !(fds[0].revents & POLLIN)) return Errno("read", ENODEV);
      if (ready == 0) return Status::Ok();
      // usblp polls readable without data while the printer holds none back:
      // without this pause such a node would spin until the time-out.
      if (n == 0 && fds[0].revents & POLLIN) {
        pollfd wake = {wake_->read_fd(), POLLIN, 0};
        ::poll(&wake, 1, std::min(PollTimeout(deadline), 10));
      }
      if (Clock::now() >= deadline) return Status::Ok();
    }
  }

  Status Write(std::span<const uint8_t> data, uint32_t timeout_ms, size_t* written) override {
    *written = 0;
    const auto deadline = DeadlineAfter(timeout_ms);
    while (*written < data.size()) {
      if (interrupted_.load(std::memory_order_acquire)) {
        return Status::Fail(Outcome::kIoError, path_ + ": write interrupted");
      }
      const ssize_t n = ::write(fd_, data.data() + *written, data.size() - *written);
      if (n > 0) {
        *written += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Errno("write", errno);
      if (Clock::now() >= deadline) {
        return Status::Fail(Outcome::kTimedOut, path_ + ": write time-out after " +
                                                    std::to_string(*written) + " of " +
                                                    std::to_string(data.size()) + " bytes");
      }
      pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_->read_fd(), POLLIN, 0}};
      if (::poll(fds, 2, PollTimeout(deadline)) < 0 && errno != EINTR) return Errno("poll", errno);
      if (fds[0].revents & (POLLERR | POLLNVAL | POLLHUP)) return Errno("write", ENODEV);
    }
    return Status::Ok();
  }

  void Interrupt() override {
    interrupted_.store(true, std::memory_order_release);
    wake_->Wake();
  }
  const std::string& path() const override { return path_; }
  const std::string& node() const override { return node_; }

 private:
  Status Errno(const char* operation, int error) const {
    return Status::Fail(Gone(error) ? Outcome::kNotFound : Outcome::kIoError,
                        path_ + " (" + node_ + "): " + operation + ": " + std::strerror(error),
                        error);
  }

  const std::string path_;
  const std::string node_;
  const int fd_;
  std::unique_ptr<WakePipe> wake_;
  std::atomic<bool> interrupted_{false};
};

class UdevWatch final : public UsbWatch {
 public:
  UdevWatch(std::function<void()> changed) : changed_(std::move(changed)) {}
  ~UdevWatch() override {
    stop_.store(true, std::memory_order_release);
    wake_.Wake();
    if (thread_.joinable()) thread_.join();
  }

  Status Start() {
    if (!wake_.Open()) return Status::Fail(Outcome::kIoError, "USB watch: wake pipe", errno);
    context_.reset(udev_new());
    if (context_) monitor_.reset(udev_monitor_new_from_netlink(context_.get(), "udev"));
    if (!monitor_ ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), kPrinterSubsystem,
                                                        nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_.get()) < 0) {
      return Status::Fail(Outcome::kIoError, "USB watch: no udev monitor", errno);
    }
    // A removed device can no longer be asked for its parents: remember the
    // paths of the printers there are now, and of each one that arrives.
    std::vector<UsbPrinterInfo> now;
    if (ListPrinters(&now).ok()) {
      for (const auto& info : now) paths_[info.node] = info.path;
    }
    thread_ = std::thread(&UdevWatch::Run, this);
    return Status::Ok();
  }

  std::vector<UsbChangeNote> Take() override { return notes_.Take(); }
  bool Overflowed() override { return notes_.Overflowed(); }

 private:
  void Run() {
    const int monitor_fd = udev_monitor_get_fd(monitor_.get());
    while (!stop_.load(std::memory_order_acquire)) {
      pollfd fds[2] = {{monitor_fd, POLLIN, 0}, {wake_.read_fd(), POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
        Trace("USB watch: poll failed: %s; no more changes are reported", std::strerror(errno));
        return;
      }
      if (!(fds[0].revents & POLLIN)) continue;
      UdevPtr<udev_device> device(udev_monitor_receive_device(monitor_.get()));
      if (!device) continue;
      const char* action = udev_device_get_action(device.get());
      const char* node = udev_device_get_devnode(device.get());
      if (!action || !node) continue;
      UsbChangeNote note;
      note.node = node;
      if (std::strcmp(action, "add") == 0) {
        const auto info = PrinterInfoOf(device.get());
        if (!info) continue;  // a usbmisc device that is not a printer
        paths_[info->node] = info->path;
        note.change = UsbChange::kArrival;
        note.path = info->path;
      } else if (std::strcmp(action, "remove") == 0) {
        const auto known = paths_.find(note.node);
        if (known != paths_.end()) {
          note.path = known->second;
          paths_.erase(known);
        }
        note.change = UsbChange::kRemoval;
      } else {
        continue;
      }
      if (notes_.Push(std::move(note))) changed_();
    }
  }

  std::function<void()> changed_;
  WakePipe wake_;
  UdevPtr<udev> context_;  // the watch thread's alone once it runs
  UdevPtr<udev_monitor> monitor_;
  std::map<std::string, std::string> paths_;  // node -> path
  UsbNoteQueue notes_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class UdevUsbPrinters final : public UsbPrinters {
 public:
  Status Enumerate(std::vector<UsbPrinterInfo>* out) override { return ListPrinters(out); }

  std::unique_ptr<UsbDevice> Open(std::string_view path, Status* status) override {
    std::vector<UsbPrinterInfo> printers;
    Status listed = ListPrinters(&printers);
    if (!listed.ok()) return Fail<UsbDevice>(status, std::move(listed));
    const auto found = std::find_if(printers.begin(), printers.end(), [&](const UsbPrinterInfo& p) {
      return SamePath(p.path, path);
    });
    if (found == printers.end()) {
      return Fail<UsbDevice>(
          status, Status::Fail(Outcome::kNotFound,
                               "USB printer '" + std::string(path) + "' is not attached"));
    }
    const std::string label = found->path + " (" + found->node + ")";
    const int fd = ::open(found->node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      const Outcome outcome = Gone(error)      ? Outcome::kNotFound
                              : error == EBUSY ? Outcome::kBusy
                                               : Outcome::kIoError;
      return Fail<UsbDevice>(
          status, Status::Fail(outcome, label + ": open: " + std::strerror(error), error));
    }
    // One holder at a time, as on Windows (the kernel's printer driver also
    // refuses a second open; the emulated nodes of tests do not).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      return Fail<UsbDevice>(status,
                             Status::Fail(error == EWOULDBLOCK ? Outcome::kBusy : Outcome::kIoError,
                                          label + ": in use", error));
    }
    auto wake = std::make_unique<WakePipe>();
    if (!wake->Open()) {
      const int error = errno;
      ::close(fd);
      return Fail<UsbDevice>(status, Status::Fail(Outcome::kIoError, label + ": wake pipe", error));
    }
    if (status) *status = Status::Ok();
    return std::make_unique<PosixUsbDevice>(found->path, found->node, fd, std::move(wake));
  }

  std::unique_ptr<UsbWatch> Watch(std::function<void()> changed, Status* status) override {
    auto watch = std::make_unique<UdevWatch>(std::move(changed));
    Status started = watch->Start();
    if (!started.ok()) return Fail<UsbWatch>(status, std::move(started));
    if (status) *status = Status::Ok();
    return watch;
  }

 private:
  template <typename T>
  static std::unique_ptr<T> Fail(Status* out, Status status) {
    if (out) *out = std::move(status);
    return nullptr;
  }
};

}  // namespace

UsbPrinters& DefaultUsbPrinters() {
  static UdevUsbPrinters printers;
  return printers;
}

}  // namespace qz381::platform
