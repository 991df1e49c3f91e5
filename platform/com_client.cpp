// The in-process half of CoCreateInstance over a Registry, for registries the
// system's COM runtime cannot see.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com_client.h"
#include "platform/dynlib.h"
#include "platform/registry.h"

namespace qz381::platform {
namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

class RegistryComClient final : public ComClient {
 public:
  explicit RegistryComClient(Registry& registry) : registry_(registry) {}
  // Servers whose objects may still be alive stay loaded, as COM keeps them.
  ~RegistryComClient() override {
    FreeUnusedServers();
    std::lock_guard lock(Kept().mutex);
    for (auto& module : modules_) Kept().modules.push_back(std::move(module));
  }

  IDispatch* CreateDispatch(const CLSID& clsid, Status* status) override {
    const std::string clsid_text = GuidToString(clsid);
    std::string path;
    *status = ReadText(registry_, Hive::kClassesRoot, "CLSID\\" + clsid_text + "\\InprocServer32",
                       "", &path);
    if (!status->ok()) return nullptr;
    std::unique_ptr<DynamicLibrary> module = DynamicLibrary::Load(path, status);
    if (!module) return nullptr;
    auto get_class_object = reinterpret_cast<GetClassObjectFn>(module->Symbol("DllGetClassObject"));
    if (!get_class_object) {
      *status = Status::Fail(Outcome::kNotFound, path + ": no DllGetClassObject");
      return nullptr;
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    IDispatch* object = nullptr;
    if (SUCCEEDED(hr) && factory) {
      hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
      factory->Release();
    }
    if (FAILED(hr) || !object) {
      *status = Status::Fail(Outcome::kIoError,
                             path + " made no object of class " + clsid_text + " (" + Hex(hr) + ")",
                             static_cast<int>(hr));
      return nullptr;
    }
    modules_.push_back(std::move(module));
    *status = Status::Ok();
    return object;
  }

  void FreeUnusedServers() override {
    std::erase_if(modules_, [](const std::unique_ptr<DynamicLibrary>& module) {
      auto can_unload = reinterpret_cast<CanUnloadNowFn>(module->Symbol("DllCanUnloadNow"));
      return !can_unload || can_unload() == S_OK;
    });
  }

 private:
  struct KeptModules {
    std::mutex mutex;
    std::vector<std::unique_ptr<DynamicLibrary>> modules;
  };
  static KeptModules& Kept() {
    static auto* kept = new KeptModules;  // never unloaded before the process ends
    return *kept;
  }

  Registry& registry_;
  std::vector<std::unique_ptr<DynamicLibrary>> modules_;
};

}  // namespace

std::unique_ptr<ComClient> NewRegistryComClient(Registry& registry) {
  return std::make_unique<RegistryComClient>(registry);
}

}  // namespace qz381::platform
