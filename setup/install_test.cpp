#include "setup/install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace qz381::setup {
namespace {

namespace fs = std::filesystem;
using platform::Hive;
using platform::Outcome;
using platform::ReadNumber;
using platform::ReadText;
using platform::Registry;
using platform::RegValue;
using ::testing::ElementsAre;

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("qz381-install-" + std::to_string(std::random_device{}()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A path as the installer writes it: with the system's own separator.
std::string Native(const fs::path& path) {
  return fs::path(path).make_preferred().string();
}

std::string Text(Registry& reg, Hive hive, const std::string& key, const std::string& name) {
  std::string text = "<missing>";
  ReadText(reg, hive, key, name, &text);
  return text;
}

// A prefix with the test module installed as the service object, and a
// registry file that this process and the module share.
class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_file_ = dir_ / "registry.reg";
    platform::SetEnvironmentValue("QZ381_REGISTRY", registry_file_);
    layout_ = LayoutFor(dir_ / "prefix");
    fs::create_directories(layout_.module_dir);
    fs::copy_file(QZ381_TEST_MODULE, layout_.service_object);
    options_.prefix = dir_ / "prefix";
    options_.files_dir = QZ381_INSTALL_FILES;
  }
  void TearDown() override { platform::ClearEnvironmentValue("QZ381_REGISTRY"); }

  TempDir dir_;
  std::string registry_file_;
  InstallLayout layout_;
  InstallOptions options_;
};

TEST_F(InstallTest, WritesProductKeyCopiesFilesAndRegisters) {
  Registry& reg = platform::DefaultRegistry();
  ASSERT_TRUE(Install(reg, options_).ok());

  const fs::path root = fs::absolute(dir_.path() / "prefix").lexically_normal();
  const fs::path modules = root / "lib" / "qz381";
  EXPECT_EQ(Text(reg, Hive::kLocalMachine, kProductKey, "Installdir"),
            Native(root / "share" / "qz381"));
  EXPECT_EQ(Text(reg, Hive::kLocalMachine, kProductKey, "mngdir"),
            Native(modules / ("Vexlink" QZ381_MODULE_SUFFIX)));
  EXPECT_EQ(Text(reg, Hive::kLocalMachine, kProductKey, "comdir"),
            Native(modules / ("com" QZ381_MODULE_SUFFIX)));
  EXPECT_EQ(Text(reg, Hive::kLocalMachine, kProductKey, "usbdir"),
            Native(modules / ("usb" QZ381_MODULE_SUFFIX)));
  EXPECT_EQ(Text(reg, Hive::kLocalMachine, kProductKey, "netdir"),
            Native(modules / ("net" QZ381_MODULE_SUFFIX)));
  for (const char* name : {"setup.inf", "posprn.inf", "QZ381.inf", "70-qz381-usb.rules"}) {
    EXPECT_TRUE(platform::FileExists(Native(root / "share" / "qz381" / name))) << name;
  }
  // The module registered itself from where it was installed, into the same file.
  EXPECT_EQ(Text(reg, Hive::kClassesRoot, "QZ381InstallTest", ""), layout_.service_object);
  EXPECT_TRUE(platform::FileExists(registry_file_));
}

TEST_F(InstallTest, MissingServiceObjectWritesNothing) {
  fs::remove(layout_.service_object);
  platform::Status status = Install(platform::DefaultRegistry(), options_);
  EXPECT_EQ(status.outcome(), Outcome::kNotFound);
  EXPECT_THAT(status.context(), ::testing::HasSubstr("QZ381PrinterSO"));
  EXPECT_FALSE(platform::FileExists(registry_file_));
  EXPECT_FALSE(fs::exists(layout_.install_dir));
}

TEST_F(InstallTest, ExistingDeviceIsRefusedBeforeAnythingIsWritten) {
  Registry& reg = platform::DefaultRegistry();
  ASSERT_TRUE(reg.SetValue(Hive::kLocalMachine, std::string(kClassKey) + "\\Front", "Port",
                           RegValue::Text("COM7"))
                  .ok());
  options_.device_name = "Front";
  options_.port = "COM2";
  EXPECT_EQ(Install(reg, options_).outcome(), Outcome::kBusy);
  EXPECT_EQ(Text(reg, Hive::kLocalMachine, kProductKey, "Installdir"), "<missing>");

  options_.force = true;
  ASSERT_TRUE(Install(reg, options_).ok());
  EXPECT_EQ(Text(reg, Hive::kLocalMachine, std::string(kClassKey) + "\\Front", "Port"), "COM2");
}

// Device entries are made from the installed files, as the setup utility makes them.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CopyInstallFiles(QZ381_INSTALL_FILES, install_dir_).ok()); }
  std::string Key(const std::string& name) { return std::string(kClassKey) + "\\" + name; }

