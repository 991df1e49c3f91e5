// The Win32 USB printer backend on swapped system calls: no USB under Wine, so
// SetupAPI lists the interfaces a test names, CreateFileA and the I/O calls
// answer as a test says, and device changes are sent to the watch's window as
// the system sends them.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/sync.h"
#include "platform/win32/usb_win32.h"

namespace qz381::platform {
namespace {

using win32::UsbCalls;

constexpr char kClass[] = "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
constexpr char kClassUpper[] = "#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}";

// --- interface paths ----------------------------------------------------------

TEST(UsbWin32Path, SystemPathsBecomeStablePrinterPaths) {
  struct Case {
    std::string system;
    uint16_t vendor, product;
    const char* serial;
    std::string path;
  };
  const Case cases[] = {
      {std::string("\\\\?\\usb#vid_3a81&pid_0381#a1b2c3") + kClass, 0x3A81, 0x0381, "A1B2C3",
       std::string("\\\\?\\USB#VID_3A81&PID_0381#413142324333") + kClassUpper},
      // Without a serial number the system's instance names the socket.
      {std::string("\\\\?\\USB#VID_3A81&PID_0381#6&2a3b4c5d&0&1") + kClass, 0x3A81, 0x0381, "",
       std::string("\\\\?\\USB#VID_3A81&PID_0381#&6&2A3B4C5D&0&1") + kClassUpper},
      // One interface of a composite device.
      {std::string("\\\\?\\usb#vid_04b8&pid_0e28&mi_00#7&1f2e3d4c&0&0000") + kClass, 0x04B8, 0x0E28,
       "", std::string("\\\\?\\USB#VID_04B8&PID_0E28#&7&1F2E3D4C&0&0000") + kClassUpper},
      // A serial number that spells "COM" must not route the printer to the
      // serial module.
      {std::string("\\\\?\\usb#vid_3a81&pid_0381#com12") + kClass, 0x3A81, 0x0381, "COM12",
       std::string("\\\\?\\USB#VID_3A81&PID_0381#434F4D3132") + kClassUpper},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.system);
    const auto info = win32::PrinterFromInterfacePath(c.system);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->path, c.path);
    EXPECT_EQ(info->vendor, c.vendor);
    EXPECT_EQ(info->product, c.product);
    EXPECT_EQ(info->serial, c.serial);
    std::string upper = c.system;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(info->node, upper);
  }
}

TEST(UsbWin32Path, ALongSerialNumberStillGivesAShortPathWithoutCom) {
  const std::string serial = std::string(120, 'C') + "OM";
  const auto info =
      win32::PrinterFromInterfacePath("\\\\?\\USB#VID_3A81&PID_0381#" + serial + kClassUpper);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->serial, serial);
  EXPECT_LE(info->path.size(), 259u);
  EXPECT_EQ(info->path.find("COM"), std::string::npos) << info->path;
  EXPECT_EQ(info->path.rfind("\\\\?\\USB#VID_3A81&PID_0381#&", 0), 0u) << info->path;
  // The same printer gets the same path each time.
  EXPECT_EQ(win32::PrinterFromInterfacePath(info->node)->path, info->path);
}

TEST(UsbWin32Path, OtherShapesAreNoPrinters) {
  const std::string rejected[] = {
      "",
      std::string("\\\\?\\ROOT#PRINTER#0000") + kClass,
      "\\\\?\\usb#vid_3a81&pid_0381#a1b2c3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
      std::string("\\\\?\\usb#vid_3g81&pid_0381#a1b2c3") + kClass,
      std::string("\\\\?\\usb#vid_3a81&pid_381#a1b2c3") + kClass,
      std::string("\\\\?\\usb#vid_3a81&pid_0381x#a1b2c3") + kClass,
      std::string("\\\\?\\usb#vid_3a81&pid_0381#") + kClass,
      "\\\\?\\usb#vid_3a81&pid_0381#a1b2c3",
      "\\\\?\\usb#vid_3a81&pid_0381",
  };
  for (const std::string& path : rejected) {
    EXPECT_FALSE(win32::PrinterFromInterfacePath(path).has_value()) << path;
  }
}

