// COM on Windows: the control object's thread is a single-threaded apartment,
// as an application's OPOS control object is, and the service object (an
// "Apartment" server) runs on it without marshalling.
#include <objbase.h>
#include <windows.h>

#include <cstdio>

#include "platform/com_client.h"
#include "platform/registry.h"

namespace qz381::platform {
namespace {

class SystemComClient final : public ComClient {
 public:
  IDispatch* CreateDispatch(const CLSID& clsid, Status* status) override {
    IDispatch* object = nullptr;
    const HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                          reinterpret_cast<void**>(&object));
    if (SUCCEEDED(hr) && object) {
      *status = Status::Ok();
      return object;
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    const bool unknown = hr == REGDB_E_CLASSNOTREG || hr == CO_E_DLLNOTFOUND;
    *status =
        Status::Fail(unknown ? Outcome::kNotFound : Outcome::kIoError,
                     "CoCreateInstance " + GuidToString(clsid) + ": " + code, static_cast<int>(hr));
    return nullptr;
  }

  void FreeUnusedServers() override { ::CoFreeUnusedLibraries(); }
};

}  // namespace

ComApartment::ComApartment() {
  joined_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

ComApartment::~ComApartment() {
  if (joined_) ::CoUninitialize();
}

std::unique_ptr<ComClient> NewComClient(Registry& registry) {
  if (IsSystemRegistry(registry)) return std::make_unique<SystemComClient>();
  return NewRegistryComClient(registry);
}

}  // namespace qz381::platform
