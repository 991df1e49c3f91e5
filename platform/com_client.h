#pragma once
// Creating COM objects as a client does: by class identifier, from the
// in-process server registered for it. On Windows, with the system registry,
// that is CoCreateInstance itself; with a registry file (POSIX, tests, a
// build-folder run) the same steps are taken here: the class's
// InprocServer32 module, its DllGetClassObject, the class factory.
#include <memory>

#include "platform/com.h"
#include "platform/status.h"

namespace qz381::platform {

class Registry;

// Joins the calling thread to a single-threaded apartment for as long as it
// lives (CoInitializeEx / CoUninitialize on Windows; nothing elsewhere). The
// control object's thread holds one: every call and every event runs there.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  // Whether CoInitializeEx took: only then is CoUninitialize owed. Elsewhere
  // there is nothing to join.
  [[maybe_unused]] bool joined_ = false;
};

// Used by one thread (the apartment's); objects it creates are released on
// that thread too.
class ComClient {
 public:
  virtual ~ComClient() = default;
  // The object's IDispatch with one reference for the caller; null and a
  // status when the class is not registered (kNotFound), its server cannot be
  // loaded, or it makes no such object.
  virtual IDispatch* CreateDispatch(const CLSID& clsid, Status* status) = 0;
  // Unloads the servers that say nothing of theirs is alive any more
  // (DllCanUnloadNow); call after releasing objects.
  virtual void FreeUnusedServers() = 0;
};

// COM's own steps over `registry`, which must outlive the client.
std::unique_ptr<ComClient> NewRegistryComClient(Registry& registry);
// The platform's client for objects registered in `registry`: the system's
// COM runtime when `registry` is the system registry, else the one above.
std::unique_ptr<ComClient> NewComClient(Registry& registry);

}  // namespace qz381::platform
