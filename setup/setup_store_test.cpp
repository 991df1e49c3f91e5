#include "setup/setup_store.h"

#include <gmock/gmock.h>

#include "setup/model_install.h"
#include "setup/setup_test_fixture.h"

namespace qz381::setup {
namespace {

using platform::Hive;
using platform::RegValue;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A registry whose writes start failing at the Nth, as a full disk or a
// read-only registry file would.
class FailingRegistry : public platform::Registry {
 public:
  FailingRegistry(platform::Registry& inner, int fail_from) : inner_(inner), left_(fail_from) {}
  platform::Status GetValue(Hive h, std::string_view k, std::string_view n,
                            RegValue* out) override {
    return inner_.GetValue(h, k, n, out);
  }
  platform::Status SetValue(Hive h, std::string_view k, std::string_view n,
                            const RegValue& v) override {
    if (--left_ < 0) return platform::Status::Fail(platform::Outcome::kIoError, "read-only");
    return inner_.SetValue(h, k, n, v);
  }
  platform::Status DeleteValue(Hive h, std::string_view k, std::string_view n) override {
    return inner_.DeleteValue(h, k, n);
  }
  platform::Status DeleteKey(Hive h, std::string_view k) override { return inner_.DeleteKey(h, k); }
  platform::Status CreateKey(Hive h, std::string_view k) override { return inner_.CreateKey(h, k); }
  platform::Status KeyExists(Hive h, std::string_view k) override { return inner_.KeyExists(h, k); }
  platform::Status EnumSubkeys(Hive h, std::string_view k, std::vector<std::string>* n) override {
    return inner_.EnumSubkeys(h, k, n);
  }
  platform::Status EnumValues(Hive h, std::string_view k, std::vector<std::string>* n) override {
    return inner_.EnumValues(h, k, n);
  }

