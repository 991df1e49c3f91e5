// The logic under the qz381 commands, without a printer: arguments, the build
// tree's list, translation of a fresh device, the device list, rendering,
// dithering. The commands against the virtual printer: tests/e2e/cli_e2e_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "platform/registry.h"
#include "platform/serial.h"
#include "setup/install.h"
#include "so/output/translate.h"
#include "tools/qz381/args.h"
#include "tools/qz381/commands.h"
#include "tools/qz381/devices.h"
#include "tools/qz381/dither.h"
#include "tools/qz381/locate.h"
#include "tools/qz381/print_cmd.h"
#include "tools/qz381/render_cmd.h"
#include "tools/qz381/translate_cmd.h"
#include "tools/sim/render/render.h"

namespace qz381::tool {
namespace {

using platform::Hive;
using platform::RegValue;

std::string Hex(std::string_view bytes) {
  std::string out;
  char cell[4];
  for (unsigned char b : bytes) {
    std::snprintf(cell, sizeof cell, "%02X ", b);
    out += cell;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

bool Parse(std::vector<std::string> words, Args* args, std::string* error) {
  words.insert(words.begin(), {"qz381", "print"});
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  return args->Parse(static_cast<int>(argv.size()), argv.data(), 2,
                     {{"--width", true}, {"--cut", false}, {"--barcode", true, 2}}, error);
}

TEST(CliArgs, OptionsValuesAndMistakes) {
  Args args;
  std::string error;
  ASSERT_TRUE(
      Parse({"--barcode", "ean13", "400638133393", "--cut", "-", "--width", "200"}, &args, &error));
  EXPECT_EQ(args.Value("--barcode", 1), "400638133393");
  EXPECT_TRUE(args.Has("--cut"));
  EXPECT_EQ(args.Positional(), std::vector<std::string>{"-"});
  int width = 0;
  EXPECT_TRUE(args.Number("--width", &width, &error));
  EXPECT_EQ(width, 200);

  Args wrong;
  EXPECT_FALSE(Parse({"--cutt"}, &wrong, &error));
  EXPECT_EQ(error, "unknown option --cutt");
  EXPECT_FALSE(Parse({"--barcode", "qr"}, &wrong, &error));
  EXPECT_EQ(error, "--barcode needs 2 values");
  Args not_number;
  ASSERT_TRUE(Parse({"--width", "20x"}, &not_number, &error));
  EXPECT_FALSE(not_number.Number("--width", &width, &error));
  EXPECT_EQ(error, "--width wants a whole number, not '20x'");
}

TEST(CliArgs, SymbologiesAndEscapes) {
  EXPECT_EQ(ParseSymbology("ean13"), 104);
  EXPECT_EQ(ParseSymbology("qr"), 204);
  EXPECT_EQ(ParseSymbology("501"), 501);
  EXPECT_EQ(ParseSymbology("ean-13"), std::nullopt);
  EXPECT_EQ(ParseSymbology(""), std::nullopt);
  EXPECT_EQ(ExpandEscapes("\\e|bCbold\\e|N \\e not \\\\e|"), "\x1B|bCbold\x1B|N \\e not \\\x1B|");
}

TEST(CliLocate, BuildTreeListNamesModulesAndFiles) {
  Installation found;
  EXPECT_TRUE(ParseBuildTreeList("module=/b/a.so\nmodule=/b/c.so\nfiles=/s/install\n", &found));
  EXPECT_EQ(found.modules, (std::vector<std::string>{"/b/a.so", "/b/c.so"}));
  EXPECT_EQ(found.files_dir, "/s/install");
  Installation incomplete;
  EXPECT_FALSE(ParseBuildTreeList("module=/b/a.so\n", &incomplete));

  std::string error;
  Installation none;
  EXPECT_FALSE(FindInstallation("/nonexistent/bin", &none, &error));
  EXPECT_NE(error.find("cmake --install"), std::string::npos) << error;
}

// What PrintNormal sends first on a fresh type-2 device with the shipped
// profile: the prologue with every pending setting (ESC t 0 for code page 437,
// ESC { 0, ESC 3 60 for 30 dots), then the text's own prologue, the text and
// the reset to the base state.
TEST(CliTranslate, FirstPrintOfAFreshDevice) {
  output::SharedOutputState shared;
  output::DeviceSettings device;
  ASSERT_TRUE(FreshDeviceSettings(QZ381_SHIPPED_PROFILE, "QZ381", 2, &shared, &device).ok());
  std::string prologue, body;
  EXPECT_EQ(TranslateFirstPrint(device, "A\x1B|bCB\n", &prologue, &body), 0);
  EXPECT_EQ(Hex(prologue + body),
            "1B 3D 01 1B 61 00 1B 21 00 "
            "1B 3D 01 1B 61 00 1B 74 00 1B 52 00 1B 7B 00 1B 21 00 1B 33 3C "
            "41 1B 21 08 42 0A 1B 3D 01 1B 61 00 1B 21 00 1D 42 00");
  // The second print of the same device has nothing pending.
  EXPECT_EQ(TranslateFirstPrint(device, "A", &prologue, &body), 0);
  EXPECT_EQ(Hex(prologue + body),
            "1B 3D 01 1B 61 00 1B 21 00 1B 3D 01 1B 61 00 1B 21 00 41 1B 3D 01 1B 61 00 1B 21 00 "
            "1D 42 00");

  EXPECT_FALSE(FreshDeviceSettings("/nonexistent.inf", "QZ381", 2, &shared, &device).ok());
  EXPECT_FALSE(FreshDeviceSettings(QZ381_SHIPPED_PROFILE, "QZ381", 4, &shared, &device).ok());
}

// The command streams its input a piece at a time; whatever the piece size the
// bytes are those of the first print of the whole text. Errors keep their words
// and exit codes: a missing or unreadable input, an output that cannot be
// written, a wrong type.
TEST(CliTranslate, StreamedFileToFileIsTheFirstPrint) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("qz381_cli_translate_" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  const std::string input = (dir / "in.txt").string(), out = (dir / "out.bin").string();
  std::string text;
  for (int i = 0; i < 300; ++i)
    text += "\x1B|cA\x1B|2CQZ381\n\x1B|NCoffee\x1B|rA 2.50\n\x1B|bC\x1B|3E\x1B|N\x1B|123456uC";
  std::ofstream(input, std::ios::binary) << text;

  output::SharedOutputState shared;
  output::DeviceSettings device;
  ASSERT_TRUE(FreshDeviceSettings(QZ381_SHIPPED_PROFILE, "QZ381", 2, &shared, &device).ok());
  std::string prologue, body;
  const int32_t expected_rc = TranslateFirstPrint(device, text, &prologue, &body);
  EXPECT_EQ(expected_rc, 106);  // ESC|123456uC is illegal
  for (size_t piece : {1, 7, 1000, 1 << 20}) {
    SCOPED_TRACE(piece);
    output::SharedOutputState fresh;
    output::DeviceSettings d;
    ASSERT_TRUE(FreshDeviceSettings(QZ381_SHIPPED_PROFILE, "QZ381", 2, &fresh, &d).ok());
    InputFile file;
    std::string error;
    ASSERT_TRUE(file.Open(input, &error)) << error;
    std::ostringstream to;
    int32_t rc = 0;
    ASSERT_TRUE(StreamFirstPrint(d, file, piece, to, &rc, &error)) << error;
    EXPECT_EQ(rc, expected_rc);
    EXPECT_TRUE(to.str() == prologue + body);
  }

  auto run = [](std::vector<std::string> words, std::string* err) {
    words.insert(words.begin(), {"qz381", "translate", "--profile", QZ381_SHIPPED_PROFILE});
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    std::ostringstream out_stream, err_stream;
    const int rc = TranslateCommand(static_cast<int>(argv.size()), argv.data(),
                                    {"/nonexistent", out_stream, err_stream});
    *err = err_stream.str();
    return rc;
  };
  std::string err;
  EXPECT_EQ(run({"--out", out, input}, &err), 1);
  EXPECT_EQ(err,
            "qz381 translate: the text has sequences the printer cannot take (result 106); "
            "they were left out\n");
  std::ifstream written(out, std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(written), {}) == prologue + body);
  const struct {
    std::vector<std::string> words;
    int rc;
    std::string err;
  } errors[] = {
      {{(dir / "none.txt").string()},
       1,
       "qz381 translate: cannot read " + (dir / "none.txt").string() +
           ": "},  // and the system's words
      {{dir.string()}, 1, "qz381 translate: cannot read " + dir.string() + ": it is a folder\n"},
      {{"--out", (dir / "no" / "out.bin").string(), input},
       1,
       "qz381 translate: cannot write " + (dir / "no" / "out.bin").string() + "\n"},
      {{"--type", "5", input}, 2, "qz381 translate: --type is 1, 2 or 3\n"},
  };
  for (const auto& e : errors) {
    EXPECT_EQ(run(e.words, &err), e.rc) << e.err;
    EXPECT_EQ(err.substr(0, e.err.size()), e.err);
  }
  fs::remove_all(dir);
}

TEST(CliDevices, RegisteredDevicesSerialPortsAndAttachedPrinters) {
  auto reg = platform::NewMemoryRegistry();
  std::ostringstream out, err;
  ASSERT_EQ(ListDevices(*reg, {}, out, err), 0);
  EXPECT_EQ(out.str(),
            "registered devices:\n"
            "  none (qz381-install --prefix DIR --device NAME --port COMn adds one)\n"
            "serial ports (HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM):\n"
            "  none mapped (COMn means /dev/ttyS<n-1>)\n");

  const std::string key = std::string(setup::kClassKey) + "\\Front";
  reg->SetValue(Hive::kLocalMachine, key, "Port", RegValue::Text("COM38"));
  reg->SetValue(Hive::kLocalMachine, key, "DeviceName", RegValue::Text("QZ381"));
  reg->SetValue(Hive::kLocalMachine, key, "LDN", RegValue::Text("Front"));
  reg->SetValue(Hive::kLocalMachine, std::string(setup::kClassKey) + "\\BackOffice", "Port",
                RegValue::Text("COM3"));
  reg->SetValue(Hive::kLocalMachine, platform::kSerialCommKey, "/dev/pts/4",
                RegValue::Text("COM38"));
  // Network printers show where their output goes, as the service object
  // reads it: TcpIp and TcpPort (9100 when missing), whatever the Port text.
  const struct {
    const char* name;
    const char* port;
    const char* tcp_ip;  // null: no value
    uint32_t tcp_port;   // 0: no value
  } network[] = {{"Kitchen", "Ethernet", "192.168.1.20", 9101},
                 {"Bar", "Ethernet", "fe80::1", 0},
                 {"Patio", "Ethernet", nullptr, 0},
                 {"Till", "USB001:", "10.0.0.1", 9100}};
  for (const auto& device : network) {
    const std::string device_key = std::string(setup::kClassKey) + "\\" + device.name;
    reg->SetValue(Hive::kLocalMachine, device_key, "Port", RegValue::Text(device.port));
    if (device.tcp_ip)
      reg->SetValue(Hive::kLocalMachine, device_key, "TcpIp", RegValue::Text(device.tcp_ip));
    if (device.tcp_port)
      reg->SetValue(Hive::kLocalMachine, device_key, "TcpPort", RegValue::Dword(device.tcp_port));
  }
  std::vector<DeviceSource> sources = {
      {"USB printers",
       [](platform::Registry&, std::vector<std::string>* lines, std::string*) {
         lines->push_back("QZ381 on /dev/usb/lp0");
         return true;
       }},
      {"network printers", [](platform::Registry&, std::vector<std::string>*, std::string* e) {
         *e = "no network";
         return false;
       }}};
  out.str("");
  ASSERT_EQ(ListDevices(*reg, sources, out, err), 0);
  EXPECT_EQ(out.str(),
            "registered devices:\n"
            "  name        port                 model  LDN\n"
            "  Front       COM38                QZ381  Front\n"
            "  BackOffice  COM3                 -      -\n"
            "  Kitchen     192.168.1.20:9101    -      -\n"
            "  Bar         [fe80::1]:9100       -      -\n"
            "  Patio       Ethernet (no TcpIp)  -      -\n"
            "  Till        USB001:              -      -\n"
            "serial ports (HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM):\n"
            "  COM38  /dev/pts/4\n"
            "USB printers:\n"
            "  QZ381 on /dev/usb/lp0\n"
            "network printers:\n"
            "  cannot be listed: no network\n");
  EXPECT_EQ(err.str(), "");
}

// Receipts end at each cut; what follows the last cut is one more.
TEST(CliRender, OneReceiptPerCut) {
  const std::string dir = ::testing::TempDir() + "qz381-render-test";
  std::filesystem::remove_all(dir);
  std::ostringstream err;
  RenderResult result;
  std::string error;
  const std::string cut = "\x1D\x56\x41\x00";
  ASSERT_TRUE(
      RenderReceipts("one\n" + cut + "two\n" + cut + "three\n", dir, false, err, &result, &error))
      << error;
  ASSERT_EQ(result.files.size(), 3u);
  EXPECT_EQ(std::filesystem::path(result.files[2]).filename(), "receipt-003.png");
  sim::render::Image first;
  ASSERT_TRUE(sim::render::ReadPng(result.files[0], &first, &error)) << error;
  EXPECT_EQ(first.width, sim::render::kPaperWidth);

  ASSERT_TRUE(RenderReceipts("", dir, false, err, &result, &error));
  EXPECT_TRUE(result.files.empty());
  std::filesystem::remove_all(dir);
  EXPECT_FALSE(RenderReceipts("x", "/proc/qz381-cannot", false, err, &result, &error));
}

TEST(CliDither, ShadesBecomeADensityOfDots) {
  auto grey = [](int level) {
    platform::Picture p;
    p.width = p.height = 32;
    p.rgb.assign(32 * 32 * 3, static_cast<uint8_t>(level));
    return p;
  };
  auto ink = [](const platform::Picture& p) {
    int n = 0;
    for (size_t i = 0; i < p.rgb.size(); i += 3) {
      EXPECT_TRUE(p.rgb[i] == 0 || p.rgb[i] == 255);
      n += p.rgb[i] == 0;
    }
    return n;
  };
  EXPECT_EQ(ink(Dither(grey(255))), 0);
  EXPECT_EQ(ink(Dither(grey(0))), 32 * 32);
  const int half = ink(Dither(grey(128)));
  EXPECT_GT(half, 32 * 32 * 2 / 5);
  EXPECT_LT(half, 32 * 32 * 3 / 5);
  const int light = ink(Dither(grey(200)));
  EXPECT_LT(light, half);
  EXPECT_GT(light, 0);
  platform::Picture broken;
  broken.width = 4;
  broken.height = 4;
  EXPECT_TRUE(Dither(broken).rgb.empty());
}

}  // namespace
}  // namespace qz381::tool
