#include <windows.h>

#include "platform/dynlib.h"
#include "platform/win32/win32_text.h"

namespace qz381::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path, Status* status) {
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *status = win32::Fail(::GetLastError(), "load module " + path);
    if (status->outcome() != Outcome::kNotFound) {
      *status = Status::Fail(Outcome::kNotFound, status->context(), status->native());
    }
    return nullptr;
  }
  // A full path, so the loader does not search; the module's own folder is
  // searched for what it needs in turn (only system DLLs here).
  char full[MAX_PATH * 4];
  const DWORD n = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  const std::string load_path = n > 0 && n < sizeof full ? std::string(full, n) : path;
  // No "cannot find" message box from the system when a dependency is missing.
  const UINT old_mode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = ::LoadLibraryExA(load_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD error = ::GetLastError();
  ::SetErrorMode(old_mode);
  if (!module) {
    // The file is there, so whatever failed (a dependency, a bad image) is a
    // failure to load it, not a missing module.
    *status =
        Status::Fail(Outcome::kIoError, "load module " + path + ": " + win32::ErrorText(error),
                     static_cast<int>(error));
    return nullptr;
  }
  *status = Status::Ok();
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(module, path));
}

DynamicLibrary::~DynamicLibrary() {
  ::FreeLibrary(static_cast<HMODULE>(handle_));
}

void* DynamicLibrary::Symbol(const char* name) const {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string ModulePathOf(const void* address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &module)) {
    return {};
  }
  char path[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameA(module, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  return std::string(path, n);
}

}  // namespace qz381::platform
