#pragma once
// What Vexlink is: the module bindings (com, usb, net), the table of the ports
// created through it, routing by port name, forwarding with SetObject first,
// and the spooler's printers moved off a serial port while it is open. The
// exports in vexlink_exports.cpp hand every call to one PortRouter; tests build
// their own over stand-in modules and a stand-in spooler.
#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dynlib.h"
#include "platform/spooler.h"
#include "ports/common/port_contract.h"
#include "ports/common/port_kind.h"

namespace qz381::ports {

// The twelve entry points of the module form; each null when missing.
struct ModuleEntryPoints {
  module_form::WriteFn Write = nullptr;
  module_form::ReadFn Read = nullptr;
  module_form::ClosePortFn ClosePort = nullptr;
  module_form::OpenPortFn OpenPort = nullptr;
  module_form::ClearFn Clear = nullptr;
  module_form::SetDeviceOptionFn SetDeviceOption = nullptr;
  module_form::GetInputBufferCountFn GetInputBufferCount = nullptr;
  module_form::IsPowerStateFn IsPowerState = nullptr;
  module_form::GetASBStateFn GetASBState = nullptr;
  module_form::WaitASBStateFn WaitASBState = nullptr;  // optional
  module_form::CreatePortFn CreatePort = nullptr;
  module_form::SetObjectFn SetObject = nullptr;
  module_form::DeletePortFn DeletePort = nullptr;
};

// One loaded port module. A module's current port is chosen per calling thread,
// so "SetObject, then the call" is one step on the thread that makes both, with
// no lock around them: a call that blocks (a Write held back by flow control)
// holds up nothing but itself, and the ClosePort that ends it gets through.
class ModuleBinding {
 public:
  // Loads the module at `path` exactly as given and binds its exports by name;
  // an empty path or a library that does not load gives a binding without
  // entry points (traced).
  static std::unique_ptr<ModuleBinding> Load(const std::string& label, const std::string& path);
  ModuleBinding(std::string label, ModuleEntryPoints entry,
                std::unique_ptr<platform::DynamicLibrary> library = nullptr)
      : label_(std::move(label)), entry_(entry), library_(std::move(library)) {}

  const std::string& label() const { return label_; }
  const ModuleEntryPoints& entry() const { return entry_; }

 private:
  std::string label_;
  ModuleEntryPoints entry_;
  std::unique_ptr<platform::DynamicLibrary> library_;  // freed with the binding
};

class PortRouter {
 public:
  // Any binding may be null (no module). The spooler must outlive the router.
  PortRouter(std::unique_ptr<ModuleBinding> serial, std::unique_ptr<ModuleBinding> usb,
             platform::Spooler& spooler, std::unique_ptr<ModuleBinding> net = nullptr);
  // Closes and deletes the ports still held, puts their printers back, then
  // frees the modules: a module must not be unloaded under a running reader.
  ~PortRouter();
  PortRouter(const PortRouter&) = delete;
  PortRouter& operator=(const PortRouter&) = delete;

  // The managing form of the port contract; 0 (or nothing) for unknown ids.
  int32_t CreatePort(const char* device_name, const char* port_name, uint8_t owner_kind);
  int32_t RemovePort(uint8_t owner_kind, int32_t port_id);
  int32_t SetDeviceOption(const DeviceOption& option, int32_t port_id);
  int32_t OpenPort(int32_t port_id);
  void ClosePort(int32_t port_id);
  int32_t Write(const uint8_t* data, int32_t length, int32_t port_id);
  int32_t Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms, int32_t port_id);
  void Clear(int32_t port_id);
  int32_t GetInputBufferCount(int32_t port_id);
  int32_t IsPowerState(int32_t port_id);
  int32_t GetASBState(uint8_t* status, int32_t port_id);
  // kWaitUnavailable for an unknown port or one whose module has no WaitASBState.
  int32_t WaitASBState(uint32_t timeout_ms, int32_t port_id);

 private:
  struct Entry {
    int32_t id = 0;
    std::string device_name;
    std::string port_name;
    PortKind kind = PortKind::kNone;
    uint8_t owner_mask = 0;
    ModuleBinding* binding = nullptr;
    std::mutex printers_mutex;
    std::map<std::string, std::string> redirected;  // printer -> its previous port
  };

  std::shared_ptr<Entry> Find(int32_t port_id, const char* call);
  // Runs `call` on the module with the entry's port made current for this
  // thread; `fallback` when the module lacks SetObject or does not know the
  // port (acting on whichever port happens to be current would be worse).
  template <typename Call, typename Result>
  Result OnPort(Entry& entry, Result fallback, Call call);

  void RedirectPrinters(Entry& entry);
  void RestorePrinters(Entry& entry);
  // Sets the printer's port; false when that failed (not when it was skipped).
  bool MovePrinter(const std::string& printer, const std::string& port, bool* skipped);

  std::unique_ptr<ModuleBinding> serial_;
  std::unique_ptr<ModuleBinding> usb_;
  std::unique_ptr<ModuleBinding> net_;
  platform::Spooler& spooler_;

  std::mutex entries_mutex_;                   // the table only; never held across a module call
  std::list<std::shared_ptr<Entry>> entries_;  // newest first
};

}  // namespace qz381::ports
