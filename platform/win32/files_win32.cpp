// Files on Win32. Readers open with every sharing flag, delete included, so a
// writer can always replace the file under them; the replacement is a
// MoveFileEx over the old file, retried for a moment while a scanner or
// another reader holds it without that flag.
#include <windows.h>

#include <atomic>

#include "platform/files.h"
#include "platform/win32/win32_text.h"

namespace qz381::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr int kReplaceAttempts = 50;  // 10 ms apart: half a second in all
constexpr DWORD kReplaceRetryMs = 10;

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() {
    if (valid()) ::CloseHandle(h_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

Status WriteAll(HANDLE file, const std::string& path, const std::string& contents) {
  size_t done = 0;
  while (done < contents.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1u << 20));
    DWORD wrote = 0;
    if (!::WriteFile(file, contents.data() + done, chunk, &wrote, nullptr)) {
      return win32::Fail(::GetLastError(), "write " + path);
    }
    done += wrote;
  }
  return Status::Ok();
}

}  // namespace

Status ReadWholeFile(const std::string& path, std::string* out) {
  ScopedHandle file(::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return win32::Fail(::GetLastError(), "open " + path);
  std::string data;
  char buffer[16384];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      return win32::Fail(::GetLastError(), "read " + path);
    }
    if (got == 0) break;
    data.append(buffer, got);
  }
  *out = std::move(data);
  return Status::Ok();
}

Status WriteFileAtomically(const std::string& path, const std::string& contents) {
  static std::atomic<unsigned> counter{0};
  const std::string temp = path + ".tmp." + std::to_string(::GetCurrentProcessId()) + "." +
                           std::to_string(counter.fetch_add(1));
  Status status;
  {
    ScopedHandle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      return win32::Fail(::GetLastError(), "create temporary file for " + path);
    }
    status = WriteAll(file.get(), temp, contents);
    if (status.ok() && !::FlushFileBuffers(file.get())) {
      status = win32::Fail(::GetLastError(), "flush " + temp);
    }
  }
  for (int attempt = 0; status.ok(); ++attempt) {
    if (::MoveFileExA(temp.c_str(), path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return Status::Ok();
    }
    const DWORD error = ::GetLastError();
    const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!held || attempt + 1 >= kReplaceAttempts) {
      status = win32::Fail(error, "rename " + temp + " to " + path);
      break;
    }
    ::Sleep(kReplaceRetryMs);
  }
  ::DeleteFileA(temp.c_str());
  return status;
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Status MakeDirectories(const std::string& path) {
  if (path.empty()) return Status::Ok();
  // Skip the root: "C:\", "\\server\share\" or a leading separator.
  size_t start = 0;
  if (path.size() >= 2 && path[1] == ':') {
    start = 2;
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    start = path.find_first_of("\\/", 2);
    start = start == std::string::npos ? path.size() : path.find_first_of("\\/", start + 1);
    if (start == std::string::npos) start = path.size();
  }
  while (start < path.size() && IsSeparator(path[start])) ++start;
  for (size_t pos = start; pos <= path.size(); ++pos) {
    if (pos < path.size() && !IsSeparator(path[pos])) continue;
    const std::string prefix = path.substr(0, pos);
    if (!prefix.empty() && !IsSeparator(prefix.back()) &&
        !::CreateDirectoryA(prefix.c_str(), nullptr)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_ALREADY_EXISTS) return win32::Fail(error, "mkdir " + prefix);
    }
  }
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Status::Fail(Outcome::kIoError, "not a directory: " + path, ERROR_DIRECTORY);
  }
  return Status::Ok();
}

}  // namespace qz381::platform
