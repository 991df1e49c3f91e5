// A stand-in for the managing port module: the managing form of the port
// contract, with every byte written kept per port instead of reaching a
// printer, and a few test-only exports to read what happened and to make the
// next writes short or held back, or the next OpenPort fail. Tests load it by
// path (the same path mngdir names), so both sides see one copy of this state.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/thread_id.h"
#include "ports/common/managing_exports.h"
#include "ports/common/net_address.h"

namespace {

struct FakePort {
  std::string device, name;
  bool open = false;
  bool reply_pending = false;  // a status request waits for its answer
};

struct Counters {
  int32_t create = 0, remove = 0, option = 0, open = 0, close = 0, clear = 0, write = 0, power = 0;
  int32_t held_until_close = 0;  // held writes that ClosePort ended
};

std::mutex g_mutex;
std::map<int32_t, FakePort> g_ports;
// Kept apart from the ports: what was written stays readable after RemovePort.
std::map<int32_t, std::string> g_written;
int32_t g_next_id = 10000;  // never reset: a stale handle never names a new port
int32_t g_last_created = 0;
Counters g_count;
int32_t g_full_writes_left = -1;  // -1: every write is complete
int32_t g_short_writes = 0;
bool g_fail_open = false;
uint32_t g_last_baud = 0;
int32_t g_power = qz381::ports::kPowerStateUnknown;
// Status blocks the next GetASBState calls answer, one each, oldest first.
std::deque<std::array<uint8_t, 4>> g_blocks;
std::condition_variable g_block_pushed;  // for WaitASBState
// Writes held back, as flow control holds a real one, until the port closes,
// the hold is lifted or (a safety net for a test that never closes the port)
// kHoldLimit passes.
bool g_hold_writes = false;
int32_t g_held_writes = 0;  // held now
std::condition_variable g_hold_changed;
constexpr auto kHoldLimit = std::chrono::seconds(20);
std::set<uint64_t> g_threads;
uint64_t g_last_thread = 0;

// The system's thread number: std::thread ids are numbered by each module's
// own copy of the threads library on Windows, so they mean nothing across
// modules.
uint64_t ThisThread() {
  return qz381::platform::CurrentThreadNumber();
}

// Called with g_mutex held by every entry point.
void Note() {
  g_last_thread = ThisThread();
  g_threads.insert(g_last_thread);
}

}  // namespace

