#include "setup/device_settings.h"

#include <gmock/gmock.h>

#include "setup/model_install.h"
#include "setup/setup_test_fixture.h"

namespace qz381::setup {
namespace {

using platform::Hive;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DeviceSettingsTest : public SetupTest {
 protected:
  std::string Install() {
    std::string name;
    EXPECT_TRUE(InstallModel(*reg_, "QZ381", &name).ok());
    return name;
  }
  std::unique_ptr<CDeviceSettings> OpenDialog(const std::string& name,
                                              SettingsMode mode = SettingsMode::kModify) {
    auto dialog =
        std::make_unique<CDeviceSettings>(*reg_, name, mode, ui_, [this] { return usb_; });
    EXPECT_TRUE(dialog->Open());
    return dialog;
  }
  std::vector<UsbEntry> usb_;
};

TEST_F(DeviceSettingsTest, WithoutInstalldirTheDialogEndsAtOnce) {
  const std::string name = Install();
  reg_->DeleteValue(Hive::kLocalMachine, kProductKey, "Installdir");
  CDeviceSettings dialog(*reg_, name, SettingsMode::kAdd, ui_, nullptr);
  EXPECT_FALSE(dialog.Open());
  EXPECT_THAT(ui_.messages,
              ElementsAre("Failed to road registry!", "Error : Inf file information!"));
}

TEST_F(DeviceSettingsTest, TheStoredPortChoosesInterfaceListAndSelection) {
  const struct {
    const char* port;
    Interface interface;
    std::vector<std::string> ports;
    int selected;
  } cases[] = {
      {"COM3",
       Interface::kSerial,
       {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"},
       2},
      {"COM9",
       Interface::kSerial,
       {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"},
       0},
      {"LPT2", Interface::kParallel, {"LPT1", "LPT2"}, 1},  // LPTMRange, not LPTRange
      {"Ethernet", Interface::kEthernet, {}, -1},
      {"com1", Interface::kEthernet, {}, -1},
  };
  const std::string name = Install();
  for (const auto& c : cases) {
    SetDeviceText(name, "Port", c.port);
    auto dialog = OpenDialog(name);
    const DeviceSettingsFields& f = dialog->fields();
    EXPECT_EQ(f.interface, c.interface) << c.port;
    EXPECT_EQ(f.ports, c.ports) << c.port;
    EXPECT_EQ(f.port, c.selected) << c.port;
    EXPECT_EQ(f.serial_lists_enabled(), c.interface == Interface::kSerial) << c.port;
    EXPECT_EQ(dialog->accepted_port(), f.selected_port()) << c.port;
  }
}

TEST_F(DeviceSettingsTest, OkWritesTheSelectedEntriesNotTheStoredOnes) {
  const std::string name = Install();
  SetDeviceText(name, "BaudRate", "4800");
  SetDeviceText(name, "Parity", "2");
  SetDeviceText(name, "OutputBuf", "512");
  auto dialog = OpenDialog(name, SettingsMode::kAdd);
  EXPECT_EQ(dialog->fields().interface_enabled, (std::array<bool, 4>{true, false, true, false}));
  EXPECT_EQ(dialog->fields().output_buffer, "512");
  ASSERT_TRUE(dialog->Ok());
  EXPECT_THAT(ui_.messages, ElementsAre("Installed Success!"));
  const std::pair<const char*, const char*> expected[] = {
      {"LDN", ""},          {"BaudRate", "19200"}, {"BitLength", "8"},  {"HandShake", "DTR/DSR"},
      {"InputBuf", "8192"}, {"OutputBuf", "512"},  {"InputSleep", "0"}, {"Out_Interval", "0"},
      {"Parity", "0"},      {"Stop", "0"},         {"Port", "COM1"},    {"Timeout", "1000"}};
  for (const auto& [value, text] : expected) EXPECT_EQ(DeviceText(name, value), text) << value;

  const std::pair<int, const char*> parities[] = {{0, "0"}, {1, "2"}, {2, "1"}};  // NONE EVEN ODD
  for (const auto& [entry, code] : parities) {
    dialog->fields().parity = entry;
    ASSERT_TRUE(dialog->Ok());
    EXPECT_EQ(DeviceText(name, "Parity"), code);
  }
}

TEST_F(DeviceSettingsTest, OnlyTheOneCharacterZeroOutputBufferIsRefused) {
  const std::string name = Install();
  auto dialog = OpenDialog(name);
  for (const char* text : {"0", "00", ""}) {
    ui_.messages.clear();
    dialog->fields().output_buffer = text;
    const bool zero = std::string(text) == "0";
    EXPECT_EQ(dialog->Ok(), !zero) << text;
    EXPECT_EQ(ui_.messages.front(), zero ? "Output Buffer Value Error!" : "Installed Success!");
    EXPECT_EQ(DeviceText(name, "OutputBuf"), zero ? "8192" : text);
  }
}

TEST_F(DeviceSettingsTest, APortAnotherDeviceUsesIsRefusedAndTheAcceptedOneComesBack) {
  const std::string first = Install();
  const std::string second = Install();
  SetDeviceText(first, "Port", "COM2");
  auto dialog = OpenDialog(second);
  dialog->ChoosePort(2);  // COM3: free
  EXPECT_EQ(dialog->accepted_port(), "COM3");
  dialog->ChoosePort(1);  // COM2: the other device's
  EXPECT_EQ(dialog->fields().selected_port(), "COM3");
  EXPECT_THAT(ui_.messages, ElementsAre("Failed : Other device used port : COM2"));

  // Typed past the check (the list changed under it): OK refuses as well.
  dialog->fields().port = 1;
  EXPECT_FALSE(dialog->Ok());
  EXPECT_EQ(DeviceText(second, "Port"), "COM1");
}

TEST_F(DeviceSettingsTest, AnEmptyPortListSavesNothing) {
  WriteFile("setup.inf",
            "[Description]\nVersion=1\nCOMRange=0\n[READPOSPRINTER]\n"
            "READPrinter1=QZ381\n");
  const std::string name = Install();
  auto dialog = OpenDialog(name);
  EXPECT_THAT(dialog->fields().ports, IsEmpty());
  EXPECT_FALSE(dialog->Ok());
  EXPECT_EQ(DeviceText(name, "Port"), "COM1");
}

TEST_F(DeviceSettingsTest, UsbListsTheModelsDevicesAndFallsBackToSerialWithout) {
  const std::string name = Install();
  auto dialog = OpenDialog(name);
  dialog->fields().output_buffer = "100";
  dialog->SelectInterface(Interface::kUsb);
  EXPECT_THAT(ui_.messages, ElementsAre("Not Connect USB Device and Power off!"));
  EXPECT_EQ(dialog->fields().interface, Interface::kSerial);
  EXPECT_EQ(dialog->fields().selected_port(), "COM1");
  EXPECT_EQ(dialog->fields().output_buffer, "4096");

  usb_ = {{1, "\\\\?\\USB#VID_3A81&PID_0381#A", "USB001:", "0381", "3A81", ""},
          {1, "\\\\?\\USB#VID_1111&PID_2222#B", "USB002:", "2222", "1111", ""},
          {2, "\\\\?\\USB#VID_3A81&PID_0381#C", "USB003:", "0381", "3A81", ""}};
  dialog->SelectInterface(Interface::kUsb);
  EXPECT_THAT(dialog->fields().ports, ElementsAre("USB001:", "USB003:"));
  dialog->ChoosePort(1);
  ASSERT_TRUE(dialog->Ok());
  EXPECT_EQ(DeviceText(name, "Port"), "USB003:");
  EXPECT_EQ(DeviceText(name, "UsbDeviceName"), "\\\\?\\USB#VID_3A81&PID_0381#C");
  EXPECT_EQ(DeviceNumber(name, "UsbCount"), 2u);
  EXPECT_EQ(DeviceText(name, "InputBuf"), "4096");

  // Another device on that USB printer makes it taken.
  const std::string other = Install();
  auto other_dialog = OpenDialog(other);
  other_dialog->SelectInterface(Interface::kUsb);
  other_dialog->ChoosePort(1);
  EXPECT_EQ(other_dialog->fields().selected_port(), "USB001:");
}

TEST_F(DeviceSettingsTest, EthernetTakesTheAddressLowBytesAndWritesItBack) {
  const std::string name = Install();
  SetDeviceText(name, "Port", "Ethernet");
  SetDeviceText(name, "TcpIp", "192.168.1.300");
  reg_->SetValue(Hive::kLocalMachine, DeviceKey(name), "TcpPort", platform::RegValue::Dword(9100));
  auto dialog = OpenDialog(name);
  const DeviceSettingsFields& f = dialog->fields();
  EXPECT_EQ(f.ip, (std::array<uint8_t, 4>{192, 168, 1, 44}));
  EXPECT_EQ(f.tcp_port, "9100");
  EXPECT_STREQ(f.port_label(), "IP :");
  EXPECT_STREQ(f.baud_label(), "Port :");
  EXPECT_EQ(f.output_buffer, "8192");  // the stored value, loaded after the switch
  ASSERT_TRUE(dialog->Ok());
  EXPECT_EQ(DeviceText(name, "TcpIp"), "192.168.1.44");
  EXPECT_EQ(DeviceText(name, "Port"), "Ethernet");
  for (const char* bad : {"0", "65536", "x"}) {
    dialog->fields().tcp_port = bad;
    EXPECT_FALSE(dialog->Ok()) << bad;
  }
  EXPECT_EQ(DeviceNumber(name, "TcpPort"), 9100u);
}

TEST_F(DeviceSettingsTest, ChangingTheLdnMovesItsAlias) {
  const std::string name = Install();
  auto dialog = OpenDialog(name);
  dialog->fields().ldn = "PRN2";  // from empty: nothing to delete
  ASSERT_TRUE(dialog->Ok());
  EXPECT_EQ(Text(kClassKey, "PRN2"), name);

  dialog->fields().ldn = "PRN1";
  ASSERT_TRUE(dialog->Ok());
  EXPECT_THAT(ClassValues(), ElementsAre("PRN1"));
  EXPECT_EQ(DeviceText(name, "LDN"), "PRN1");
}

TEST_F(DeviceSettingsTest, AnLdnNamingADeviceKeyNeedsItsAliasToLeadHere) {
  const std::string name = Install();
  const std::string other = Install();
  SetDeviceText(other, "Port", "COM2");
  auto dialog = OpenDialog(name);
  for (const std::string& ldn : {name, other}) {
    ui_.messages.clear();
    dialog->fields().ldn = ldn;
    EXPECT_FALSE(dialog->Ok());
    EXPECT_THAT(ui_.messages, ElementsAre("Device will not be set to" + ldn));
  }
  SetAlias(name, name);
  dialog->fields().ldn = name;
  EXPECT_TRUE(dialog->Ok());
  // An alias of another device's (not a key name) is taken over.
  SetAlias("SHARED", other);
  dialog->fields().ldn = "SHARED";
  EXPECT_TRUE(dialog->Ok());
  EXPECT_EQ(Text(kClassKey, "SHARED"), name);
}

TEST_F(DeviceSettingsTest, CancelRemovesTheNewDeviceOnlyInAddMode) {
  const std::string name = Install();
  SetDeviceText(name, "LDN", "PRN9");
  SetAlias("PRN9", name);
  OpenDialog(name, SettingsMode::kModify)->Cancel();
  EXPECT_THAT(Subkeys(), ElementsAre(name));
  OpenDialog(name, SettingsMode::kAdd)->Cancel();
  EXPECT_THAT(Subkeys(), IsEmpty());
  EXPECT_THAT(ClassValues(), IsEmpty());
}

}  // namespace
}  // namespace qz381::setup
