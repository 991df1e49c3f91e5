#include "so/core/port_channel.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <list>

#include "common/opos.h"
#include "platform/sync.h"
#include "platform/trace.h"
#include "ports/common/port_kind.h"
#include "so/core/pos_printer.h"

namespace qz381::so {
namespace {

const char kProductKey[] = "Software\\OLEforRetail\\ServiceInfo\\VORNAQZ381 OPOS";

// How often the status thread asks the port module while the port is open, and
// how long it rests while it is not.
constexpr uint32_t kPollMs = 80;
constexpr uint32_t kIdleMs = 500;
// The most status blocks one cycle hands to the sink.
constexpr uint32_t kBlocksPerCycle = 64;
// What CloseChannel leaves the printer after turning automatic status off.
constexpr uint32_t kCloseSettleMs = 500;

struct Registration {
  std::shared_ptr<PortChannel> channel;
  std::string port_name;
  uint8_t owners = 0;  // 0 while the first registration is still under way
  // A registration or release is calling the port module for this entry with
  // the table lock let go; everyone else who wants the entry waits for it.
  bool busy = false;
};

// Changed only by OpenService and Close; the mutex makes several service objects
// opened or closed from different threads safe as well. It guards the table
// only: loading the managing module (which loads the port modules) and calling
// it happen with it let go, the entry marked busy.
std::mutex g_table_mutex;
std::condition_variable g_table_idle;  // an entry stopped being busy
std::list<Registration> g_table;       // newest at the head

// The first entry that `matches`, once no call is under way for it; end() when
// there is none. The lock is let go while waiting.
template <typename Matches>
std::list<Registration>::iterator FindIdle(std::unique_lock<std::mutex>& lock, Matches matches) {
  for (;;) {
    auto it = g_table.begin();
    while (it != g_table.end() && !matches(*it)) ++it;
    if (it == g_table.end() || !it->busy) return it;
    g_table_idle.wait(lock);
  }
}

template <typename Fn>
bool Bind(const platform::DynamicLibrary& lib, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(lib.Symbol(name));
  return *out != nullptr;
}

}  // namespace

PortChannel::~PortChannel() {
  UnbindPortModule();
}

bool PortChannel::BindPortModule(platform::Registry& registry) {
  std::string path;
  platform::Status st =
      platform::ReadText(registry, platform::Hive::kLocalMachine, kProductKey, "mngdir", &path);
  if (!st.ok()) {
    platform::Trace("BindPortModule: mngdir: %s", st.ToString().c_str());
    return false;
  }
  module_ = platform::DynamicLibrary::Load(path, &st);
  if (!module_) {
    platform::Trace("BindPortModule: %s", st.ToString().c_str());
    return false;
  }
  const auto& m = *module_;
  // CreatePort and RemovePort are looked up too but only the nine that every
  // claimed port needs decide whether the module is usable.
  Bind(m, "CreatePort", &CreatePort_);
  Bind(m, "RemovePort", &RemovePort_);
  Bind(m, "WaitASBState", &WaitASBState_);
  // Every one is looked up, so that the trace names each that is missing.
  const bool found[] = {Bind(m, "OpenPort", &OpenPort_),
                        Bind(m, "Write", &Write_),
                        Bind(m, "Read", &Read_),
                        Bind(m, "ClosePort", &ClosePort_),
                        Bind(m, "Clear", &Clear_),
                        Bind(m, "SetDeviceOption", &SetDeviceOption_),
                        Bind(m, "GetInputBufferCount", &GetInputBufferCount_),
                        Bind(m, "IsPowerState", &IsPowerState_),
                        Bind(m, "GetASBState", &GetASBState_)};
  const bool ok = std::all_of(std::begin(found), std::end(found), [](bool b) { return b; });
  if (!ok) {
    platform::Trace("BindPortModule: %s lacks a required entry point", path.c_str());
    UnbindPortModule();
    return false;
  }
  return true;
}

void PortChannel::UnbindPortModule() {
  CreatePort_ = nullptr;
  RemovePort_ = nullptr;
  SetDeviceOption_ = nullptr;
  OpenPort_ = nullptr;
  ClosePort_ = nullptr;
  Write_ = nullptr;
  Read_ = nullptr;
  Clear_ = nullptr;
  GetInputBufferCount_ = nullptr;
  IsPowerState_ = nullptr;
  GetASBState_ = nullptr;
  WaitASBState_ = nullptr;
  module_.reset();
}

bool PortChannel::OpenChannel(const ports::DeviceOption& option, uint8_t owner) {
  if (open_owners_ != 0) {
    open_owners_ |= owner;
    return true;
  }
  if (!SetDeviceOption_ || !OpenPort_) return false;
  if (SetDeviceOption_(option, handle_) == 0) {
    platform::Trace("OpenChannel: port %d refused the settings", handle());
    return false;
  }
  if (OpenPort_(handle_) == 0) {
    platform::Trace("OpenChannel: port %d did not open", handle());
    return false;
  }
  line_port_ = ports::IsLinePort(ports::PortKindOf(ports::PortNameOf(option)));
  stop_ = false;
  open_owners_ |= owner;
  stop_event_.Reset();
  status_thread_ = std::thread([this] { StatusThreadMain(); });
  return true;
}

void PortChannel::StopStatusThread() {
  stop_event_.Set();
  stop_ = true;
  if (status_thread_.joinable()) status_thread_.join();
}

// Polls the port module for status blocks and the power state while the port is
// open; every wait is on the stop event, so closing ends it at once.
void PortChannel::StatusThreadMain() {
  int32_t last_power = -5;
  for (;;) {
    uint32_t wait_ms = kIdleMs;
    if (open_owners_ != 0) {
      if (stop_) return;
      wait_ms = kPollMs;
      // Every block buffered since the last cycle, not one a cycle: a burst
      // (cover, paper and drawer at once) would otherwise reach the sink a poll
      // interval apart. Bounded so that a printer that never stops talking
      // cannot keep the power state and the stop request from being looked at.
      uint8_t block[4] = {0, 0, 0, 0};
      for (uint32_t n = 0; n < kBlocksPerCycle && GetASBState_ && !stop_; ++n) {
        if (GetASBState_(block, handle_) == 0) break;
        if (block[0] == 0x35 && block[3] == 0x00)
          TellSink([&](StatusSink& sink) { sink.OnCartridgeBlock(block); });
        else
          TellSink([&](StatusSink& sink) { sink.OnAsbBlock(block); });
      }
      int32_t power = IsPowerState_ ? IsPowerState_(handle_) : opos::OPOS_PS_UNKNOWN;
      if (power != last_power) {
        last_power = power;
        if (power == opos::OPOS_PS_ONLINE) {
          LockChannel(-1);
          WriteCommand(printer_commands::kNul);
          WriteCommand(printer_commands::kAutoStatusOn);
          UnlockChannel();
          // Told with the lock given back: the sink answers with commands of its own.
          if (!line_port_)
            TellSink([](StatusSink& sink) { sink.OnPowerState(opos::OPOS_PS_ONLINE); });
        } else {
          if (power == opos::OPOS_PS_OFFLINE) power_losses_.fetch_add(1);
          TellSink([](StatusSink& sink) { sink.OnPowerState(opos::OPOS_PS_OFFLINE); });
        }
      }
    }
    // Where the port module can wait for a status block, the thread sleeps in
    // it for the poll interval instead, woken as soon as a block is buffered;
    // the interval still bounds how late the power state and a stop request
    // are looked at. A port that cannot wait now is polled as before.
    if (wait_ms == kPollMs && WaitASBState_ &&
        WaitASBState_(kPollMs, handle_) != ports::kWaitUnavailable) {
      if (clock_.Wait(stop_event_, 0)) return;
      continue;
    }
    if (clock_.Wait(stop_event_, wait_ms)) return;
  }
}

void PortChannel::TellSink(const std::function<void(StatusSink&)>& tell) {
  StatusSink* sink;
  {
    std::lock_guard<std::mutex> guard(sink_mutex_);
    sink = sink_;
    if (!sink) return;
    ++sink_calls_;
    sink_caller_ = std::this_thread::get_id();
  }
  tell(*sink);
  std::lock_guard<std::mutex> guard(sink_mutex_);
  if (--sink_calls_ == 0) sink_idle_.notify_all();
}

void PortChannel::SetStatusSink(StatusSink* sink) {
  std::unique_lock<std::mutex> guard(sink_mutex_);
  if (sink_ == sink) return;
  sink_ = sink;
  if (sink_calls_ == 0) return;
  if (sink_caller_ == std::this_thread::get_id()) {
    // The sink itself let go of the port: waiting would wait for this call.
    platform::Trace("SetStatusSink: changed from within a sink call; not waiting for it");
    return;
  }
  // No new call reaches the old sink; the one in flight ends on its own (the
  // sink's calls take no lock of the channel).
  sink_idle_.wait(guard, [this] { return sink_calls_ == 0; });
}

PortChannel::StatusSink* PortChannel::status_sink() {
  std::lock_guard<std::mutex> guard(sink_mutex_);
  return sink_;
}

void PortChannel::CloseChannel(uint8_t owner) {
  if ((open_owners_ & owner) == 0) return;
  LockChannel(-1);
  WriteCommand(printer_commands::kAutoStatusOff);
  UnlockChannel();
  clock_.Sleep(kCloseSettleMs);
  open_owners_ &= static_cast<uint8_t>(~owner);
  if (open_owners_ == 0) {
    StopStatusThread();
    if (ClosePort_) ClosePort_(handle_);
  }
}

int32_t PortChannel::WriteChannel(const uint8_t* bytes, int32_t count) {
  if (open_owners_ == 0 || !Write_) return 0;
  return Write_(bytes, count, handle_);
}

void PortChannel::AbortWrite() {
  if (open_owners_ == 0 || !ClosePort_) return;
  platform::Trace("port %d: closed under a write in progress", static_cast<int>(handle_));
  ClosePort_(handle_);
}

bool PortChannel::WriteCommand(printer_commands::Command command) {
  const auto count = static_cast<int32_t>(command.size());
  return WriteChannel(command.data(), count) == count;
}

int32_t PortChannel::ReadChannel(uint8_t* buffer, int32_t count, uint32_t timeout_ms) {
  if (open_owners_ == 0 || !Read_) return 0;
  return Read_(buffer, count, timeout_ms, handle_);
}

bool TimedLock::Lock(int32_t timeout_ms) {
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> guard(mutex_);
  if (locked_ && owner_ == me) {
    platform::Trace("TimedLock: the owner asked for the lock again; refused");
    return false;
  }
  auto free = [&] { return !locked_; };
  if (timeout_ms < 0) {
    released_.wait(guard, free);
  } else if (!released_.wait_for(guard, std::chrono::milliseconds(timeout_ms), free)) {
    return false;
  }
  owner_ = me;
  locked_ = true;
  return true;
}

void TimedLock::Unlock() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!locked_ || owner_ != std::this_thread::get_id()) return;  // not ours
    locked_ = false;
    owner_ = std::thread::id();
  }
  released_.notify_one();
}

