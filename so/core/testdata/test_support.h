#pragma once
// Test equipment shared by the service object, control object and tool tests:
// the fake managing port module seen from the test side, a scratch folder, and a
// device entry plus capability profile written the way an installation does.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "platform/dynlib.h"
#include "platform/msgwindow.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sync.h"

namespace qz381::testing {

inline constexpr char kProductKey[] = "Software\\OLEforRetail\\ServiceInfo\\VORNAQZ381 OPOS";
inline constexpr char kDeviceKeyPrefix[] = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\";

// Hex notation of a byte string: "00 1B 3D".
inline std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  }
  return out;
}

// The fake module's test exports, reached through the same load the service
// object makes (the operating system shares one copy).
class FakeVexlink {
 public:
  FakeVexlink() {
    platform::Status st;
    lib_ = platform::DynamicLibrary::Load(QZ381_FAKE_VEXLINK, &st);
    if (!lib_) {
      ADD_FAILURE() << "fake port module: " << st.ToString();
      return;
    }
    Bind("FakeVexlinkReset", &reset_);
    Bind("FakeVexlinkTakeWritten", &take_);
    Bind("FakeVexlinkLastCreated", &last_created_);
    Bind("FakeVexlinkShortWrites", &short_writes_);
    Bind("FakeVexlinkFailOpen", &fail_open_);
    Bind("FakeVexlinkHoldWrites", &hold_writes_);
    Bind("FakeVexlinkHeldWrites", &held_writes_);
    Bind("FakeVexlinkCount", &count_);
    Bind("FakeVexlinkLastBaudRate", &baud_);
    Bind("FakeVexlinkThreadCount", &thread_count_);
    Bind("FakeVexlinkLastThread", &last_thread_);
    Bind("FakeVexlinkSetPowerState", &set_power_);
    Bind("FakeVexlinkPushStatusBlock", &push_block_);
    Bind("FakeVexlinkStatusBlocksLeft", &blocks_left_);
    reset_();
  }
  static std::string Path() { return QZ381_FAKE_VEXLINK; }

  void Reset() { reset_(); }
  // Hex of the bytes written to the port since the last take.
  std::string Take(int32_t port) {
    std::string out(4096, '\0');
    int32_t n = take_(port, reinterpret_cast<uint8_t*>(out.data()), 4096);
    out.resize(static_cast<size_t>(n));
    return Hex(out);
  }
  int32_t LastCreated(std::string* name = nullptr) {
    char buf[300];
    int32_t id = last_created_(buf, sizeof buf);
    if (name) *name = buf;
    return id;
  }
  void ShortWrites(int32_t full, int32_t count) { short_writes_(full, count); }
  void FailOpen(bool fail) { fail_open_(fail ? 1 : 0); }
  // Every write to an open port waits until the port closes or the hold is
  // lifted, as a printer holds writes back by flow control.
  void HoldWrites(bool hold) { hold_writes_(hold ? 1 : 0); }
  int32_t HeldWrites() { return held_writes_(); }
  int32_t Count(const char* entry) { return count_(entry); }
  uint32_t LastBaudRate() { return baud_(); }
  int32_t ThreadCount() { return thread_count_(); }
  uint64_t LastThread() { return last_thread_(); }
  // What IsPowerState answers from now on.
  void SetPowerState(int32_t code) { set_power_(code); }
  // The next GetASBState answers these four bytes (once).
  void PushStatusBlock(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    const uint8_t block[4] = {b0, b1, b2, b3};
    push_block_(block);
  }
  int32_t StatusBlocksLeft() { return blocks_left_(); }

