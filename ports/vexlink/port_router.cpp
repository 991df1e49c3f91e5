#include "ports/vexlink/port_router.h"

#include <cstring>
#include <vector>

#include "platform/trace.h"
#include "ports/common/export_guard.h"
#include "ports/common/net_address.h"

namespace qz381::ports {
namespace {

constexpr const char* kFilePort = "FILE:";

template <typename Fn>
void Bind(platform::DynamicLibrary& library, const char* name, Fn* slot) {
  *slot = reinterpret_cast<Fn>(library.Symbol(name));
  if (!*slot) platform::Trace("Vexlink: %s has no export %s", library.path().c_str(), name);
}

}  // namespace

std::unique_ptr<ModuleBinding> ModuleBinding::Load(const std::string& label,
                                                   const std::string& path) {
  if (path.empty()) {
    platform::Trace("Vexlink: no path for the %s module; its ports cannot be created",
                    label.c_str());
    return std::make_unique<ModuleBinding>(label, ModuleEntryPoints{});
  }
  platform::Status status;
  std::unique_ptr<platform::DynamicLibrary> library = platform::DynamicLibrary::Load(path, &status);
  if (!library) {
    platform::Trace("Vexlink: cannot load the %s module '%s': %s", label.c_str(), path.c_str(),
                    status.ToString().c_str());
    return std::make_unique<ModuleBinding>(label, ModuleEntryPoints{});
  }
  ModuleEntryPoints entry;
  Bind(*library, "Write", &entry.Write);
  Bind(*library, "Read", &entry.Read);
  Bind(*library, "ClosePort", &entry.ClosePort);
  Bind(*library, "OpenPort", &entry.OpenPort);
  Bind(*library, "Clear", &entry.Clear);
  Bind(*library, "SetDeviceOption", &entry.SetDeviceOption);
  Bind(*library, "GetInputBufferCount", &entry.GetInputBufferCount);
  Bind(*library, "IsPowerState", &entry.IsPowerState);
  Bind(*library, "GetASBState", &entry.GetASBState);
  // Optional: not every module can wait for a status block.
  entry.WaitASBState =
      reinterpret_cast<module_form::WaitASBStateFn>(library->Symbol("WaitASBState"));
  Bind(*library, "CreatePort", &entry.CreatePort);
  Bind(*library, "SetObject", &entry.SetObject);
  Bind(*library, "DeletePort", &entry.DeletePort);
  return std::make_unique<ModuleBinding>(label, entry, std::move(library));
}

PortRouter::PortRouter(std::unique_ptr<ModuleBinding> serial, std::unique_ptr<ModuleBinding> usb,
                       platform::Spooler& spooler, std::unique_ptr<ModuleBinding> net)
    : serial_(std::move(serial)), usb_(std::move(usb)), net_(std::move(net)), spooler_(spooler) {}

PortRouter::~PortRouter() {
  std::list<std::shared_ptr<Entry>> left;
  {
    std::lock_guard hold(entries_mutex_);
    left.swap(entries_);
  }
  for (auto& entry : left) {
    platform::Trace("Vexlink: port %d (%s) still held at unload; closing it", entry->id,
                    entry->port_name.c_str());
    RestorePrinters(*entry);
    if (!entry->binding->entry().DeletePort) continue;
    // A destructor that let an exception out would end the process.
    Guarded("Vexlink: DeletePort at unload",
            [&] { entry->binding->entry().DeletePort(entry->id); });
  }
}

std::shared_ptr<PortRouter::Entry> PortRouter::Find(int32_t port_id, const char* call) {
  {
    std::lock_guard hold(entries_mutex_);
    for (const auto& entry : entries_) {
      if (entry->id == port_id) return entry;
    }
  }
  platform::Trace("Vexlink: %s: no port %d", call, port_id);
  return nullptr;
}

template <typename Call, typename Result>
Result PortRouter::OnPort(Entry& entry, Result fallback, Call call) {
  ModuleBinding& module = *entry.binding;
  if (!module.entry().SetObject) return fallback;
  if (module.entry().SetObject(entry.id) == 0) {
    platform::Trace("Vexlink: the %s module does not know port %d", module.label().c_str(),
                    entry.id);
    return fallback;
  }
  return call(module.entry());
}

int32_t PortRouter::CreatePort(const char* device_name, const char* port_name, uint8_t owner_kind) {
  if (owner_kind != kOwnerPosPrinter) {
    platform::Trace("Vexlink: CreatePort: owner kind %u refused", owner_kind);
    return 0;
  }
  if (!device_name || !port_name) {
    platform::Trace("Vexlink: CreatePort: no %s name", device_name ? "port" : "device");
    return 0;
  }
  auto entry = std::make_shared<Entry>();
  entry->device_name = device_name;
  entry->port_name = port_name;
  entry->owner_mask = 1;
  entry->kind = PortKindOf(entry->port_name);
  if (entry->kind == PortKind::kSerial) {
    entry->binding = serial_.get();
  } else if (entry->kind == PortKind::kUsb) {
    entry->binding = usb_.get();
  } else if (IsNetworkAddress(entry->port_name)) {
    entry->binding = net_.get();
  }
  if (!entry->binding || !entry->binding->entry().CreatePort) {
    platform::Trace("Vexlink: CreatePort(%s, '%s'): no module takes this port", device_name,
                    port_name);
    return 0;
  }
  const int32_t id = entry->binding->entry().CreatePort();
  // com answers -1 when it cannot create the port; the caller takes any
  // nonzero answer as a handle, so pass on nothing but a real id.
  if (id <= 0) {
    platform::Trace("Vexlink: CreatePort(%s, '%s'): the %s module answered %d", device_name,
                    port_name, entry->binding->label().c_str(), id);
    return 0;
  }
  entry->id = id;
  std::lock_guard hold(entries_mutex_);
  entries_.push_front(std::move(entry));
  return id;
}

int32_t PortRouter::RemovePort(uint8_t owner_kind, int32_t port_id) {
  if (owner_kind != kOwnerPosPrinter) return 0;
  std::shared_ptr<Entry> entry;
  {
    std::lock_guard hold(entries_mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if ((*it)->id != port_id) continue;
      entry = *it;
      entries_.erase(it);
      break;
    }
  }
  if (!entry) {
    platform::Trace("Vexlink: RemovePort: no port %d", port_id);
    return 0;
  }
  // Removed without ClosePort: the printers still go back where they were.
  RestorePrinters(*entry);
  if (entry->binding->entry().DeletePort) entry->binding->entry().DeletePort(port_id);
  return 1;
}

int32_t PortRouter::SetDeviceOption(const DeviceOption& option, int32_t port_id) {
  auto entry = Find(port_id, "SetDeviceOption");
  if (!entry) return 0;
  return OnPort(*entry, 0, [&](const ModuleEntryPoints& m) {
    return m.SetDeviceOption ? m.SetDeviceOption(option) : 0;
  });
}

int32_t PortRouter::OpenPort(int32_t port_id) {
  auto entry = Find(port_id, "OpenPort");
  if (!entry) return 0;
  if (entry->kind == PortKind::kSerial) RedirectPrinters(*entry);
  const int32_t opened =
      OnPort(*entry, 0, [](const ModuleEntryPoints& m) { return m.OpenPort ? m.OpenPort() : 0; });
  if (opened == 0) {
    // No ClosePort will follow a failed open: put the printers back now rather
    // than leave them printing to a file.
    RestorePrinters(*entry);
    return 0;
  }
  return opened;
}

void PortRouter::ClosePort(int32_t port_id) {
  auto entry = Find(port_id, "ClosePort");
  if (!entry) return;
  if (IsLinePort(entry->kind)) RestorePrinters(*entry);
  OnPort(*entry, 0, [](const ModuleEntryPoints& m) {
    if (m.ClosePort) m.ClosePort();
    return 0;
  });
}

int32_t PortRouter::Write(const uint8_t* data, int32_t length, int32_t port_id) {
  auto entry = Find(port_id, "Write");
  if (!entry) return 0;
  return OnPort(*entry, 0,
                [&](const ModuleEntryPoints& m) { return m.Write ? m.Write(data, length) : 0; });
}

int32_t PortRouter::Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms, int32_t port_id) {
  auto entry = Find(port_id, "Read");
  if (!entry) return 0;
  return OnPort(*entry, 0, [&](const ModuleEntryPoints& m) {
    return m.Read ? m.Read(buffer, length, timeout_ms) : 0;
  });
}