// --- swapped system calls -----------------------------------------------------

const HANDLE kFakeSet = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5E7));
const HANDLE kFakeDevice = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x4711));
const HDEVNOTIFY kFakeRegistration = reinterpret_cast<HDEVNOTIFY>(static_cast<uintptr_t>(0xD3));

// What the swapped calls do and saw; one test at a time.
struct Script {
  std::vector<std::string> interfaces;  // what SetupAPI lists, by index
  DWORD list_error = 0;                 // SetupDiGetClassDevsA fails with this
  DWORD skip_index = MAXDWORD;          // this index fails with ERROR_INVALID_DATA
  DWORD open_error = 0;                 // CreateFileA fails with this
  DWORD io_error = 0;                   // ReadFile/WriteFile fail with this
  bool pending = false;                 // I/O answers ERROR_IO_PENDING and never ends
  DWORD completes = 0;                  // bytes an I/O call gets through
  bool refuse_registration = false;
  DWORD last_error = 0;
  // Seen:
  DWORD list_flags = 0;
  int destroyed = 0;
  std::vector<std::string> opened;
  int cancelled = 0;
  HWND window = nullptr;
  DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
  int unregistered = 0;  // read after the watch's thread ended
};
Script g;

HDEVINFO WINAPI FakeGetClassDevs(const GUID* klass, PCSTR, HWND, DWORD flags) {
  g.list_flags = flags;
  if (g.list_error || !IsEqualGUID(*klass, win32::kUsbPrintInterfaceGuid)) {
    g.last_error = g.list_error ? g.list_error : ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  return kFakeSet;
}
BOOL WINAPI FakeEnumInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                               PSP_DEVICE_INTERFACE_DATA data) {
  if (index >= g.interfaces.size()) {
    g.last_error = ERROR_NO_MORE_ITEMS;
    return FALSE;
  }
  if (index == g.skip_index) {
    g.last_error = ERROR_INVALID_DATA;
    return FALSE;
  }
  data->Reserved = index;
  return TRUE;
}
BOOL WINAPI FakeDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                       PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD needed,
                       PSP_DEVINFO_DATA) {
  const std::string& path = g.interfaces[data->Reserved];
  const DWORD want =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
  if (needed) *needed = want;
  if (!detail || size < want || detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    g.last_error = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  std::memcpy(
      reinterpret_cast<char*>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath),
      path.c_str(), path.size() + 1);
  return TRUE;
}
BOOL WINAPI FakeDestroy(HDEVINFO set) {
  if (set == kFakeSet) ++g.destroyed;
  return TRUE;
}
HANDLE WINAPI FakeCreateFile(LPCSTR name, DWORD, DWORD share, LPSECURITY_ATTRIBUTES, DWORD,
                             DWORD flags, HANDLE) {
  g.opened.push_back(name);
  EXPECT_EQ(share, 0u);
  EXPECT_TRUE(flags & FILE_FLAG_OVERLAPPED);
  g.last_error = g.open_error;
  return g.open_error ? INVALID_HANDLE_VALUE : kFakeDevice;
}
BOOL WINAPI FakeClose(HANDLE) {
  return TRUE;
}
BOOL FakeIo(LPDWORD n, LPOVERLAPPED) {
  if (g.io_error) {
    g.last_error = g.io_error;
    return FALSE;
  }
  if (g.pending) {
    g.last_error = ERROR_IO_PENDING;
    return FALSE;
  }
  *n = g.completes;
  return TRUE;
}
BOOL WINAPI FakeRead(HANDLE, LPVOID, DWORD, LPDWORD n, LPOVERLAPPED io) {
  return FakeIo(n, io);
}
BOOL WINAPI FakeWrite(HANDLE, LPCVOID, DWORD, LPDWORD n, LPOVERLAPPED io) {
  return FakeIo(n, io);
}
BOOL WINAPI FakeOverlapped(HANDLE, LPOVERLAPPED, LPDWORD n, BOOL) {
  *n = g.completes;  // what got through before the cancel
  return TRUE;
}
BOOL WINAPI FakeCancel(HANDLE) {
  ++g.cancelled;
  return TRUE;
}
DWORD WINAPI FakeLastError() {
  return g.last_error;
}
HDEVNOTIFY WINAPI FakeRegister(HANDLE window, LPVOID filter, DWORD flags) {
  EXPECT_EQ(flags, static_cast<DWORD>(DEVICE_NOTIFY_WINDOW_HANDLE));
  g.window = static_cast<HWND>(window);
  std::memcpy(&g.filter, filter, sizeof g.filter);
  if (g.refuse_registration) {
    g.last_error = ERROR_SERVICE_NOT_ACTIVE;
    return nullptr;
  }
  return kFakeRegistration;
}
BOOL WINAPI FakeUnregister(HDEVNOTIFY registration) {
  if (registration == kFakeRegistration) ++g.unregistered;
  return TRUE;
}

class UsbWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = win32::Win32UsbCalls();
    g = Script{};
    win32::Win32UsbCalls() =
        UsbCalls{FakeGetClassDevs, FakeEnumInterfaces, FakeDetail,   FakeDestroy, FakeRegister,
                 FakeUnregister,   FakeCreateFile,     FakeClose,    FakeRead,    FakeWrite,
                 FakeOverlapped,   FakeCancel,         FakeLastError};
  }
  void TearDown() override { win32::Win32UsbCalls() = saved_; }

  static std::string Printer(const char* instance) {
    return std::string("\\\\?\\usb#vid_3a81&pid_0381#") + instance + kClass;
  }
  std::unique_ptr<UsbDevice> OpenOne(Status* status) {
    g.interfaces = {Printer("sn1")};
    return DefaultUsbPrinters().Open(
        "\\\\?\\USB#VID_3A81&PID_0381#534E31" + std::string(kClassUpper), status);
  }

  UsbCalls saved_;
};

TEST_F(UsbWin32Test, ListsPrinterInterfacesInNodeOrderAndSkipsWhatItCannotRead) {
  g.interfaces = {Printer("sn2"), Printer("broken"),
                  std::string("\\\\?\\ROOT#PRINTER#0000") + kClass, Printer("sn1")};
  g.skip_index = 1;
  std::vector<UsbPrinterInfo> list;
  ASSERT_TRUE(DefaultUsbPrinters().Enumerate(&list).ok());
  EXPECT_EQ(g.list_flags, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  EXPECT_EQ(g.destroyed, 1);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].node, "\\\\?\\USB#VID_3A81&PID_0381#SN1" + std::string(kClassUpper));
  EXPECT_EQ(list[0].path, "\\\\?\\USB#VID_3A81&PID_0381#534E31" + std::string(kClassUpper));
  EXPECT_EQ(list[0].serial, "SN1");
  EXPECT_EQ(list[1].serial, "SN2");

  g.list_error = ERROR_ACCESS_DENIED;
  const Status status = DefaultUsbPrinters().Enumerate(&list);
  EXPECT_EQ(status.outcome(), Outcome::kIoError);
  EXPECT_EQ(status.native(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(list.empty());
}

TEST_F(UsbWin32Test, OpensTheNodeOfTheListedPrinterAlone) {
  Status status;
  auto device = OpenOne(&status);
  ASSERT_NE(device, nullptr) << status.ToString();
  EXPECT_EQ(g.opened, std::vector<std::string>{"\\\\?\\USB#VID_3A81&PID_0381#SN1" +
                                               std::string(kClassUpper)});
  EXPECT_EQ(device->node(), g.opened[0]);

  struct Case {
    const char* name;
    DWORD error;
    Outcome outcome;
  };
  const Case cases[] = {
      {"held by another program", ERROR_SHARING_VIOLATION, Outcome::kBusy},
      {"refused", ERROR_ACCESS_DENIED, Outcome::kBusy},
      {"gone since the listing", ERROR_FILE_NOT_FOUND, Outcome::kNotFound},
      {"anything else", ERROR_GEN_FAILURE, Outcome::kIoError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g.open_error = c.error;
    EXPECT_EQ(OpenOne(&status), nullptr);
    EXPECT_EQ(status.outcome(), c.outcome);
    EXPECT_EQ(status.native(), static_cast<int>(c.error));
  }

  g.opened.clear();
  EXPECT_EQ(DefaultUsbPrinters().Open(Printer("sn9"), &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kNotFound);
  EXPECT_TRUE(g.opened.empty());
}

TEST_F(UsbWin32Test, WritesEndInTimeAndSayWhatWentOut) {
  Status status;
  auto device = OpenOne(&status);
  ASSERT_NE(device, nullptr) << status.ToString();
  const std::array<uint8_t, 10> data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  size_t written = 99;

  g.completes = 10;
  EXPECT_TRUE(device->Write(data, 1000, &written).ok());
  EXPECT_EQ(written, 10u);

  // A driver that holds the write back: cancelled at the limit, with what got out.
  g.pending = true;
  g.completes = 3;
  status = device->Write(data, 50, &written);
  EXPECT_EQ(status.outcome(), Outcome::kTimedOut);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(g.cancelled, 1);

  g.pending = false;
  g.io_error = ERROR_DEVICE_NOT_CONNECTED;
  EXPECT_EQ(device->Write(data, 1000, &written).outcome(), Outcome::kNotFound);
  EXPECT_EQ(written, 0u);
  g.io_error = ERROR_GEN_FAILURE;
  EXPECT_EQ(device->Write(data, 1000, &written).outcome(), Outcome::kIoError);

  g.io_error = 0;
  device->Interrupt();
  EXPECT_EQ(device->Write(data, 1000, &written).outcome(), Outcome::kIoError);
  EXPECT_EQ(written, 0u);
}

TEST_F(UsbWin32Test, ReadsWaitAtMostTheirTimeAndEndOnInterrupt) {
  Status status;
  auto device = OpenOne(&status);
  ASSERT_NE(device, nullptr) << status.ToString();
  std::array<uint8_t, 8> buffer{};
  size_t got = 99;

  g.completes = 4;
  ASSERT_TRUE(device->Read(buffer, 1000, &got).ok());
  EXPECT_EQ(got, 4u);

  g.pending = true;
  g.completes = 0;
  ASSERT_TRUE(device->Read(buffer, 30, &got).ok());
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(g.cancelled, 1);

  g.pending = false;
  g.io_error = ERROR_DEVICE_NOT_CONNECTED;
  EXPECT_EQ(device->Read(buffer, 30, &got).outcome(), Outcome::kNotFound);

  g.io_error = 0;
  g.completes = 4;
  device->Interrupt();
  ASSERT_TRUE(device->Read(buffer, kInfinite, &got).ok());
  EXPECT_EQ(got, 0u);
}

// A device-interface record as the system sends it, name included.
class ChangeRecord {
 public:
  ChangeRecord(const std::string& name, const GUID& klass = win32::kUsbPrintInterfaceGuid,
               DWORD type = DBT_DEVTYP_DEVICEINTERFACE) {
    constexpr size_t kNameAt = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    storage_.resize((kNameAt + name.size() + 1 + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(storage_.data());
    record->dbcc_size = static_cast<DWORD>(kNameAt + name.size() + 1);
    record->dbcc_devicetype = type;
    record->dbcc_classguid = klass;
    std::memcpy(reinterpret_cast<char*>(storage_.data()) + kNameAt, name.c_str(), name.size() + 1);
  }
  LPARAM lparam() const { return reinterpret_cast<LPARAM>(storage_.data()); }

 private:
  std::vector<DWORD> storage_;
};

TEST_F(UsbWin32Test, DeviceChangesOfPrinterInterfacesBecomeNotes) {
  std::atomic<int> told{0};
  Status status;
  auto watch = DefaultUsbPrinters().Watch([&] { ++told; }, &status);
  ASSERT_NE(watch, nullptr) << status.ToString();
  ASSERT_NE(g.window, nullptr);
  EXPECT_EQ(g.filter.dbcc_size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_A));
  EXPECT_EQ(g.filter.dbcc_devicetype, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
  EXPECT_TRUE(IsEqualGUID(g.filter.dbcc_classguid, win32::kUsbPrintInterfaceGuid));

  const GUID usb_device = {
      0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
  const ChangeRecord printer(Printer("sn1"));
  const ChangeRecord other_class(Printer("sn1"), usb_device);
  const ChangeRecord not_a_printer(std::string("\\\\?\\ROOT#PRINTER#0000") + kClass);
  const ChangeRecord handle_record(Printer("sn1"), win32::kUsbPrintInterfaceGuid,
                                   DBT_DEVTYP_HANDLE);
  // Sent as the system sends them: the watch's thread runs them.
  auto send = [&](WPARAM event, LPARAM data) {
    ::SendMessageA(g.window, WM_DEVICECHANGE, event, data);
  };
  send(DBT_DEVICEARRIVAL, printer.lparam());
  EXPECT_EQ(told.load(), 1);
  send(DBT_DEVICEARRIVAL, other_class.lparam());
  send(DBT_DEVICEARRIVAL, not_a_printer.lparam());
  send(DBT_DEVICEREMOVECOMPLETE, handle_record.lparam());
  send(DBT_DEVICEQUERYREMOVE, printer.lparam());
  send(DBT_DEVNODES_CHANGED, 0);
  send(DBT_DEVICEREMOVECOMPLETE, printer.lparam());
  EXPECT_EQ(told.load(), 1);  // the queue was not empty

  const std::vector<UsbChangeNote> notes = watch->Take();
  ASSERT_EQ(notes.size(), 2u);
  const std::string path = "\\\\?\\USB#VID_3A81&PID_0381#534E31" + std::string(kClassUpper);
  const std::string node = "\\\\?\\USB#VID_3A81&PID_0381#SN1" + std::string(kClassUpper);
  EXPECT_EQ(notes[0].change, UsbChange::kArrival);
  EXPECT_EQ(notes[0].path, path);
  EXPECT_EQ(notes[0].node, node);
  EXPECT_EQ(notes[1].change, UsbChange::kRemoval);
  EXPECT_EQ(notes[1].path, path);
  EXPECT_FALSE(watch->Overflowed());

  send(DBT_DEVICEARRIVAL, printer.lparam());
  EXPECT_EQ(told.load(), 2);

  watch.reset();
  EXPECT_EQ(g.unregistered, 1);
}

TEST_F(UsbWin32Test, ARefusedRegistrationIsNoWatch) {
  g.refuse_registration = true;
  Status status;
  EXPECT_EQ(DefaultUsbPrinters().Watch([] {}, &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kIoError);
  EXPECT_EQ(status.native(), ERROR_SERVICE_NOT_ACTIVE);
}

// The system itself (Wine has no USB printers): asking works, and so does
// watching.
TEST(UsbWin32System, ListsAndWatches) {
  std::vector<UsbPrinterInfo> list;
  EXPECT_TRUE(DefaultUsbPrinters().Enumerate(&list).ok());
  Status status;
  auto watch = DefaultUsbPrinters().Watch([] {}, &status);
  EXPECT_NE(watch, nullptr) << status.ToString();
}

}  // namespace
}  // namespace qz381::platform