  TempDir dir_;
  std::string install_dir_ = dir_ / "share";
  std::unique_ptr<Registry> reg_ = platform::NewMemoryRegistry();
};

TEST_F(DeviceTest, WritesTheSetupUtilityValuesInOrder) {
  ASSERT_TRUE(CreateDevice(*reg_, install_dir_, "Receipt", "COM3", false).ok());

  std::vector<std::string> names;
  ASSERT_TRUE(reg_->EnumValues(Hive::kLocalMachine, Key("Receipt"), &names).ok());
  EXPECT_THAT(names, ElementsAre("", "Description", "DeviceName", "DeviceDesc", "Version",
                                 "DeviceClass", "LDN", "Port", "BaudRate", "BitLength", "HandShake",
                                 "InputBuf", "OutputBuf", "InputSleep", "Out_Interval", "Parity",
                                 "Stop", "Timeout", "Model", "comp", "Vid", "Pid", "UsbDeviceName",
                                 "UsbCount", "TcpIp", "TcpPort", "inf", "type", "Porttype"));

  const std::string key = Key("Receipt");
  EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, key, ""), "VORNAQZ381.POSPrinter.ServiceObject.1.9");
  EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, key, "DeviceName"), "QZ381");
  EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, key, "Port"), "COM3");
  EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, key, "Version"), "1.9.12");
  EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, key, "inf"),
            Native(fs::path(install_dir_) / "QZ381.inf"));
  EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, key, "LDN"), "Receipt");
  uint32_t number = 0;
  ASSERT_TRUE(ReadNumber(*reg_, Hive::kLocalMachine, key, "Model", &number).ok());
  EXPECT_EQ(number, 381u);
  ASSERT_TRUE(ReadNumber(*reg_, Hive::kLocalMachine, key, "Type", &number).ok());
  EXPECT_EQ(number, 2u);
  // The logical device name leads to the device key.
  EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, kClassKey, "Receipt"), "Receipt");
}

