#pragma once
// The port list and current-port selection of a module-form port module (com,
// usb): ids from the module's range, new ports at the head, and the one
// process-wide current port that the port-less exports act on. Unlocked, as the
// exports are: a caller driving several ports from several threads must make
// "select, then call" one step of its own (Vexlink does).
#include <cstdint>
#include <list>
#include <memory>
#include <new>
#include <utility>

#include "ports/common/port_contract.h"

namespace qz381::ports {

template <class Port>
class PortTable {
 public:
  PortTable(int32_t id_base, int32_t id_limit) : ids_(id_base, id_limit) {}

  // CreatePort: a new port made current, and its id; -1 (and no current port)
  // when it cannot be created or the id range is used up.
  template <class... Args>
  int32_t Create(Args&&... args) {
    current_ = nullptr;
    current_id_ = 0;
    std::unique_ptr<Port> port;
    try {
      port = std::make_unique<Port>(std::forward<Args>(args)...);
    } catch (const std::bad_alloc&) {
      return -1;
    }
    const std::optional<int32_t> id = ids_.Next();
    if (!id) return -1;
    current_ = port.get();
    current_id_ = *id;
    entries_.emplace_front(*id, std::move(port));
    return *id;
  }

  // SetObject: true when the id is known; an unknown id keeps the selection.
  bool Select(int32_t id) {
    Port* port = Find(id);
    if (port == nullptr) return false;
    current_ = port;
    current_id_ = id;
    return true;
  }

  // The first entry from the head with this id, or null.
  Port* Find(int32_t id) const {
    for (const auto& [entry_id, port] : entries_) {
      if (entry_id == id) return port.get();
    }
    return nullptr;
  }

  // DeletePort: takes the port out of the table (the caller closes it and lets
  // it go); null for an unknown id. Deleting the current port leaves none current.
  std::unique_ptr<Port> Remove(int32_t id) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->first != id) continue;
      std::unique_ptr<Port> port = std::move(it->second);
      entries_.erase(it);
      if (current_ == port.get()) {
        current_ = nullptr;
        current_id_ = 0;
      }
      return port;
    }
    return nullptr;
  }

  Port* Current() const { return current_; }
  int32_t CurrentId() const { return current_id_; }
  size_t size() const { return entries_.size(); }

 private:
  PortIdAllocator ids_;
  std::list<std::pair<int32_t, std::unique_ptr<Port>>> entries_;
  Port* current_ = nullptr;
  int32_t current_id_ = 0;
};

}  // namespace qz381::ports
