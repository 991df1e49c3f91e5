// USB printers on Windows: the USB printer interface class listed with
// SetupAPI, each printer opened by the system's interface path (usb_device_win32.cpp),
// and arrivals and removals heard through RegisterDeviceNotification on a
// message window of the watch's own thread.
//
// The paths handed out are this system's stable printer paths (usb.h), the
// same on every platform: the serial number as hex digits, so that no serial
// number can put "COM" into a port name. The system's own interface path is
// the node that Open opens.
#include "platform/win32/usb_win32.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "platform/msgwindow.h"
#include "platform/sync.h"
#include "platform/system_version.h"
#include "platform/trace.h"
#include "platform/win32/win32_text.h"

namespace qz381::platform {
namespace win32 {

const GUID kUsbPrintInterfaceGuid = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

UsbCalls& Win32UsbCalls() {
  static UsbCalls calls = {
      ::SetupDiGetClassDevsA,
      ::SetupDiEnumDeviceInterfaces,
      ::SetupDiGetDeviceInterfaceDetailA,
      ::SetupDiDestroyDeviceInfoList,
      ::RegisterDeviceNotificationA,
      ::UnregisterDeviceNotification,
      ::CreateFileA,
      ::CloseHandle,
      ::ReadFile,
      ::WriteFile,
      ::GetOverlappedResult,
      ::CancelIo,
      ::GetLastError,
  };
  return calls;
}

namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool ParseHex16(std::string_view text, uint16_t* out) {
  if (text.size() != 4 || !std::all_of(text.begin(), text.end(), IsHexDigit)) return false;
  uint16_t value = 0;
  for (const char c : text) {
    value = static_cast<uint16_t>(value * 16 + (c <= '9' ? c - '0' : c - 'A' + 10));
  }
  *out = value;
  return true;
}

// Sixteen hex digits that stand for `text` (FNV-1a): a stable name part that
// cannot spell "COM", for instances that are too long or not plain.
std::string Digest(std::string_view text) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) out[static_cast<size_t>(i)] = kDigits[hash & 0xF];
  return out;
}

}  // namespace

std::optional<UsbPrinterInfo> PrinterFromInterfacePath(std::string_view system_path) {
  // \\?\USB#VID_vvvv&PID_pppp then '#' or "&MI_nn#": vendor at 12, product at 21.
  constexpr std::string_view kHead = "\\\\?\\USB#VID_";
  const std::string node = Upper(system_path);
  if (node.size() < 26 || node.compare(0, kHead.size(), kHead) != 0 ||
      node.compare(16, 5, "&PID_") != 0 || (node[25] != '#' && node[25] != '&')) {
    return std::nullopt;
  }
  UsbPrinterInfo info;
  if (!ParseHex16(std::string_view(node).substr(12, 4), &info.vendor) ||
      !ParseHex16(std::string_view(node).substr(21, 4), &info.product)) {
    return std::nullopt;
  }
  const size_t instance_at = node.find('#', 25) + 1;  // 0 when there is none
  const size_t instance_end = instance_at ? node.find('#', instance_at) : std::string::npos;
  if (instance_end == std::string::npos || instance_end == instance_at ||
      std::string_view(node).substr(instance_end + 1) != kUsbPrintInterfaceClass) {
    return std::nullopt;
  }
  const std::string instance = node.substr(instance_at, instance_end - instance_at);
  // The system makes up an instance for a printer without a serial number
  // from where it is plugged in ("6&1A2B3C4D&0&1"); a serial number has no '&'.
  std::string chain;
  if (instance.find('&') == std::string::npos) {
    info.serial = instance;
    chain = Digest(instance);  // only when the serial number is too long for a path
  } else {
    const bool plain = std::all_of(instance.begin(), instance.end(),
                                   [](char c) { return c == '&' || IsHexDigit(c); });
    chain = plain ? instance : Digest(instance);
  }
  info.node = node;
  info.path = UsbInterfacePath(info.vendor, info.product, info.serial, chain);
  return info;
}

std::optional<UsbChangeNote> NoteFromDeviceChange(WPARAM event, LPARAM data) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return std::nullopt;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  constexpr size_t kNameAt = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
      header->dbch_size <= kNameAt) {
    return std::nullopt;
  }
  const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header);
  if (!IsEqualGUID(record->dbcc_classguid, kUsbPrintInterfaceGuid)) return std::nullopt;
  const char* name = reinterpret_cast<const char*>(header) + kNameAt;
  const auto info =
      PrinterFromInterfacePath(std::string_view(name, strnlen(name, header->dbch_size - kNameAt)));
  if (!info) return std::nullopt;
  UsbChangeNote note;
  note.change = event == DBT_DEVICEARRIVAL ? UsbChange::kArrival : UsbChange::kRemoval;
  note.path = info->path;
  note.node = info->node;
  return note;
}

}  // namespace win32