bool PortChannel::LockChannel(int32_t timeout_ms) {
  return lock_.Lock(timeout_ms);
}

void PortChannel::UnlockChannel() {
  lock_.Unlock();
}

void PortChannel::ClearChannel() {
  if (Clear_) Clear_(handle_);
}

std::shared_ptr<PortChannel> RegisterPort(const std::string& device_name,
                                          const std::string& port_name, uint8_t owner,
                                          platform::Registry& registry, platform::Clock& clock) {
  std::unique_lock<std::mutex> lock(g_table_mutex);
  auto it = FindIdle(lock, [&](const Registration& r) { return r.port_name == port_name; });
  if (it != g_table.end() && (it->owners & owner)) {
    platform::Trace("RegisterPort: %s is already registered by owner %u", port_name.c_str(), owner);
    return nullptr;
  }
  // Decided: a new entry (held by nobody until the module takes the port) or
  // another owner for this one. Marked busy, it stays in the table meanwhile.
  const bool fresh = it == g_table.end();
  if (fresh) {
    g_table.push_front(Registration{std::make_shared<PortChannel>(clock), port_name});
    it = g_table.begin();
  }
  it->busy = true;
  std::shared_ptr<PortChannel> channel = it->channel;
  lock.unlock();

  int32_t handle = 0;
  if (!fresh || channel->BindPortModule(registry)) {
    handle = channel->CreatePort_
                 ? channel->CreatePort_(device_name.c_str(), port_name.c_str(), owner)
                 : 0;
    if (handle == 0) platform::Trace("RegisterPort: the port module refused %s", port_name.c_str());
  }

  std::shared_ptr<PortChannel> unused;
  lock.lock();
  it->busy = false;  // nobody erases a busy entry, so `it` still names it
  if (handle != 0) {
    channel->handle_ = handle;
    it->owners |= owner;
  } else if (it->owners == 0) {
    unused = std::move(it->channel);  // unbound outside the lock
    g_table.erase(it);
  }
  lock.unlock();
  g_table_idle.notify_all();
  if (handle == 0) return nullptr;
  return channel;
}