void PortRouter::Clear(int32_t port_id) {
  auto entry = Find(port_id, "Clear");
  if (!entry) return;
  OnPort(*entry, 0, [](const ModuleEntryPoints& m) {
    if (m.Clear) m.Clear();
    return 0;
  });
}

int32_t PortRouter::GetInputBufferCount(int32_t port_id) {
  auto entry = Find(port_id, "GetInputBufferCount");
  if (!entry) return 0;
  return OnPort(*entry, 0, [](const ModuleEntryPoints& m) {
    return m.GetInputBufferCount ? m.GetInputBufferCount() : 0;
  });
}

int32_t PortRouter::IsPowerState(int32_t port_id) {
  auto entry = Find(port_id, "IsPowerState");
  if (!entry) return 0;
  return OnPort(*entry, 0,
                [](const ModuleEntryPoints& m) { return m.IsPowerState ? m.IsPowerState() : 0; });
}

int32_t PortRouter::GetASBState(uint8_t* status, int32_t port_id) {
  auto entry = Find(port_id, "GetASBState");
  if (!entry) return 0;
  return OnPort(*entry, 0, [&](const ModuleEntryPoints& m) {
    return m.GetASBState ? m.GetASBState(status) : 0;
  });
}

int32_t PortRouter::WaitASBState(uint32_t timeout_ms, int32_t port_id) {
  auto entry = Find(port_id, "WaitASBState");
  if (!entry) return kWaitUnavailable;
  return OnPort(*entry, kWaitUnavailable, [&](const ModuleEntryPoints& m) {
    return m.WaitASBState ? m.WaitASBState(timeout_ms) : kWaitUnavailable;
  });
}