 private:
  template <typename Fn>
  void Bind(const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(lib_->Symbol(name));
    if (!*out) ADD_FAILURE() << "fake port module lacks " << name;
  }
  std::unique_ptr<platform::DynamicLibrary> lib_;
  void (*reset_)() = nullptr;
  int32_t (*take_)(int32_t, uint8_t*, int32_t) = nullptr;
  int32_t (*last_created_)(char*, int32_t) = nullptr;
  void (*short_writes_)(int32_t, int32_t) = nullptr;
  void (*fail_open_)(int32_t) = nullptr;
  void (*hold_writes_)(int32_t) = nullptr;
  int32_t (*held_writes_)() = nullptr;
  int32_t (*count_)(const char*) = nullptr;
  uint32_t (*baud_)() = nullptr;
  int32_t (*thread_count_)() = nullptr;
  uint64_t (*last_thread_)() = nullptr;
  void (*set_power_)(int32_t) = nullptr;
  void (*push_block_)(const uint8_t*) = nullptr;
  int32_t (*blocks_left_)() = nullptr;
};

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("qz381-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The shipped capability profile, with `edit` applied, saved at `path`.
inline void WriteProfile(const std::string& path,
                         const std::function<void(platform::IniFile&)>& edit = {}) {
  platform::IniFile ini = platform::IniFile::Parse(ReadWholeFile(QZ381_SHIPPED_PROFILE));
  if (edit) edit(ini);
  platform::Status st = ini.Save(path);
  ASSERT_TRUE(st.ok()) << st.ToString();
}

// mngdir naming the fake module and a serial device entry `name` on `port`
// whose profile is `profile`.
inline void WriteDeviceEntry(platform::Registry& reg, const std::string& name,
                             const std::string& port, const std::string& profile) {
  using platform::Hive;
  using platform::RegValue;
  const std::string key = std::string(kDeviceKeyPrefix) + name;
  reg.SetValue(Hive::kLocalMachine, kProductKey, "mngdir", RegValue::Text(FakeVexlink::Path()));
  reg.SetValue(Hive::kLocalMachine, key, "",
               RegValue::Text("VORNAQZ381.POSPrinter.ServiceObject.1.9"));
  reg.SetValue(Hive::kLocalMachine, key, "Port", RegValue::Text(port));
  reg.SetValue(Hive::kLocalMachine, key, "BaudRate", RegValue::Text("19200"));
  reg.SetValue(Hive::kLocalMachine, key, "BitLength", RegValue::Text("8"));
  reg.SetValue(Hive::kLocalMachine, key, "Parity", RegValue::Text("0"));
  reg.SetValue(Hive::kLocalMachine, key, "Stop", RegValue::Text("0"));
  reg.SetValue(Hive::kLocalMachine, key, "OutputBuf", RegValue::Text("4096"));
  reg.SetValue(Hive::kLocalMachine, key, "InputBuf", RegValue::Text("4096"));
  reg.SetValue(Hive::kLocalMachine, key, "Type", RegValue::Dword(1));
  reg.SetValue(Hive::kLocalMachine, key, "DeviceDesc", RegValue::Text("QZ381 thermal receipt"));
  reg.SetValue(Hive::kLocalMachine, key, "DeviceName", RegValue::Text("QZ381 Receipt"));
  reg.SetValue(Hive::kLocalMachine, key, "Description", RegValue::Text("QZ381 service object"));
  reg.SetValue(Hive::kLocalMachine, key, "inf", RegValue::Text(profile));
  reg.SetValue(Hive::kLocalMachine, key, "Version", RegValue::Text("1.9.3"));
}

// Pumps the calling thread's messages until `done` holds or `ms` passed.
inline bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 3000) {
  uint32_t start = platform::TickCount();
  while (!done()) {
    if (platform::TickCount() - start > ms) return false;
    platform::WaitAndPumpMessages(10);
  }
  return true;
}

// Pumps for `ms` whatever arrives (to show that nothing does).
inline void PumpFor(uint32_t ms) {
  uint32_t start = platform::TickCount();
  while (platform::TickCount() - start < ms) platform::WaitAndPumpMessages(5);
}

}  // namespace qz381::testing