 private:
  platform::Registry& inner_;
  int left_;
};

using StoreTest = SetupTest;

TEST_F(StoreTest, DeviceListStopsAtTheFirstBracketName) {
  for (const char* name : {"QZ381", "Other", "[Hidden]", "QZ381_1"}) {
    reg_->CreateKey(Hive::kLocalMachine, DeviceKey(name));
  }
  EXPECT_THAT(ListDevices(*reg_), ElementsAre("QZ381", "Other"));
  EXPECT_THAT(ListDevices(*platform::NewMemoryRegistry()), IsEmpty());
}

TEST_F(StoreTest, KnownModelsArePrefixesAndGapsInTheListAreSkipped) {
  WriteFile("setup.inf", "[readposprinter]\nREADPrinter2=QZ381\nREADPrinter9=TM\n");
  const struct {
    const char* name;
    bool known;
  } cases[] = {{"QZ381", true}, {"QZ381_2", true}, {"TMX", true},
               {"QZ38", false}, {"qz381", false},  {"", false}};
  for (const auto& c : cases) EXPECT_EQ(IsKnownModel(*reg_, c.name), c.known) << c.name;
  // The model list itself ends at the first gap.
  EXPECT_THAT(ListModels(*reg_), IsEmpty());

  std::filesystem::remove(Path("setup.inf"));
  EXPECT_FALSE(IsKnownModel(*reg_, "QZ381"));
}

TEST_F(StoreTest, DescriptionShowsNameLdnAndPort) {
  SetDeviceText("QZ381", "DeviceName", "QZ381");
  SetDeviceText("QZ381", "Port", "COM3");
  EXPECT_EQ(DescribeDevice(*reg_, "QZ381"),
            "- Printer Description - \r\n\r\n Printer Name : QZ381\r\n LDN : [Not Used]\r\n"
            " Using Port : COM3\r\n");
  SetDeviceText("QZ381", "LDN", "PRN1");
  EXPECT_THAT(DescribeDevice(*reg_, "QZ381"), HasSubstr(" LDN : PRN1\r\n"));
  EXPECT_EQ(DescribeDevice(*reg_, ""),
            "- Printer Description - \r\n\r\n Printer Name : \r\n LDN : [Not Used]\r\n"
            " Using Port : \r\n");
  EXPECT_EQ(VersionDescription(*reg_), "QZ381 OPOS Setup Ver 1.9.12");
}

TEST_F(StoreTest, DeviceNamesTheRegistryCannotHoldAreRefused) {
  EXPECT_EQ(CheckDeviceName("QZ381_1"), "");
  EXPECT_EQ(CheckDeviceName(std::string(255, 'A')), "");
  EXPECT_THAT(CheckDeviceName(std::string(256, 'A')), HasSubstr("at most 255"));
  EXPECT_THAT(CheckDeviceName("a\\b"), HasSubstr("backslash"));
  EXPECT_NE(CheckDeviceName(""), "");
}

TEST_F(StoreTest, InstallingAModelThriceNamesTheDevicesInTurn) {
  std::string names[3];
  for (std::string& name : names) ASSERT_TRUE(InstallModel(*reg_, "QZ381", &name).ok());
  EXPECT_THAT(names, ElementsAre("QZ381", "QZ381_1", "QZ381_2"));

  std::vector<std::string> values;
  reg_->EnumValues(Hive::kLocalMachine, DeviceKey("QZ381_1"), &values);
  EXPECT_THAT(
      values,
      ElementsAreArray(
          {"",          "Description", "DeviceName",   "DeviceDesc", "Version",       "DeviceClass",
           "LDN",       "Port",        "BaudRate",     "BitLength",  "HandShake",     "InputBuf",
           "OutputBuf", "InputSleep",  "Out_Interval", "Parity",     "Stop",          "Timeout",
           "Model",     "comp",        "Vid",          "Pid",        "UsbDeviceName", "UsbCount",
           "TcpIp",     "TcpPort",     "inf",          "type",       "Porttype"}));
  EXPECT_EQ(DeviceText("QZ381_1", ""), "VORNAQZ381.POSPrinter.ServiceObject.1.9");
  EXPECT_EQ(DeviceText("QZ381_1", "DeviceName"), "QZ381");
  EXPECT_EQ(DeviceText("QZ381_1", "Version"), "1.9.12");
  EXPECT_EQ(DeviceText("QZ381_1", "LDN"), "");
  EXPECT_EQ(DeviceText("QZ381_1", "HandShake"), "CTS/RTS");
  EXPECT_EQ(DeviceText("QZ381_1", "inf"), Path("QZ381.inf"));
  EXPECT_EQ(DeviceNumber("QZ381_1", "Model"), 381u);
  EXPECT_EQ(DeviceNumber("QZ381_1", "type"), 2u);
  EXPECT_EQ(DeviceNumber("QZ381_1", "PortType"), 4u);  // names match without regard to case
  EXPECT_THAT(ClassValues(), IsEmpty());               // no alias without an LDN
}

TEST_F(StoreTest, ANameStillTakenIsSkippedNotOverwritten) {
  std::string name;
  ASSERT_TRUE(InstallModel(*reg_, "QZ381", &name).ok());
  ASSERT_TRUE(InstallModel(*reg_, "QZ381", &name).ok());
  SetDeviceText("QZ381_1", "LDN", "KEEP");
  ASSERT_TRUE(RemoveDevice(*reg_, "QZ381").ok());
  ASSERT_TRUE(InstallModel(*reg_, "QZ381", &name).ok());  // one of the model left: count 1
  EXPECT_EQ(name, "QZ381_2");
  EXPECT_EQ(DeviceText("QZ381_1", "LDN"), "KEEP");
}

TEST_F(StoreTest, ABrokenModelOrSetupFileWritesNothing) {
  const struct {
    const char* what;
    const char* model;
    const char* posprn;
    const char* setup;
  } cases[] = {
      {"model section lacks Pid", "QZ999", kTestPosprnInf, kTestSetupInf},
      {"model not listed", "QZ123", kTestPosprnInf, kTestSetupInf},
      {"model file missing", "QZ381", nullptr, kTestSetupInf},
      {"no Version", "QZ381", kTestPosprnInf, "[READPOSPRINTER]\nREADPrinter1=QZ381\n"},
      {"empty SOName", "QZ381", "[QZ381]\nDeviceDesc=a\nSOName=\nDescription=b\nVid=1\nPid=2\n",
       kTestSetupInf},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(Path("posprn.inf"));
    if (c.posprn) WriteFile("posprn.inf", c.posprn);
    WriteFile("setup.inf", c.setup);
    std::string name = "unchanged";
    EXPECT_FALSE(InstallModel(*reg_, c.model, &name).ok()) << c.what;
    EXPECT_EQ(name, "unchanged") << c.what;
    EXPECT_THAT(Subkeys(), IsEmpty()) << c.what;
  }
  reg_->DeleteValue(Hive::kLocalMachine, kProductKey, "Installdir");
  std::string name;
  EXPECT_THAT(InstallModel(*reg_, "QZ381", &name).ToString(), HasSubstr("Installdir"));
}

TEST_F(StoreTest, AWriteFailingMidwayLeavesNoDevice) {
  for (int fail_from : {0, 5, 28}) {
    FailingRegistry failing(*reg_, fail_from);
    std::string name;
    EXPECT_FALSE(InstallModel(failing, "QZ381", &name).ok());
    EXPECT_THAT(Subkeys(), IsEmpty()) << fail_from;
  }
}

TEST_F(StoreTest, RemovalTakesTheAliasOnlyWhileItLeadsToTheDevice) {
  SetDeviceText("A", "LDN", "PRN1");
  SetAlias("PRN1", "A");
  SetDeviceText("B", "LDN", "PRN2");
  SetAlias("PRN2", "C");  // taken over by another device since
  SetDeviceText("D", "LDN", "");
  SetAlias("OTHER", "X");
  for (const char* name : {"A", "B", "D"}) EXPECT_TRUE(RemoveDevice(*reg_, name).ok()) << name;
  EXPECT_THAT(Subkeys(), IsEmpty());
  EXPECT_THAT(ClassValues(), ElementsAre("PRN2", "OTHER"));
  EXPECT_FALSE(RemoveDevice(*reg_, "A").ok());
  EXPECT_FALSE(RemoveDevice(*reg_, "a\\b").ok());
}

TEST_F(StoreTest, PortRangesAreCheckedAndWrittenTogether) {
  WriteFile("setup.inf", "[Description]\nVersion=1\n");
  EXPECT_EQ(ReadPortRanges(*reg_).com, 4);
  EXPECT_EQ(ReadPortRanges(*reg_).lpt, 2);

  const struct {
    const char* com;
    const char* lpt;
    int bad;  // -1 accepted
  } cases[] = {{"1", "1", -1}, {"50", "10", -1}, {"51", "1", 0},         {"0", "1", 0},
               {"", "1", 0},   {"-1", "1", 0},   {" 4", "1", 0},         {"4", "11", 1},
               {"4", "0", 1},  {"4", "x", 1},    {"99999999999", "1", 0}};
  for (const auto& c : cases) {
    PortRanges ranges{0, 0};
    int bad = -1;
    const std::string refusal = ParsePortRanges(c.com, c.lpt, &ranges, &bad);
    EXPECT_EQ(bad, c.bad) << c.com << "/" << c.lpt;
    const char* range = c.bad == 0 ? "from 1 to 50" : c.bad == 1 ? "from 1 to 10" : "";
    EXPECT_THAT(refusal, HasSubstr(range));
    EXPECT_EQ(refusal.empty(), c.bad < 0);
  }
  ASSERT_TRUE(WritePortRanges(*reg_, kDefaultPortRanges).ok());
  EXPECT_EQ(ReadFile("setup.inf"), "[Description]\nVersion=1\nCOMRange=4\nLPTRange=1\n");
}

}  // namespace
}  // namespace qz381::setup
