#include "platform/win32/win32_text.h"

namespace qz381::platform::win32 {

std::string ErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = n && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
    out.pop_back();
  }
  return out;
}

Status Fail(DWORD code, const std::string& context, bool access_is_busy) {
  Outcome outcome = Outcome::kIoError;
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_MOD_NOT_FOUND:
    case ERROR_INVALID_PRINTER_NAME:
      outcome = Outcome::kNotFound;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      outcome = Outcome::kBusy;
      break;
    case ERROR_ACCESS_DENIED:
      if (access_is_busy) outcome = Outcome::kBusy;
      break;
    default:
      break;
  }
  return Status::Fail(outcome, context + ": " + ErrorText(code), static_cast<int>(code));
}

}  // namespace qz381::platform::win32