bool PortRouter::MovePrinter(const std::string& printer, const std::string& port, bool* skipped) {
  *skipped = false;
  std::string current;
  platform::Status status = spooler_.GetPrinterPort(printer, &current);
  if (status.outcome() == platform::Outcome::kNotFound) {
    *skipped = true;
    return true;
  }
  if (status.ok()) status = spooler_.SetPrinterPort(printer, port);
  if (!status.ok()) {
    platform::Trace("Vexlink: cannot set printer '%s' to '%s': %s", printer.c_str(), port.c_str(),
                    status.ToString().c_str());
    return false;
  }
  return true;
}

void PortRouter::RedirectPrinters(Entry& entry) {
  std::vector<platform::PrinterPort> printers;
  const platform::Status listed = spooler_.EnumLocalPrinters(&printers);
  if (!listed.ok()) {
    platform::Trace("Vexlink: cannot list printers: %s", listed.ToString().c_str());
    return;
  }
  std::lock_guard hold(entry.printers_mutex);
  bool changing = true;
  for (const auto& printer : printers) {
    // A substring test: COM1 also takes a printer on COM10: or one pooled on
    // several ports, as the port strings are written.
    if (printer.port.find(entry.port_name) == std::string::npos) continue;
    entry.redirected[printer.printer] = printer.port;
    if (!changing) continue;
    bool skipped = false;
    changing = MovePrinter(printer.printer, kFilePort, &skipped);
    if (!skipped && changing) {
      platform::Trace("Vexlink: printer '%s' moved from '%s' to %s while port %d is open",
                      printer.printer.c_str(), printer.port.c_str(), kFilePort, entry.id);
    }
  }
}

void PortRouter::RestorePrinters(Entry& entry) {
  std::lock_guard hold(entry.printers_mutex);
  bool changing = true;
  for (const auto& [printer, previous] : entry.redirected) {
    if (!changing) break;
    bool skipped = false;
    changing = MovePrinter(printer, previous, &skipped);
  }
  entry.redirected.clear();
}

}  // namespace qz381::ports
