#pragma once
// Loading modules by path (LoadLibrary / dlopen). A module is found only through
// the path the registry gives, never through the linker's search.
#include <memory>
#include <string>

#include "platform/status.h"

namespace qz381::platform {

class DynamicLibrary {
 public:
  // kNotFound when the file does not exist, kIoError when it exists but cannot
  // be loaded (the context carries the loader's message).
  static std::unique_ptr<DynamicLibrary> Load(const std::string& path, Status* status);
  ~DynamicLibrary();  // unloads (the operating system counts loads of one file)
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Null when the module has no export of that exact name.
  void* Symbol(const char* name) const;
  const std::string& path() const { return path_; }

 private:
  DynamicLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  void* handle_;
  std::string path_;
};

// Full path of the module (shared library or program) that contains `address`;
// empty when unknown. DllRegisterServer uses it for InprocServer32.
std::string ModulePathOf(const void* address);

}  // namespace qz381::platform
