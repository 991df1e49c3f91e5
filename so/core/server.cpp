// The in-process server: the class factory and the four exports by which the
// control object (or an installer, like regsvr32) reaches the service object.
#include "so/core/server.h"

#include <atomic>
#include <exception>

#include "platform/dynlib.h"
#include "platform/registry.h"
#include "platform/trace.h"
#include "platform/type_library.h"
#include "so/core/pos_printer.h"

namespace qz381::so {

const CLSID CLSID_POSPrinterSO = {
    0x73CB53A0, 0x3B85, 0x4DF8, {0xA2, 0x8D, 0x73, 0x1B, 0x63, 0xBE, 0x43, 0xB7}};

namespace {

std::atomic<long> g_locks{0};

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The factory lives as long as the module; its references do not count.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    // The object's members allocate too; whatever they throw stays here.
    CPOSPrinter* printer = nullptr;
    try {
      printer = new CPOSPrinter();
    } catch (const std::exception& e) {
      platform::Trace("CreateInstance: the service object could not be made (%s)", e.what());
      return E_OUTOFMEMORY;
    } catch (...) {
      platform::Trace("CreateInstance: the service object could not be made");
      return E_OUTOFMEMORY;
    }
    HRESULT hr = printer->QueryInterface(riid, object);
    printer->Release();  // the caller's reference, if any, keeps it alive
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      ServerLock();
    else
      ServerUnlock();
    return S_OK;
  }
};

ClassFactory g_factory;

constexpr char kClsidKey[] = "CLSID\\{73CB53A0-3B85-4DF8-A28D-731B63BE43B7}";

}  // namespace

void ServerLock() {
  ++g_locks;
}
void ServerUnlock() {
  --g_locks;
}
long ServerLockCount() {
  return g_locks;
}

}  // namespace qz381::so

using namespace qz381;
using platform::Hive;
using platform::RegValue;

QZ381_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualGUID(rclsid, so::CLSID_POSPrinterSO)) return CLASS_E_CLASSNOTAVAILABLE;
  return so::g_factory.QueryInterface(riid, ppv);
}

QZ381_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return so::ServerLockCount() == 0 ? S_OK : S_FALSE;
}

QZ381_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer();

QZ381_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
  platform::Registry& reg = platform::DefaultRegistry();
  std::string path = platform::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
  const std::string progid = so::kProgId;
  const std::string clsid_key = so::kClsidKey;
  platform::Status results[] = {
      reg.SetValue(Hive::kClassesRoot, progid, "", RegValue::Text("QZ381 POSPrinter")),
      reg.SetValue(Hive::kClassesRoot, progid + "\\CLSID", "", RegValue::Text(so::kClsidText)),
      reg.SetValue(Hive::kClassesRoot, clsid_key, "", RegValue::Text(progid)),
      reg.SetValue(Hive::kClassesRoot, clsid_key + "\\ProgID", "", RegValue::Text(progid)),
      reg.SetValue(Hive::kClassesRoot, clsid_key + "\\InprocServer32", "", RegValue::Text(path)),
      reg.SetValue(Hive::kClassesRoot, clsid_key + "\\InprocServer32", "ThreadingModel",
                   RegValue::Text("Apartment")),
  };
  // A registration that could not be written whole (no rights to a key) is
  // taken out again rather than left half there, and the installer is told:
  // SELFREG_E_CLASS, with the reason in the trace.
  bool whole = !path.empty();
  if (path.empty()) platform::Trace("DllRegisterServer: the server's own path is unknown");
  for (const auto& st : results) {
    if (st.ok()) continue;
    whole = false;
    platform::Trace("DllRegisterServer: %s", st.ToString().c_str());
  }
  // The type library goes where the system's COM looks for it; a registry
  // file (QZ381_REGISTRY) has no place for it, and POSIX no type libraries.
  if (whole && platform::IsSystemRegistry(reg)) {
    const platform::Status st = platform::RegisterTypeLibraryOf(path);
    if (!st.ok()) {
      whole = false;
      platform::Trace("DllRegisterServer: %s", st.ToString().c_str());
    }
  }
  if (whole) return S_OK;
  DllUnregisterServer();
  return SELFREG_E_CLASS;
}

QZ381_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
  platform::Registry& reg = platform::DefaultRegistry();
  if (platform::IsSystemRegistry(reg)) {
    const platform::Status st = platform::UnregisterTypeLibraryOf(
        platform::ModulePathOf(reinterpret_cast<const void*>(&DllUnregisterServer)));
    if (!st.ok()) platform::Trace("DllUnregisterServer: %s", st.ToString().c_str());
  }
  for (const char* key : {so::kProgId, so::kClsidKey}) {
    const platform::Status st = reg.DeleteKey(Hive::kClassesRoot, key);
    if (!st.ok() && st.outcome() != platform::Outcome::kNotFound) {
      platform::Trace("DllUnregisterServer: %s", st.ToString().c_str());
    }
  }
  return S_OK;
}
