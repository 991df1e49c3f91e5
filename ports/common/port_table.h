#pragma once
// The port list and current-port selection of a module-form port module (com,
// usb): ids from the module's range, never reused, new ports at the head.
//
// The current port is chosen per calling thread. A caller driving several ports
// of one module from several threads (Vexlink, for several service objects)
// then makes "SetObject, then the call" one step without a lock around the
// call: a Write held back by flow control on one port does not hold up a
// status poll, a call on another port, or the ClosePort that ends that Write.
// A caller on one thread sees the one current port of old; a thread that has
// selected nothing (or whose port was deleted) has no current port, so it can
// never act on a port another thread chose.
//
// Safe from any thread. Ports are handed out as shared_ptr: a port deleted by
// one thread stays alive until another thread's call on it has returned.
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "ports/common/port_contract.h"

namespace qz381::ports {

template <class Port>
class PortTable {
 public:
  PortTable(int32_t id_base, int32_t id_limit) : ids_(id_base, id_limit) {}

  // CreatePort: a new port, made current, and its id; -1 (and no current port
  // for this thread) when the id range is used up. The port is made as
  // Port(args..., id). A constructor that throws spends the id and changes
  // nothing else.
  template <class... Args>
  int32_t Create(Args&&... args) {
    std::lock_guard hold(mutex_);
    const std::optional<int32_t> id = ids_.Next();
    if (!id) {
      SelectLocked(0);
      return -1;
    }
    auto port = std::make_shared<Port>(std::forward<Args>(args)..., *id);
    entries_.emplace_front(*id, std::move(port));
    SelectLocked(*id);
    return *id;
  }

  // SetObject: true when the id is known; an unknown id keeps the selection.
  bool Select(int32_t id) {
    std::lock_guard hold(mutex_);
    if (!FindLocked(id)) return false;
    SelectLocked(id);
    return true;
  }

  std::shared_ptr<Port> Find(int32_t id) const {
    std::lock_guard hold(mutex_);
    return FindLocked(id);
  }

  // DeletePort: takes the port out of the table and answers it, for the caller
  // to close outside the table's lock; null for an unknown id. No thread has it
  // current afterwards.
  std::shared_ptr<Port> Remove(int32_t id) {
    std::lock_guard hold(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->first != id) continue;
      std::shared_ptr<Port> port = std::move(it->second);
      entries_.erase(it);
      std::erase_if(selected_, [id](const auto& pair) { return pair.second == id; });
      return port;
    }
    return nullptr;
  }

  // The calling thread's current port, or null.
  std::shared_ptr<Port> Current() const {
    std::lock_guard hold(mutex_);
    return FindLocked(CurrentIdLocked());
  }
  int32_t CurrentId() const {
    std::lock_guard hold(mutex_);
    return CurrentIdLocked();
  }
  size_t size() const {
    std::lock_guard hold(mutex_);
    return entries_.size();
  }

 private:
  std::shared_ptr<Port> FindLocked(int32_t id) const {
    if (id == 0) return nullptr;
    for (const auto& [entry_id, port] : entries_) {
      if (entry_id == id) return port;
    }
    return nullptr;
  }
  void SelectLocked(int32_t id) {
    if (id == 0) {
      selected_.erase(std::this_thread::get_id());
    } else {
      selected_[std::this_thread::get_id()] = id;
    }
  }
  int32_t CurrentIdLocked() const {
    const auto mine = selected_.find(std::this_thread::get_id());
    return mine != selected_.end() ? mine->second : 0;
  }

  mutable std::mutex mutex_;
  PortIdAllocator ids_;
  std::list<std::pair<int32_t, std::shared_ptr<Port>>> entries_;
  // Per thread, its choice; trimmed when a port goes, so it holds at most one
  // entry per thread that selected a port still in the table.
  std::map<std::thread::id, int32_t> selected_;
};

}  // namespace qz381::ports