extern "C" {

int32_t QZ381_PORT_CALL CreatePort(const char* device_name, const char* port_name,
                                   uint8_t /*owner_kind*/) {
  std::lock_guard<std::mutex> guard(g_mutex);
  Note();
  ++g_count.create;
  if (!port_name || !*port_name) return 0;
  for (auto& [id, port] : g_ports)
    if (port.name == port_name) return g_last_created = id;
  int32_t id = g_next_id++;
  g_ports[id] = FakePort{device_name ? device_name : "", port_name, false, false};
  return g_last_created = id;
}

int32_t QZ381_PORT_CALL RemovePort(uint8_t owner_kind, int32_t port_id) {
  std::lock_guard<std::mutex> guard(g_mutex);
  Note();
  ++g_count.remove;
  return owner_kind == 1 && g_ports.erase(port_id) ? 1 : 0;
}

int32_t QZ381_PORT_CALL SetDeviceOption(qz381::ports::DeviceOption option, int32_t port_id) {
  std::lock_guard<std::mutex> guard(g_mutex);
  Note();
  ++g_count.option;
  g_last_baud = option.baudRate;
  return g_ports.count(port_id) ? 1 : 0;
}

int32_t QZ381_PORT_CALL OpenPort(int32_t port_id) {
  std::lock_guard<std::mutex> guard(g_mutex);
  Note();
  ++g_count.open;
  auto it = g_ports.find(port_id);
  if (it == g_ports.end() || g_fail_open) return 0;
  it->second.open = true;
  return 1;
}

void QZ381_PORT_CALL ClosePort(int32_t port_id) {
  std::lock_guard<std::mutex> guard(g_mutex);
  Note();
  ++g_count.close;
  auto it = g_ports.find(port_id);
  if (it != g_ports.end()) it->second.open = false;
  g_hold_changed.notify_all();
}

int32_t QZ381_PORT_CALL Write(const uint8_t* data, int32_t length, int32_t port_id) {
  std::unique_lock<std::mutex> guard(g_mutex);
  Note();
  ++g_count.write;
  auto it = g_ports.find(port_id);
  if (it == g_ports.end() || !it->second.open || !data || length <= 0) return 0;
  if (g_hold_writes) {
    auto open = [port_id] {
      auto port = g_ports.find(port_id);
      return port != g_ports.end() && port->second.open;
    };
    ++g_held_writes;
    g_hold_changed.wait_for(guard, kHoldLimit, [&] { return !g_hold_writes || !open(); });
    --g_held_writes;
    if (!open()) {
      ++g_count.held_until_close;
      return 0;
    }
    it = g_ports.find(port_id);
  }
  int32_t n = length;
  if (g_full_writes_left == 0 && g_short_writes > 0) {
    --g_short_writes;
    n = length - 1;
  } else if (g_full_writes_left > 0) {
    --g_full_writes_left;
  }
  g_written[port_id].append(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
  // A printer on a network port answers the status request that confirms a
  // job ("ready"); serial ports here stay silent, as before.
  static const std::string kStatusRequest("\x10\x04\x03", 3);
  if (std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(n)) == kStatusRequest &&
      qz381::ports::IsNetworkAddress(it->second.name)) {
    it->second.reply_pending = true;
  }
  return n;
}

int32_t QZ381_PORT_CALL Read(uint8_t* buffer, int32_t length, uint32_t /*timeout_ms*/,
                             int32_t port_id) {
  std::lock_guard<std::mutex> guard(g_mutex);
  Note();
  auto it = g_ports.find(port_id);
  if (it == g_ports.end() || !it->second.reply_pending || !buffer || length <= 0) return 0;
  it->second.reply_pending = false;
  buffer[0] = 0x12;
  return 1;
}

void QZ381_PORT_CALL Clear(int32_t /*port_id*/) {
  std::lock_guard<std::mutex> guard(g_mutex);
  Note();
  ++g_count.clear;
}

int32_t QZ381_PORT_CALL GetInputBufferCount(int32_t /*port_id*/) {
  return 0;
}

// Unknown by default: a line whose power state is not known makes the service
// object write nothing and report nothing, so the bytes a test sees are only
// those of the calls it makes.
int32_t QZ381_PORT_CALL IsPowerState(int32_t /*port_id*/) {
  std::lock_guard<std::mutex> guard(g_mutex);
  ++g_count.power;
  return g_power;
}

int32_t QZ381_PORT_CALL GetASBState(uint8_t* status, int32_t /*port_id*/) {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (g_blocks.empty() || !status) return 0;
  std::memcpy(status, g_blocks.front().data(), 4);
  g_blocks.pop_front();
  return 1;
}

// Sleeps until a block is queued, as com does for a block the reader stores.
int32_t QZ381_PORT_CALL WaitASBState(uint32_t timeout_ms, int32_t /*port_id*/) {
  std::unique_lock<std::mutex> guard(g_mutex);
  return g_block_pushed.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                                 [] { return !g_blocks.empty(); })
             ? 1
             : 0;
}

// --- test-only exports -------------------------------------------------------

// Forgets the counters, the recorded threads and any pending failure.
QZ381_PORT_EXPORT void FakeVexlinkReset() {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_written.clear();
  g_count = {};
  g_full_writes_left = -1;
  g_short_writes = 0;
  g_fail_open = false;
  g_hold_writes = false;
  g_hold_changed.notify_all();
  g_power = qz381::ports::kPowerStateUnknown;
  g_blocks.clear();
  g_threads.clear();
  g_last_thread = 0;
  g_last_created = 0;
}

// Moves the bytes written to the port so far into `buffer`; answers their count
// (at most `capacity`).
QZ381_PORT_EXPORT int32_t FakeVexlinkTakeWritten(int32_t port_id, uint8_t* buffer,
                                                 int32_t capacity) {
  std::lock_guard<std::mutex> guard(g_mutex);
  std::string& w = g_written[port_id];
  int32_t n = static_cast<int32_t>(w.size()) < capacity ? static_cast<int32_t>(w.size()) : capacity;
  std::memcpy(buffer, w.data(), static_cast<size_t>(n));
  w.erase(0, static_cast<size_t>(n));
  return n;
}

