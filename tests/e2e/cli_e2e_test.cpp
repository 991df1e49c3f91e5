// The qz381 commands against the virtual printer, through the control object,
// the service object, Vexlink and com on a pseudo-terminal.
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/picture.h"
#include "tests/e2e/e2e_fixture.h"
#include "tools/qz381/commands.h"
#include "tools/qz381/print_cmd.h"
#include "tools/qz381/status_cmd.h"
#include "tools/qz381/translate_cmd.h"
#include "tools/sim/render/render.h"

namespace qz381::e2e {
namespace {

namespace fs = std::filesystem;

class CliE2eTest : public E2eTest {
 protected:
  int Print(tool::PrintJob job) {
    if (!job.device) job.device = kDevice;
    out_.str("");
    err_.str("");
    return tool::RunPrint(job, out_, err_);
  }
  // A command as the program runs it: argv[0] "qz381", then `words`.
  int Command(int (*command)(int, char**, const tool::CommandContext&),
              std::vector<std::string> words) {
    words.insert(words.begin(), "qz381");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    out_.str("");
    err_.str("");
    tool::CommandContext context{"/nonexistent", out_, err_};
    return command(static_cast<int>(argv.size()), argv.data(), context);
  }
  std::string BytesSince(size_t mark) {
    std::vector<uint8_t> raw = sim().RawBytes();
    return mark < raw.size() ? std::string(raw.begin() + mark, raw.end()) : std::string();
  }
  static int InkOf(std::string_view bytes) {
    sim::render::Renderer renderer;
    renderer.Feed(bytes);
    renderer.FinishStream();
    const sim::render::Image page = renderer.Snapshot();
    int ink = 0;
    for (int y = 0; y < page.height; ++y)
      for (int x = 0; x < page.width; ++x) ink += page.Ink(x, y);
    return ink;
  }
  // True once the printer has a cut; everything before it arrived too.
  bool WaitForCut() {
    for (int i = 0; i < 300; ++i) {
      for (const std::string& line : sim().JournalLines())
        if (line.rfind("GS V ", 0) == 0) return true;
      std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
  }
  std::string Scratch(const std::string& name) {
    return ::testing::TempDir() + "qz381-cli-" + std::to_string(getpid()) + "-" + name;
  }

  std::ostringstream out_, err_;
};

// Accented letters in code page 858 and in 1252, as the printer's journal
// shows the bytes it received.
TEST_F(CliE2eTest, PrintConvertsUtf8ToTheCharacterSetAsked) {
  struct Case {
    int32_t set;
    const char* code_table;
    const char* text;
  } cases[] = {{858, "ESC t 19 code-table", "TEXT \"Caf\\x82 \\xD5 5\""},
               {1252, "ESC t 16 code-table", "TEXT \"Caf\\xE9 \\x80 5\""}};
  for (const Case& c : cases) {
    tool::PrintJob job;
    job.character_set = c.set;
    job.text = "Caf\xC3\xA9 \xE2\x82\xAC 5\n";
    const size_t from = sim().JournalLines().size();
    ASSERT_EQ(Print(job), 0) << err_.str();
    EXPECT_TRUE(sim().WaitForJournalLine(c.code_table, milliseconds(3000), from)) << c.set;
    EXPECT_TRUE(sim().WaitForJournalLine(c.text, milliseconds(3000), from)) << c.set;
  }
}

// A grey ramp: every pixel that is not white prints black without --dither;
// with it, about as much ink as the ramp is dark.
TEST_F(CliE2eTest, PrintAnImageWithAndWithoutDither) {
  platform::Picture ramp;
  ramp.width = 64;
  ramp.height = 32;
  for (int y = 0; y < ramp.height; ++y)
    for (int x = 0; x < ramp.width; ++x) ramp.rgb.insert(ramp.rgb.end(), 3, x * 250 / 63);
  const std::string path = Scratch("ramp.bmp");
  std::ofstream(path, std::ios::binary) << platform::EncodeBmp(ramp);
  int ink[2] = {0, 0};
  for (bool dither : {false, true}) {
    tool::PrintJob job;
    job.image = path;
    job.dither = dither;
    const size_t mark = RawSize();
    ASSERT_EQ(Print(job), 0) << err_.str();
    ink[dither] = InkOf(BytesSince(mark));
  }
  fs::remove(path);
  EXPECT_EQ(ink[0], 64 * 32);
  EXPECT_GT(ink[1], 64 * 32 * 2 / 5);
  EXPECT_LT(ink[1], 64 * 32 * 3 / 5);
}

const char kSample[] =
    "\x1B|cA\x1B|2CQZ381\n\x1B|NCoffee\x1B|rA 2.50\n\x1B|bCTotal\x1B|N\n\x1B|4Cthanks\n";

// What translate writes is what the device received for the same text as its
// first print after enabling.
TEST_F(CliE2eTest, TranslateIsWhatTheDeviceReceived) {
  ASSERT_NO_FATAL_FAILURE(OpenClaimEnable());
  const size_t mark = RawSize();
  ASSERT_EQ(printer().PrintNormal(2, kSample), 0);
  output::SharedOutputState shared;
  output::DeviceSettings device;
  ASSERT_TRUE(
      tool::FreshDeviceSettings(QZ381_E2E_INSTALL_FILES "/QZ381.inf", "QZ381", 2, &shared, &device)
          .ok());
  std::string expected, body;
  ASSERT_EQ(tool::TranslateFirstPrint(device, kSample, &expected, &body), 0);
  expected += body;
  ASSERT_TRUE(sim().WaitForRawBytes(mark + expected.size(), milliseconds(3000)));
  EXPECT_EQ(BytesSince(mark).substr(0, expected.size()), expected);
}

// The receipt the virtual printer draws for printed text equals what `render`
// draws from `translate`'s bytes for the same text.
TEST_F(CliE2eTest, RenderOfTranslateDrawsThePrintersReceipt) {
  const std::string pages = Scratch("pages");
  fs::create_directories(pages);
  sim_->Stop();
  sim::SimulatorOptions options;
  options.port_name = kPort;
  options.render_path = pages;
  std::string error;
  sim_ = sim::Simulator::Start(options, &error);
  ASSERT_TRUE(sim_) << error;
  ASSERT_NO_FATAL_FAILURE(OpenClaimEnable());
  const std::string text = std::string(kSample) + "\x1B|100P";
  ASSERT_EQ(printer().PrintNormal(2, text), 0);
  ASSERT_TRUE(WaitForCut());
  printer().Close();
  sim().Stop();

  const std::string input = Scratch("receipt.txt"), bytes = Scratch("receipt.bin");
  std::ofstream(input, std::ios::binary) << text;
  ASSERT_EQ(Command(tool::TranslateCommand,
                    {"translate", "--profile", QZ381_E2E_INSTALL_FILES "/QZ381.inf", "--out", bytes,
                     input}),
            0)
      << err_.str();
  const std::string drawn = Scratch("drawn");
  ASSERT_EQ(Command(tool::RenderCommand, {"render", "--out", drawn, bytes}), 0) << err_.str();
  EXPECT_EQ(out_.str(), drawn + "/receipt-001.png\n");
  sim::render::Image ours, printers;
  ASSERT_TRUE(sim::render::ReadPng(drawn + "/receipt-001.png", &ours, &error)) << error;
  ASSERT_TRUE(sim::render::ReadPng(pages + "/receipt-001.png", &printers, &error)) << error;
  EXPECT_TRUE(ours == printers);
  for (const std::string& p : {pages, input, bytes, drawn}) fs::remove_all(p);
}

TEST_F(CliE2eTest, StatusShowsTheCoverOpenAndClose) {
  std::mutex mutex;
  std::vector<std::string> lines;
  std::atomic<bool> stop{false};
  auto has = [&](const std::string& end) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& l : lines)
      if (l.size() >= end.size() && l.compare(l.size() - end.size(), end.size(), end) == 0)
        return true;
    return false;
  };
  auto wait = [&](const std::string& end) {
    for (int i = 0; i < 500 && !has(end); ++i) std::this_thread::sleep_for(milliseconds(10));
    return has(end);
  };
  tool::StatusWatch watch;
  watch.device = kDevice;
  watch.stop = [&] { return stop.load(); };
  watch.line = [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  };
  std::string error;
  int rc = -1;
  std::thread watcher([&] { rc = tool::RunStatus(watch, &error); });
  EXPECT_TRUE(wait("(Ctrl-C ends)"));
  EXPECT_TRUE(wait(" paper ok"));  // the state the first status block reports
  sim().SetCoverOpen(true);
  EXPECT_TRUE(wait(" cover open"));
  sim().SetCoverOpen(false);
  EXPECT_TRUE(wait(" cover closed"));
  stop = true;
  watcher.join();
  EXPECT_EQ(rc, 0) << error;

