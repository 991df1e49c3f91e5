#pragma once
// An installation made in the test: a folder with setup.inf and posprn.inf,
// Installdir pointing at it, and helpers that read the registry back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "setup/install.h"
#include "setup/setup_store.h"

namespace qz381::setup {

inline constexpr const char* kTestSetupInf =
    "[Description]\n"
    "VersionDescription=QZ381 OPOS Setup Ver 1.9.12\n"
    "Version=1.9.12\n"
    "COMRange=8\n"
    "LPTRange=1\n"
    "LPTMRange=2\n"
    "[READPOSPRINTER]\n"
    "READPrinter1=QZ381\n"
    "READPrinter2=QZ999\n";

inline constexpr const char* kTestPosprnInf =
    "[QZ381]\n"
    "DeviceDesc=QZ381 Thermal Receipt Printer\n"
    "SOName=VORNAQZ381.POSPrinter.ServiceObject.1.9\n"
    "Description=QZ381 POSPrinter Service Object\n"
    "Vid=3A81\n"
    "Pid=0381\n"
    "TYPE=2\n"
    "PORT=4\n"
    "MODELCODE=381\n"
    "[QZ999]\n"
    "DeviceDesc=Other\n"
    "SOName=X\n"
    "Description=Y\n"
    "Vid=0001\n"
    "PORT=0\n";

// Messages and confirmations as a test sees them.
class RecordingUi : public UserInterface {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool Confirm(const std::string& text, const std::string& caption) override {
    messages.push_back(caption + ": " + text);
    return confirm;
  }
  std::vector<std::string> messages;
  bool confirm = true;
};

class SetupTest : public ::testing::Test {
 protected:
  SetupTest()
      : dir_(std::filesystem::temp_directory_path() /
             ("qz381-setup-" + std::to_string(std::random_device{}()))) {
    std::filesystem::create_directories(dir_);
    WriteFile("setup.inf", kTestSetupInf);
    WriteFile("posprn.inf", kTestPosprnInf);
    reg_->SetValue(platform::Hive::kLocalMachine, kProductKey, "Installdir",
                   platform::RegValue::Text(dir_.string()));
  }
  ~SetupTest() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static std::string DeviceKey(const std::string& name) {
    return std::string(kClassKey) + "\\" + name;
  }
  // "<missing>" when the value cannot be read as text.
  std::string Text(const std::string& key, const std::string& name) {
    std::string text = "<missing>";
    platform::ReadText(*reg_, platform::Hive::kLocalMachine, key, name, &text);
    return text;
  }
  std::string DeviceText(const std::string& device, const std::string& name) {
    return Text(DeviceKey(device), name);
  }
  uint32_t DeviceNumber(const std::string& device, const std::string& name) {
    uint32_t number = 0xFFFFFFFF;
    platform::ReadNumber(*reg_, platform::Hive::kLocalMachine, DeviceKey(device), name, &number);
    return number;
  }
  void SetDeviceText(const std::string& device, const std::string& name, const std::string& text) {
    reg_->SetValue(platform::Hive::kLocalMachine, DeviceKey(device), name,
                   platform::RegValue::Text(text));
  }
  void SetAlias(const std::string& ldn, const std::string& device) {
    reg_->SetValue(platform::Hive::kLocalMachine, kClassKey, ldn, platform::RegValue::Text(device));
  }
  std::vector<std::string> ClassValues() {
    std::vector<std::string> names;
    reg_->EnumValues(platform::Hive::kLocalMachine, kClassKey, &names);
    return names;
  }
  std::vector<std::string> Subkeys() {
    std::vector<std::string> names;
    reg_->EnumSubkeys(platform::Hive::kLocalMachine, kClassKey, &names);
    return names;
  }

  std::filesystem::path dir_;
  std::unique_ptr<platform::Registry> reg_ = platform::NewMemoryRegistry();
  RecordingUi ui_;
};

}  // namespace qz381::setup