namespace {

using win32::UsbCalls;

// A system that keeps failing for one index and never says "no more" ends here.
constexpr DWORD kMaxInterfaces = 1024;
constexpr DWORD kMaxDetailSize = 4096;

// The system's path of one listed interface.
bool InterfacePath(UsbCalls& calls, HDEVINFO set, SP_DEVICE_INTERFACE_DATA* entry,
                   std::string* path) {
  constexpr size_t kPathAt = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  DWORD size = 0;
  calls.SetupDiGetDeviceInterfaceDetailA(set, entry, nullptr, 0, &size, nullptr);
  if (size <= kPathAt || size > kMaxDetailSize) return false;
  std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD));  // aligned
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!calls.SetupDiGetDeviceInterfaceDetailA(set, entry, detail, size, nullptr, nullptr)) {
    return false;
  }
  const char* text = reinterpret_cast<const char*>(storage.data()) + kPathAt;
  *path = std::string(text, strnlen(text, size - kPathAt));
  return true;
}

Status ListPrinters(std::vector<UsbPrinterInfo>* out) {
  out->clear();
  UsbCalls& calls = win32::Win32UsbCalls();
  const GUID* klass = &win32::kUsbPrintInterfaceGuid;
  HDEVINFO set =
      calls.SetupDiGetClassDevsA(klass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    const DWORD error = calls.GetLastError();
    return Status::Fail(
        Outcome::kIoError,
        "USB printers: cannot list the printer interfaces: " + win32::ErrorText(error),
        static_cast<int>(error));
  }
  for (DWORD index = 0; index < kMaxInterfaces; ++index) {
    SP_DEVICE_INTERFACE_DATA entry = {};
    entry.cbSize = sizeof entry;
    if (!calls.SetupDiEnumDeviceInterfaces(set, nullptr, klass, index, &entry)) {
      const DWORD error = calls.GetLastError();
      if (error == ERROR_NO_MORE_ITEMS) break;
      Trace("USB printers: interface %lu skipped: %s", static_cast<unsigned long>(index),
            win32::ErrorText(error).c_str());
      continue;
    }
    std::string path;
    if (!InterfacePath(calls, set, &entry, &path)) {
      Trace("USB printers: interface %lu has no path", static_cast<unsigned long>(index));
      continue;
    }
    if (auto info = win32::PrinterFromInterfacePath(path)) out->push_back(std::move(*info));
  }
  calls.SetupDiDestroyDeviceInfoList(set);
  std::sort(out->begin(), out->end(),
            [](const UsbPrinterInfo& a, const UsbPrinterInfo& b) { return a.node < b.node; });
  return Status::Ok();
}

bool SamePath(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

class Win32UsbWatch final : public UsbWatch {
 public:
  explicit Win32UsbWatch(std::function<void()> changed) : changed_(std::move(changed)) {}
  ~Win32UsbWatch() override {
    stop_.store(true, std::memory_order_release);
    if (queue_) WakeThread(queue_);
    if (thread_.joinable()) thread_.join();
  }

  // Answers once the window is registered (or could not be).
  Status Start() {
    std::promise<Status> started;
    std::future<Status> result = started.get_future();
    thread_ = std::thread(&Win32UsbWatch::Run, this, &started);
    return result.get();
  }

  std::vector<UsbChangeNote> Take() override { return notes_.Take(); }
  bool Overflowed() override { return notes_.Overflowed(); }

 private:
  void Run(std::promise<Status>* started) {
    UsbCalls& calls = win32::Win32UsbCalls();
    auto window =
        MessageWindow::Create("QZ381UsbWatch", [this](const Message& m) { return OnMessage(m); });
    if (!window) {
      started->set_value(win32::Fail(::GetLastError(), "USB watch: message window"));
      return;
    }
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = win32::kUsbPrintInterfaceGuid;
    HDEVNOTIFY registration = calls.RegisterDeviceNotificationA(
        reinterpret_cast<HWND>(window->handle()), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!registration) {
      const DWORD error = calls.GetLastError();
      started->set_value(Status::Fail(
          Outcome::kIoError, "USB watch: device notification refused: " + win32::ErrorText(error),
          static_cast<int>(error)));
      return;
    }
    queue_ = CurrentThreadQueue();
    started->set_value(Status::Ok());
    while (!stop_.load(std::memory_order_acquire)) WaitAndPumpMessages(kInfinite);
    calls.UnregisterDeviceNotification(registration);
  }

  // The system sends the change (its record lives for the call). The answer
  // stays the default one: nothing is refused.
  bool OnMessage(const Message& m) {
    if (m.msg != WM_DEVICECHANGE) return false;
    auto note =
        win32::NoteFromDeviceChange(static_cast<WPARAM>(m.wparam), static_cast<LPARAM>(m.lparam));
    if (note && notes_.Push(std::move(*note))) changed_();
    return false;
  }

  std::function<void()> changed_;
  UsbNoteQueue notes_;
  std::atomic<bool> stop_{false};
  std::shared_ptr<ThreadQueue> queue_;  // set before Start returns
  std::thread thread_;
};

class Win32UsbPrinters final : public UsbPrinters {
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
    return win32::OpenUsbDevice(*found, status);
  }

  std::unique_ptr<UsbWatch> Watch(std::function<void()> changed, Status* status) override {
    auto watch = std::make_unique<Win32UsbWatch>(std::move(changed));
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
  static Win32UsbPrinters printers;
  return printers;
}

bool IsWin9x() {
  return IsWin9xVersion(static_cast<uint32_t>(::GetVersion()));
}

}  // namespace qz381::platform