// A network printer's address as the port makes an Ethernet device, written
// as the settings dialog writes one; what is neither a port nor an address is
// refused and writes nothing.
TEST_F(DeviceTest, AnAddressAsThePortMakesAnEthernetDevice) {
  struct Case {
    const char* port;
    uint32_t tcp_port;
    const char* written_port;  // nullptr: refused
    const char* tcp_ip;
    uint32_t written_tcp_port;
  };
  const Case cases[] = {
      {"192.168.7.31", 0, "Ethernet", "192.168.7.31", 9100},
      {"192.168.7.31", 9101, "Ethernet", "192.168.7.31", 9101},
      {"fe80::2", 65535, "Ethernet", "fe80::2", 65535},
      {"printer-3.shop.example", 0, "Ethernet", "printer-3.shop.example", 9100},
      {"Ethernet", 0, "Ethernet", "0.0.0.0", 0},  // the address comes later
      {"COM3", 0, "COM3", "0.0.0.0", 0},
      {"COM3", 9100, nullptr, nullptr, 0},
      {"192.168.7.31", 65536, nullptr, nullptr, 0},
      {"0.0.0.0", 0, nullptr, nullptr, 0},
      {"300.1.1.1", 0, nullptr, nullptr, 0},
      {"two words", 0, nullptr, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.port) + " " + std::to_string(c.tcp_port));
    const platform::Status status =
        CreateDevice(*reg_, install_dir_, "Receipt", c.port, true, c.tcp_port);
    if (!c.written_port) {
      EXPECT_EQ(status.outcome(), Outcome::kInvalidArgument);
      reg_->DeleteKey(Hive::kLocalMachine, Key("Receipt"));
      continue;
    }
    ASSERT_TRUE(status.ok()) << status.ToString();
    const std::string key = Key("Receipt");
    EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, key, "Port"), c.written_port);
    EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, key, "TcpIp"), c.tcp_ip);
    uint32_t tcp_port = 1;
    ASSERT_TRUE(ReadNumber(*reg_, Hive::kLocalMachine, key, "TcpPort", &tcp_port).ok());
    EXPECT_EQ(tcp_port, c.written_tcp_port);
  }
  // A refused device is refused before the installation writes anything: a
  // port that is neither a port nor an address, a USB name no printer has.
  for (const char* port : {"not an address!", "USB099:"}) {
    TempDir prefix;
    InstallOptions options;
    options.prefix = prefix.path().string();
    options.device_name = "Receipt";
    options.port = port;
    std::unique_ptr<Registry> empty = platform::NewMemoryRegistry();
    const platform::Status refused = Install(*empty, options);
    EXPECT_NE(refused.ToString().find(port), std::string::npos) << refused.ToString();
    EXPECT_FALSE(fs::exists(prefix.path() / "share")) << port;
  }
}

// A USB port names a printer attached now (the USB end-to-end test records
// one); a name no printer has is refused and writes nothing.
TEST_F(DeviceTest, AUsbPortNoPrinterIsListedUnderIsRefused) {
  const platform::Status status = CreateDevice(*reg_, install_dir_, "Receipt", "USB099:", false);
  EXPECT_EQ(status.outcome(), Outcome::kNotFound);
  EXPECT_NE(status.ToString().find("USB099:"), std::string::npos) << status.ToString();
  EXPECT_EQ(reg_->KeyExists(Hive::kLocalMachine, Key("Receipt")).outcome(), Outcome::kNotFound);
}

TEST_F(DeviceTest, RefusesToOverwriteUnlessForced) {
  ASSERT_TRUE(CreateDevice(*reg_, install_dir_, "Receipt", "COM3", false).ok());
  EXPECT_EQ(CreateDevice(*reg_, install_dir_, "Receipt", "COM4", false).outcome(), Outcome::kBusy);
  EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, Key("Receipt"), "Port"), "COM3");

  // An alias of that name that leads elsewhere takes the name too.
  ASSERT_TRUE(
      reg_->SetValue(Hive::kLocalMachine, kClassKey, "Kitchen", RegValue::Text("Receipt")).ok());
  EXPECT_EQ(CreateDevice(*reg_, install_dir_, "Kitchen", "COM4", false).outcome(), Outcome::kBusy);
  EXPECT_EQ(reg_->KeyExists(Hive::kLocalMachine, Key("Kitchen")).outcome(), Outcome::kNotFound);

  ASSERT_TRUE(CreateDevice(*reg_, install_dir_, "Receipt", "COM4", true).ok());
  EXPECT_EQ(Text(*reg_, Hive::kLocalMachine, Key("Receipt"), "Port"), "COM4");
}

TEST_F(DeviceTest, IncompleteModelWritesNothing) {
  ASSERT_TRUE(
      platform::WritePrivateProfileText(install_dir_ + "/posprn.inf", "QZ381", "Pid", std::nullopt)
          .ok());
  EXPECT_EQ(CreateDevice(*reg_, install_dir_, "Receipt", "COM3", false).outcome(),
            Outcome::kMalformed);
  EXPECT_EQ(reg_->KeyExists(Hive::kLocalMachine, kClassKey).outcome(), Outcome::kNotFound);
}

