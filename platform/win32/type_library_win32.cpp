// Type libraries through OLEAUT32: loaded from the module's own file (the
// system finds resource TYPELIB 1 in it), registered with RegisterTypeLib,
// which also writes the interfaces it describes.
#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>

#include <cstdio>

#include "platform/dynlib.h"
#include "platform/type_library.h"

namespace qz381::platform {
namespace {

std::wstring Wide(const std::string& text) {
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

Status Failed(HRESULT hr, const std::string& what) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  return Status::Fail(Outcome::kIoError, what + ": " + code, static_cast<int>(hr));
}

HRESULT LoadLibraryOf(const std::string& module_path, ITypeLib** library) {
  *library = nullptr;
  if (module_path.empty()) return E_INVALIDARG;
  return ::LoadTypeLibEx(Wide(module_path).c_str(), REGKIND_NONE, library);
}

}  // namespace

HRESULT LoadClassTypeInfo(const void* address, const CLSID& clsid, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  ITypeLib* library = nullptr;
  HRESULT hr = LoadLibraryOf(ModulePathOf(address), &library);
  if (FAILED(hr)) return hr;
  ITypeInfo* coclass = nullptr;
  hr = library->GetTypeInfoOfGuid(clsid, &coclass);
  library->Release();
  if (FAILED(hr)) return hr;
  TYPEATTR* attributes = nullptr;
  hr = coclass->GetTypeAttr(&attributes);
  if (SUCCEEDED(hr)) {
    // The interface marked default, as a client asking "what are you" expects.
    hr = TYPE_E_ELEMENTNOTFOUND;
    for (UINT i = 0; i < attributes->cImplTypes && !*info; ++i) {
      INT flags = 0;
      HREFTYPE reference = 0;
      if (SUCCEEDED(coclass->GetImplTypeFlags(i, &flags)) && (flags & IMPLTYPEFLAG_FDEFAULT) &&
          !(flags & IMPLTYPEFLAG_FSOURCE) &&
          SUCCEEDED(coclass->GetRefTypeOfImplType(i, &reference))) {
        hr = coclass->GetRefTypeInfo(reference, info);
      }
    }
    coclass->ReleaseTypeAttr(attributes);
  }
  coclass->Release();
  return hr;
}

bool HasClassTypeInfo(const void* address, const CLSID& clsid) {
  ITypeInfo* info = nullptr;
  if (FAILED(LoadClassTypeInfo(address, clsid, &info))) return false;
  info->Release();
  return true;
}

Status RegisterTypeLibraryOf(const std::string& module_path) {
  ITypeLib* library = nullptr;
  HRESULT hr = LoadLibraryOf(module_path, &library);
  if (FAILED(hr)) return Failed(hr, "type library of " + module_path);
  std::wstring path = Wide(module_path);
  hr = ::RegisterTypeLib(library, path.data(), nullptr);
  library->Release();
  if (FAILED(hr)) return Failed(hr, "register the type library of " + module_path);
  return Status::Ok();
}

Status UnregisterTypeLibraryOf(const std::string& module_path) {
  ITypeLib* library = nullptr;
  HRESULT hr = LoadLibraryOf(module_path, &library);
  if (FAILED(hr)) return Failed(hr, "type library of " + module_path);
  TLIBATTR* attributes = nullptr;
  hr = library->GetLibAttr(&attributes);
  if (FAILED(hr)) {
    library->Release();
    return Failed(hr, "type library of " + module_path);
  }
  const TLIBATTR lib = *attributes;
  library->ReleaseTLibAttr(attributes);
  library->Release();
  // Never registered (or removed already): nothing to do.
  BSTR registered = nullptr;
  if (FAILED(::QueryPathOfRegTypeLib(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum, lib.lcid,
                                     &registered))) {
    return Status::Ok();
  }
  ::SysFreeString(registered);
  hr = ::UnRegisterTypeLib(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum, lib.lcid, lib.syskind);
  if (FAILED(hr)) return Failed(hr, "unregister the type library of " + module_path);
  return Status::Ok();
}

}  // namespace qz381::platform
