// No type libraries on POSIX: a server's objects give no type information.
#include "platform/type_library.h"

namespace qz381::platform {

HRESULT LoadClassTypeInfo(const void*, const CLSID&, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

bool HasClassTypeInfo(const void*, const CLSID&) {
  return false;
}

Status RegisterTypeLibraryOf(const std::string& module_path) {
  return Status::Fail(Outcome::kUnsupported, "no type libraries here: " + module_path);
}

Status UnregisterTypeLibraryOf(const std::string& module_path) {
  return Status::Fail(Outcome::kUnsupported, "no type libraries here: " + module_path);
}

}  // namespace qz381::platform
