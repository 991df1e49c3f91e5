#pragma once
// The system calls the Win32 serial backend makes, reached through one table
// so that a test can swap an entry (fail CreateFileA with "access denied",
// cut a WriteFile short) and check the Status and native code the backend
// answers; FaultInjectingSerialPorts sits above the backend and cannot see
// those. The table starts with the real functions; a test puts back what it
// swapped.
#include <windows.h>

namespace qz381::platform::win32 {

struct SerialCalls {
  HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  BOOL(WINAPI* CloseHandle)(HANDLE);
  BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
  BOOL(WINAPI* CancelIo)(HANDLE);
  DWORD(WINAPI* GetLastError)();
  BOOL(WINAPI* GetCommState)(HANDLE, LPDCB);
  BOOL(WINAPI* SetCommState)(HANDLE, LPDCB);
  BOOL(WINAPI* SetCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
  BOOL(WINAPI* SetCommMask)(HANDLE, DWORD);
  BOOL(WINAPI* WaitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* PurgeComm)(HANDLE, DWORD);
  BOOL(WINAPI* GetCommModemStatus)(HANDLE, LPDWORD);
  BOOL(WINAPI* ClearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
};

// The table every Win32 serial device uses. Swap entries only while no device
// is open.
SerialCalls& Win32SerialCalls();

}  // namespace qz381::platform::win32
