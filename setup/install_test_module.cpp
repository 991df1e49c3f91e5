// Stands in for the service object in the installation tests: registering it
// leaves a mark in the process's default registry, as the real one leaves its
// class entries there.
#include "platform/com.h"
#include "platform/dynlib.h"
#include "platform/registry.h"

QZ381_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
  using namespace qz381::platform;
  const std::string self = ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
  DefaultRegistry().SetValue(Hive::kClassesRoot, "QZ381InstallTest", "", RegValue::Text(self));
  return S_OK;
}
