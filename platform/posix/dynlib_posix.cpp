#include "platform/dynlib.h"

#include <dlfcn.h>
#include <link.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace qz381::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path, Status* status) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    *status = Status::Fail(Outcome::kNotFound, "load module " + path, ENOENT);
    return nullptr;
  }
  // An absolute name keeps dlopen from searching the library path for a bare
  // file name, and makes ModulePathOf answer the same path later.
  std::string full = std::filesystem::absolute(path, ec).lexically_normal().string();
  if (ec) full = path;
  void* handle = ::dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    *status = Status::Fail(Outcome::kIoError,
                           "load module " + path + ": " + (why ? why : "unknown loader error"));
    return nullptr;
  }
  *status = Status::Ok();
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle, path));
}

DynamicLibrary::~DynamicLibrary() {
  ::dlclose(handle_);
}

void* DynamicLibrary::Symbol(const char* name) const {
  return ::dlsym(handle_, name);
}

std::string ModulePathOf(const void* address) {
  Dl_info info;
  link_map* map = nullptr;
  if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) return {};
  std::error_code ec;
  // The program itself has an empty name in the loader's list.
  if (!map || !map->l_name || map->l_name[0] == '\0') {
    std::string exe = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    return ec ? std::string() : exe;
  }
  std::filesystem::path path = std::filesystem::absolute(map->l_name, ec);
  return ec ? std::string(map->l_name) : path.lexically_normal().string();
}

}  // namespace qz381::platform
