#pragma once
// The Win32 USB printer backend's inner parts, for its tests: the system calls
// it makes (one table, so that a test can list printers that are not there,
// refuse an open or hold a write back, as serial_calls.h does for serial
// ports), how a system interface path becomes a listed printer, and how a
// device-change message becomes a note.
#include <windows.h>
// After windows.h:
#include <dbt.h>
#include <setupapi.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/usb.h"

namespace qz381::platform::win32 {

struct UsbCalls {
  HDEVINFO(WINAPI* SetupDiGetClassDevsA)(const GUID*, PCSTR, HWND, DWORD);
  BOOL(WINAPI* SetupDiEnumDeviceInterfaces)
  (HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
  BOOL(WINAPI* SetupDiGetDeviceInterfaceDetailA)
  (HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
   PSP_DEVINFO_DATA);
  BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO);
  HDEVNOTIFY(WINAPI* RegisterDeviceNotificationA)(HANDLE, LPVOID, DWORD);
  BOOL(WINAPI* UnregisterDeviceNotification)(HDEVNOTIFY);
  HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  BOOL(WINAPI* CloseHandle)(HANDLE);
  BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
  BOOL(WINAPI* CancelIo)(HANDLE);
  DWORD(WINAPI* GetLastError)();
};

// The table every Win32 USB listing, device and watch uses. Swap entries only
// while no device is open and no watch runs.
UsbCalls& Win32UsbCalls();

// The USB printer interface class {28D78FAD-5A12-11D1-AE5B-0000F803A8C2}.
extern const GUID kUsbPrintInterfaceGuid;

// A printer as the system names its interface
//   \\?\usb#vid_vvvv&pid_pppp[&mi_nn]#<instance>#{28d78fad-...}
// (any case): vendor and product from the path, the serial number from the
// instance when the instance is one (the system makes up an instance with '&'
// in it for a printer without one), the node is the path in upper case (what
// Open opens) and the path is this system's stable printer path (usb.h).
// Nothing for a path of another shape (another bus, a class other than the
// printer interface).
std::optional<UsbPrinterInfo> PrinterFromInterfacePath(std::string_view system_path);

// The note a WM_DEVICECHANGE message gives (its wparam and lparam): an arrival
// or a completed removal of a USB printer interface. Nothing for other events,
// other kinds of device, other interface classes or a record too short for
// its own fields, or a name PrinterFromInterfacePath does not take (such an
// interface is never listed, so nobody waits for its news).
std::optional<UsbChangeNote> NoteFromDeviceChange(WPARAM event, LPARAM data);

// Opens a listed printer's node for overlapped I/O, held by this caller alone
// (usb_device_win32.cpp). kBusy when another holder has it, kNotFound when it
// went away since the listing.
std::unique_ptr<UsbDevice> OpenUsbDevice(const UsbPrinterInfo& printer, Status* status);

}  // namespace qz381::platform::win32