// The id the last CreatePort answered (0 when none since the reset); its port
// name goes to `name`.
QZ381_PORT_EXPORT int32_t FakeVexlinkLastCreated(char* name, int32_t capacity) {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (capacity > 0) name[0] = '\0';
  auto it = g_ports.find(g_last_created);
  if (it == g_ports.end()) return g_last_created;
  std::strncpy(name, it->second.name.c_str(), static_cast<size_t>(capacity));
  if (capacity > 0) name[capacity - 1] = '\0';
  return g_last_created;
}

// After `full` complete writes, the next `count` writes each transfer one byte
// less than asked.
QZ381_PORT_EXPORT void FakeVexlinkShortWrites(int32_t full, int32_t count) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_full_writes_left = full;
  g_short_writes = count;
}

QZ381_PORT_EXPORT void FakeVexlinkFailOpen(int32_t fail) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_fail_open = fail != 0;
}

// While `hold` is set, every write to an open port waits until that port
// closes (and then writes nothing) or the hold is lifted.
QZ381_PORT_EXPORT void FakeVexlinkHoldWrites(int32_t hold) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_hold_writes = hold != 0;
  g_hold_changed.notify_all();
}

// Writes being held back now.
QZ381_PORT_EXPORT int32_t FakeVexlinkHeldWrites() {
  std::lock_guard<std::mutex> guard(g_mutex);
  return g_held_writes;
}

// Calls of one entry point since the reset: "CreatePort", "RemovePort",
// "SetDeviceOption", "OpenPort", "ClosePort", "Clear", "Write" or "IsPowerState";
// "HeldUntilClose" counts the held writes that ended with their port closing.
QZ381_PORT_EXPORT int32_t FakeVexlinkCount(const char* entry) {
  std::lock_guard<std::mutex> guard(g_mutex);
  const std::string e = entry ? entry : "";
  if (e == "CreatePort") return g_count.create;
  if (e == "RemovePort") return g_count.remove;
  if (e == "SetDeviceOption") return g_count.option;
  if (e == "OpenPort") return g_count.open;
  if (e == "ClosePort") return g_count.close;
  if (e == "Clear") return g_count.clear;
  if (e == "Write") return g_count.write;
  if (e == "IsPowerState") return g_count.power;
  if (e == "HeldUntilClose") return g_count.held_until_close;
  return -1;
}

// What IsPowerState answers from now on.
QZ381_PORT_EXPORT void FakeVexlinkSetPowerState(int32_t code) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_power = code;
}

// Queues a four-byte status block for GetASBState.
QZ381_PORT_EXPORT void FakeVexlinkPushStatusBlock(const uint8_t* block) {
  std::lock_guard<std::mutex> guard(g_mutex);
  std::array<uint8_t, 4> b;
  std::memcpy(b.data(), block, 4);
  g_blocks.push_back(b);
  g_block_pushed.notify_all();
}

// Status blocks not yet taken by GetASBState.
QZ381_PORT_EXPORT int32_t FakeVexlinkStatusBlocksLeft() {
  std::lock_guard<std::mutex> guard(g_mutex);
  return static_cast<int32_t>(g_blocks.size());
}

QZ381_PORT_EXPORT uint32_t FakeVexlinkLastBaudRate() {
  std::lock_guard<std::mutex> guard(g_mutex);
  return g_last_baud;
}

// How many threads called an entry point since the reset, and the last one
// (its system thread number).
QZ381_PORT_EXPORT int32_t FakeVexlinkThreadCount() {
  std::lock_guard<std::mutex> guard(g_mutex);
  return static_cast<int32_t>(g_threads.size());
}
QZ381_PORT_EXPORT uint64_t FakeVexlinkLastThread() {
  std::lock_guard<std::mutex> guard(g_mutex);
  return g_last_thread;
}

}  // extern "C"
