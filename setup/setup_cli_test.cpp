#include "setup/setup_cli.h"

#include <gmock/gmock.h>

#include <sstream>

#include "setup/setup_test_fixture.h"

namespace qz381::setup {
namespace {

using platform::Hive;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The command line on a registry file, as the program runs it.
class SetupCliTest : public SetupTest {
 protected:
  void SetUp() override {
    reg_ = platform::OpenRegistryFile(Path("registry.reg"));
    reg_->SetValue(Hive::kLocalMachine, kProductKey, "Installdir",
                   platform::RegValue::Text(dir_.string()));
  }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    CliContext context{*reg_,
                       out_,
                       err_,
                       in_,
                       interactive_,
                       [] { return std::vector<UsbEntry>(); },
                       [] { return std::unique_ptr<ControlObject>(); }};
    return RunSetupCommand(args, context);
  }
  std::string Registry() { return ReadFile("registry.reg"); }

  std::ostringstream out_, err_;
  std::istringstream in_;
  bool interactive_ = false;
};

TEST_F(SetupCliTest, AddWritesWhatTheDialogWritesAndNamesTheNextDevice) {
  ASSERT_EQ(Run({"add", "QZ381", "--port", "COM3", "--baud", "115200", "--parity", "ODD"}), 0);
  EXPECT_EQ(out_.str(), "Installed Success!\ndevice QZ381\n");
  EXPECT_EQ(DeviceText("QZ381", "Port"), "COM3");
  EXPECT_EQ(DeviceText("QZ381", "BaudRate"), "115200");
  EXPECT_EQ(DeviceText("QZ381", "Parity"), "1");
  EXPECT_EQ(DeviceText("QZ381", "HandShake"), "DTR/DSR");
  EXPECT_EQ(DeviceText("QZ381", "LDN"), "");
  EXPECT_THAT(ClassValues(), IsEmpty());

  ASSERT_EQ(Run({"add", "QZ381", "--port", "COM4", "--ldn", "PRN1"}), 0);
  EXPECT_EQ(DeviceText("QZ381_1", "LDN"), "PRN1");
  EXPECT_EQ(Text(kClassKey, "PRN1"), "QZ381_1");

  ASSERT_EQ(Run({"list"}), 0);
  EXPECT_THAT(out_.str(), HasSubstr("QZ381               yes     [Not Used]          COM3\n"));
  EXPECT_THAT(out_.str(), HasSubstr("QZ381_1             yes     PRN1                COM4\n"));
}

TEST_F(SetupCliTest, AFailedAddLeavesTheRegistryAsItWas) {
  ASSERT_EQ(Run({"add", "QZ381", "--port", "COM2"}), 0);
  const std::string before = Registry();
  const struct {
    std::vector<std::string> args;
    int code;
    const char* error;
  } cases[] = {
      {{"add", "NOPE"}, 1, "unknown model 'NOPE'"},
      {{"add", "QZ999"}, 1, "has no Pid"},
      {{"add", "QZ381", "--port", "COM2"}, 1, "Failed : Other device used port : COM2"},
      {{"add", "QZ381", "--port", "COM9"},
       1,
       "COM9 is not offered; the serial ports are COM1 to COM8"},
      {{"add", "QZ381", "--port", "LPT1"}, 1, "offers no parallel interface"},
      {{"add", "QZ381", "--usb", "USB001:"}, 1, "Not Connect USB Device and Power off!"},
      {{"add", "QZ381", "--baud", "4800"}, 1, "--baud must be one of 9600, 19200"},
      {{"add", "QZ381", "--output-buf", "0"}, 1, "--output-buf must be a whole number from 1"},
      {{"add", "QZ381", "--input-sleep", "-5"}, 1, "--input-sleep must be a whole number"},
      {{"add", "QZ381", "--ldn", "QZ381"}, 1, "Device will not be set toQZ381"},
      {{"add", "QZ381", "--ldn", "a\\b"}, 1, "backslash"},
      {{"add", "QZ381", "--ldn", std::string(300, 'L')}, 1, "at most 255"},
      {{"add", "QZ381", "--port", "COM3", "--ip", "1.2.3.4"}, 2, "give one"},
      {{"add", "QZ381", "--frobnicate", "1"}, 2, "unknown option --frobnicate"},
      {{"add"}, 2, "usage:"},
      {{"modify", "a\\b"}, 1, "backslash"},
      {{"modify", std::string(256, 'N')}, 1, "at most 255"},
      {{"modify", "GHOST"}, 1, "no device named GHOST"},
      {{"remove", "GHOST"}, 1, "no device named GHOST"},
      {{"health", "QZ381", "--level", "4"}, 2, "--level must be 1, 2 or 3"},
      {{"launch"}, 2, "unknown command 'launch'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), c.code) << c.args.back();
    EXPECT_THAT(err_.str(), HasSubstr(c.error)) << c.args.back();
    EXPECT_EQ(Registry(), before) << c.args.back();
  }
  reg_->DeleteValue(Hive::kLocalMachine, kProductKey, "Installdir");
  EXPECT_EQ(Run({"add", "QZ381"}), 1);
  EXPECT_THAT(err_.str(), HasSubstr("no Installdir"));
}

TEST_F(SetupCliTest, ModifyChangesOnlyWhatItIsGiven) {
  ASSERT_EQ(Run({"add", "QZ381", "--port", "COM2", "--ldn", "PRN1", "--baud", "38400"}), 0);
  ASSERT_EQ(Run({"modify", "QZ381", "--ldn", "PRN2", "--output-interval", "20"}), 0);
  EXPECT_EQ(DeviceText("QZ381", "Port"), "COM2");
  EXPECT_EQ(DeviceText("QZ381", "BaudRate"), "38400");
  EXPECT_EQ(DeviceText("QZ381", "Out_Interval"), "20");
  EXPECT_THAT(ClassValues(), ElementsAre("PRN2"));
}

TEST_F(SetupCliTest, RemoveAsksOnlyOnATerminal) {
  ASSERT_EQ(Run({"add", "QZ381", "--ldn", "PRN1"}), 0);
  interactive_ = true;
  in_.str("n\n");
  EXPECT_EQ(Run({"remove", "QZ381"}), 1);
  EXPECT_THAT(out_.str(), HasSubstr("Remove Device: Are you sure you want to delete all setting "
                                    "information about QZ381? [y/N]"));
  EXPECT_THAT(Subkeys(), ElementsAre("QZ381"));
  interactive_ = false;
  EXPECT_EQ(Run({"remove", "QZ381"}), 0);
  EXPECT_THAT(Subkeys(), IsEmpty());
  EXPECT_THAT(ClassValues(), IsEmpty());
}

TEST_F(SetupCliTest, PortRangeTakesBothNumbersAndRefusesWithTheRange) {
  const std::string setup_file = ReadFile("setup.inf");
  const struct {
    std::vector<std::string> args;
    int code;
    const char* error;
  } cases[] = {
      {{"port-range", "--com", "51", "--lpt", "1"}, 1, "from 1 to 50"},
      {{"port-range", "--com", "4", "--lpt", "0"}, 1, "from 1 to 10"},
      {{"port-range", "--com", "4"}, 2, "takes both"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), c.code);
    EXPECT_THAT(err_.str(), HasSubstr(c.error));
    EXPECT_EQ(ReadFile("setup.inf"), setup_file);
  }
  ASSERT_EQ(Run({"port-range", "--com", "12", "--lpt", "3"}), 0);
  ASSERT_EQ(Run({"port-range"}), 0);
  EXPECT_EQ(out_.str(), "COMRange 12\nLPTRange 3\n");
}

}  // namespace
}  // namespace qz381::setup