  watch.once = true;
  watch.stop = [] { return false; };
  lines.clear();
  sim().SetPaper(sim::Paper::kNearEnd);
  ASSERT_EQ(tool::RunStatus(watch, &error), 0) << error;
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::string(kDevice) + ": cover closed, paper near end, printer on-line");
}

TEST_F(CliE2eTest, ErrorsAreSaidInWordsAndExitNonZero) {
  tool::PrintJob job;
  job.text = "x\n";
  job.device = "NoSuchDevice";
  EXPECT_EQ(Print(job), 1);
  EXPECT_EQ(err_.str(), "qz381 print: cannot open NoSuchDevice: no such device or file (109)\n");

  EXPECT_EQ(Command(tool::PrintCommand, {"print", "--device", kDevice, "/nonexistent/receipt.txt"}),
            1);
  EXPECT_EQ(err_.str().rfind("qz381 print: cannot read /nonexistent/receipt.txt: ", 0), 0u)
      << err_.str();
  EXPECT_EQ(
      Command(tool::PrintCommand, {"print", "--device", kDevice, "--image", "/nonexistent.bmp"}),
      1);
  EXPECT_EQ(err_.str(), "qz381 print: cannot read the picture /nonexistent.bmp\n");
  EXPECT_EQ(Command(tool::PrintCommand, {"print", "--barcode", "ean-13", "1"}), 2);
  EXPECT_EQ(Command(tool::RenderCommand, {"render", "/nonexistent/raw.bin"}), 1);

  // A cover open while printing waits for the user to close it.
  job.device = kDevice;
  sim().SetCoverOpen(true);
  std::thread user([&] {
    std::this_thread::sleep_for(milliseconds(1500));
    sim().SetCoverOpen(false);
  });
  job.timeout_seconds = 20;
  EXPECT_EQ(Print(job), 0) << err_.str();
  user.join();
  EXPECT_EQ(err_.str().rfind("qz381 print: PrintNormal: the cover is open (114/201); waiting", 0),
            0u)
      << err_.str();

  // A printer switched off (its line gone): nothing can be claimed, said in words.
  sim().Stop();
  EXPECT_EQ(Print(job), 1);
  EXPECT_EQ(err_.str(),
            "qz381 print: cannot claim QZ381E2E: its port cannot be opened; is the printer "
            "connected and switched on? (106)\n");
}

}  // namespace
}  // namespace qz381::e2e