int32_t UnregisterPort(uint8_t owner, int32_t handle) {
  if (owner != 1 && owner != 2) return 0;
  std::unique_lock<std::mutex> lock(g_table_mutex);
  auto it = FindIdle(
      lock, [&](const Registration& r) { return r.owners != 0 && r.channel->handle() == handle; });
  if (it == g_table.end()) return 0;
  if ((it->owners & owner) == 0) {
    platform::Trace("UnregisterPort: port %d is not held by owner %u", handle, owner);
    return 0;
  }
  if ((it->owners & static_cast<uint8_t>(~owner)) != 0) {
    // Another owner keeps the entry: let this one go, then tell the module.
    it->owners &= static_cast<uint8_t>(~owner);
    it->busy = true;
    PortChannel& channel = *it->channel;
    lock.unlock();
    if (channel.RemovePort_) channel.RemovePort_(owner, handle);
    lock.lock();
    it->busy = false;
    lock.unlock();
    g_table_idle.notify_all();
    return 1;
  }
  std::shared_ptr<PortChannel> doomed = std::move(it->channel);
  g_table.erase(it);
  lock.unlock();
  if (doomed->RemovePort_) doomed->RemovePort_(owner, handle);
  doomed.reset();  // the last holder's release unbinds the module
  return 1;
}

std::shared_ptr<PortChannel> FindChannel(int32_t handle) {
  std::lock_guard<std::mutex> guard(g_table_mutex);
  for (auto& r : g_table)
    if (r.owners != 0 && r.channel->handle() == handle) return r.channel;
  return nullptr;
}

}  // namespace qz381::so