// The shipped profile must carry every key the service object reads, with
// metrics that agree with one another.
TEST(ShippedProfile, DescribesAnEightyMillimetrePrinter) {
  platform::IniFile profile;
  ASSERT_TRUE(platform::IniFile::Load(QZ381_INSTALL_FILES "/QZ381.inf", &profile).ok());
  const std::vector<std::pair<const char*, std::vector<const char*>>> keys = {
      {"POSPRINTER",
       {"RecBarCodeRotationList",
        "CharacterSetList",
        "FontTypefaceList",
        "RecLineCharsList",
        "CapCoverSensor",
        "CapRec2Color",
        "CapRecBarCode",
        "CapRecBitmap",
        "CapRecBold",
        "CapRecItalic",
        "CapRecUnderline",
        "CapRecCartridgeSensor",
        "CapRecColor",
        "CapRecDhigh",
        "CapRecDwide",
        "CapRecDwideDhigh",
        "CapRecEmptySensor",
        "CapRecNearEndSensor",
        "CapRecMarkFeed",
        "CapRecPapercut",
        "CapRecLeft90",
        "CapRecRight90",
        "CapRecRotate180",
        "CapRecStamp",
        "CharacterSet",
        "RecLineChars",
        "RecLineHeight",
        "RecLineSpacing",
        "RecLineWidth",
        "RecSidewaysMaxLines",
        "RecSidewaysMaxChars",
        "RecLinesToPaperCut",
        "CapConcurrentPageMode",
        "CapMapCharacterSet",
        "CapRecPageMode",
        "MapCharacterSet",
        "PageModeArea",
        "PageModeDescriptor",
        "PageModeHorizontalPosition",
        "PageModePrintArea",
        "PageModePrintDirection",
        "PageModeStation",
        "PageModeVerticalPosition",
        "RecBitmapRotationList"}},
      {"COMMON",
       {"CapCompareFirmwareVersion", "CapStatisticsRporting", "CapUpdateFirmware",
        "CapUpdateStatistics"}},
      {"DETAIL",
       {"LinecharsNormal", "LinecharsCompressed", "DotsPerNormalChar", "DotsPerCompressedChar",
        "DotsPerNormalCharHeight", "DotsPerCompressedCharHeight", "DPIHIGH", "DPIWIDTH"}},
      {"DIRECTIO", {"DIINTERNATIONAL"}},
  };
  for (const auto& [section, names] : keys) {
    for (const char* key : names)
      EXPECT_TRUE(profile.HasKey(section, key)) << section << "." << key;
  }

  auto number = [&](const char* section, const char* key) {
    return profile.GetInt(section, key, 0);
  };
  const int32_t width = number("POSPRINTER", "RecLineWidth");
  EXPECT_EQ(width, 512);
  EXPECT_EQ(number("DETAIL", "DPIHIGH"), 180);
  EXPECT_EQ(number("DETAIL", "DPIWIDTH"), 180);
  EXPECT_LE(number("DETAIL", "LinecharsNormal") * number("DETAIL", "DotsPerNormalChar"), width);
  EXPECT_LE(number("DETAIL", "LinecharsCompressed") * number("DETAIL", "DotsPerCompressedChar"),
            width);
  EXPECT_EQ(profile.GetString("POSPRINTER", "RecLineCharsList", ""),
            std::to_string(number("DETAIL", "LinecharsNormal")) + "," +
                std::to_string(number("DETAIL", "LinecharsCompressed")));
  // The line spacing the printer accepts lies between 12 and 50 dots.
  const int32_t spacing = number("POSPRINTER", "RecLineSpacing");
  EXPECT_GE(spacing, 12);
  EXPECT_LE(spacing, 50);
  EXPECT_EQ(number("POSPRINTER", "RecLinesToPaperCut"),
            (number("POSPRINTER", "RecLineHeight") + spacing + 143) / spacing);
  // Clearing the print area puts "0,0" in front of the page-mode area.
  EXPECT_EQ("0,0" + profile.GetString("POSPRINTER", "PageModeArea", ""),
            profile.GetString("POSPRINTER", "PageModePrintArea", ""));
}

}  // namespace
}  // namespace qz381::setup
