#pragma once
// Helpers the Win32 backend files share: the error shape from GetLastError
// codes, the system's message for them, and an owned manual-reset event.
#include <windows.h>

#include <string>

#include "platform/status.h"

namespace qz381::platform::win32 {

// The system's own words for an error code, without the line break.
std::string ErrorText(DWORD code);

// kNotFound for the "no such file/key/path" codes, kBusy for sharing and
// access refusals where `access_is_busy` says so, kIoError otherwise; the
// context gets the system's words and the code is the native one.
Status Fail(DWORD code, const std::string& context, bool access_is_busy = false);

// A manual-reset event, not set at first; get() is null when the system gave
// none.
class EventHandle {
 public:
  EventHandle() : h_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~EventHandle() {
    if (h_) ::CloseHandle(h_);
  }
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

}  // namespace qz381::platform::win32
