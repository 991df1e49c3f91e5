#include "tools/sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "tools/sim/control_server.h"
#include "tools/sim/render/render.h"

namespace qz381::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

// The service's end of the line: the slave side, raw, as the serial module
// opens it.
class HostLine {
 public:
  explicit HostLine(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(fd_, 0) << path;
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~HostLine() {
    if (fd_ >= 0) close(fd_);
  }
  void Write(const std::string& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Up to `count` bytes, or fewer when `timeout` passes first.
  std::string Read(size_t count, std::chrono::milliseconds timeout) {
    std::string got;
    const auto deadline = Clock::now() + timeout;
    while (got.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      char buffer[256];
      const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }
  // Whatever arrives within `window` (to show that nothing does).
  std::string Drain(std::chrono::milliseconds window) { return Read(4096, window); }

 private:
  int fd_ = -1;
};

constexpr auto kReply = 3s;     // how long a reply may take on a loaded machine
constexpr auto kQuiet = 300ms;  // how long "nothing arrives" is watched

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    sim_ = Simulator::Start(SimulatorOptions{}, &error);
    ASSERT_TRUE(sim_) << error;
    host_ = std::make_unique<HostLine>(sim_->SlavePath());
  }
  void Run(const std::string& command) { ASSERT_EQ(sim_->Execute(command), "ok") << command; }
  void ExpectJournal(const std::string& line) {
    EXPECT_TRUE(sim_->WaitForJournalLine(line, kReply)) << line;
  }

  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<HostLine> host_;
};

const std::string kStatusRequest = B({0x10, 0x04, 0x03});

TEST_F(SimulatorTest, AnswersTheStatusRequestInEveryState) {
  struct {
    std::vector<std::string> commands;
    uint8_t reply;
  } cases[] = {
      {{}, 0x12},
      {{"cover open"}, 0x53},
      {{"paper near"}, 0x12},
      {{"paper end"}, 0x93},
      {{"offline"}, 0x13},
      {{"error cutter"}, 0x1B},
      {{"error mechanical"}, 0x17},
      {{"error unrecoverable"}, 0x33},
      {{"cover open", "paper end"}, 0xD3},
  };
  for (const auto& c : cases) {
    for (const auto& command : c.commands) Run(command);
    host_->Write(kStatusRequest);
    EXPECT_EQ(host_->Read(1, kReply), std::string(1, static_cast<char>(c.reply)))
        << testing::PrintToString(c.commands);
    for (const char* reset : {"cover close", "paper ok", "online", "error none"}) Run(reset);
  }
}

TEST_F(SimulatorTest, SendsAutomaticStatusOnEnableAndOnEachChange) {
  host_->Write(B({0x00, 0x1D, 0x61, 0x0F}));
  EXPECT_EQ(host_->Read(4, kReply), B({0x10, 0x00, 0x00, 0x0F}));
  Run("cover open");
  EXPECT_EQ(host_->Read(4, kReply), B({0x38, 0x00, 0x00, 0x0F}));
  Run("cover close");
  EXPECT_EQ(host_->Read(4, kReply), B({0x10, 0x00, 0x00, 0x0F}));
  Run("paper near");
  EXPECT_EQ(host_->Read(4, kReply), B({0x10, 0x00, 0x03, 0x0F}));
  Run("paper near");  // no change, no block
  EXPECT_EQ(host_->Drain(kQuiet), "");

  host_->Write(B({0x1D, 0x61, 0x00}));
  ExpectJournal("GS a 0 automatic-status");
  Run("cover open");
  Run("error cutter");
  EXPECT_EQ(host_->Drain(kQuiet), "");
}

TEST_F(SimulatorTest, ReportsOnlyTheKindsTheHostAskedFor) {
  host_->Write(B({0x1D, 0x61, 0x02}));  // on-line changes only
  EXPECT_EQ(host_->Read(4, kReply), B({0x10, 0x00, 0x00, 0x0F}));
  Run("paper near");
  EXPECT_EQ(host_->Drain(kQuiet), "");
  Run("cover open");  // the block carries everything, the paper too
  EXPECT_EQ(host_->Read(4, kReply), B({0x38, 0x00, 0x03, 0x0F}));
}

TEST_F(SimulatorTest, FullMaskAddsCartridgeBlocks) {
  Run("cartridge primary near");
  host_->Write(B({0x00, 0x1D, 0x61, 0xFF}));
  EXPECT_EQ(host_->Read(8, kReply), B({0x10, 0x00, 0x00, 0x0F, 0x35, 0x41, 0x40, 0x00}));
  Run("cartridge second removed");
  EXPECT_EQ(host_->Read(4, kReply), B({0x35, 0x48, 0x40, 0x00}));  // near end gives way
}

TEST_F(SimulatorTest, SilentPrinterAnswersNothingButStillListens) {
  Run("silent on");
  host_->Write(B({0x1D, 0x61, 0x0F}) + kStatusRequest);
  ExpectJournal("DLE EOT 3 realtime-status");
  Run("cover open");
  EXPECT_EQ(host_->Drain(kQuiet), "");
  // Back on the line it reports the state the host has not heard of.
  Run("silent off");
  EXPECT_EQ(host_->Read(4, kReply), B({0x38, 0x00, 0x00, 0x0F}));
}

TEST_F(SimulatorTest, AStatusBlockLostToSilenceIsSentAgainAfterIt) {
  host_->Write(B({0x1D, 0x61, 0x0F}));
  EXPECT_EQ(host_->Read(4, kReply), B({0x10, 0x00, 0x00, 0x0F}));
  Run("cover open");
  EXPECT_EQ(host_->Read(4, kReply), B({0x38, 0x00, 0x00, 0x0F}));
  // The cover closes, but the line goes silent before the block goes out.
  Run("pause on");
  Run("cover close");
  Run("silent on");
  Run("pause off");
  EXPECT_EQ(host_->Drain(kQuiet), "");
  // Otherwise the host would think the cover open for good.
  Run("silent off");
  EXPECT_EQ(host_->Read(4, kReply), B({0x10, 0x00, 0x00, 0x0F}));
}

TEST_F(SimulatorTest, PausedPrinterAnswersOnceResumed) {
  Run("pause on");
  host_->Write(kStatusRequest);
  EXPECT_EQ(host_->Drain(kQuiet), "");
  EXPECT_TRUE(sim_->JournalLines().empty());
  Run("pause off");
  EXPECT_EQ(host_->Read(1, kReply), "\x12");
}

TEST_F(SimulatorTest, ResynchronisesAfterAnUnknownByte) {
  host_->Write(B({0x01, 0x1B, 0x40, 'O', 'K', 0x0A}) + kStatusRequest);
  EXPECT_EQ(host_->Read(1, kReply), "\x12");
  ExpectJournal("LF");
  EXPECT_EQ(sim_->JournalLines(),
            (std::vector<std::string>{"UNKNOWN 0x01", "ESC @ initialize", "TEXT \"OK\"", "LF",
                                      "DLE EOT 3 realtime-status"}));
  EXPECT_EQ(sim_->RawBytes().size(), 9u);
}

TEST_F(SimulatorTest, CommandCutShortByTheEndIsJournaledAsTruncated) {
  host_->Write(B({0x1B, 0x40, 0x1D, 0x76, 0x30, 0x00, 0x02, 0x00, 0x09, 0x00, 0xFF}));
  ASSERT_TRUE(sim_->WaitForRawBytes(11, kReply));
  sim_->Stop();
  EXPECT_EQ(sim_->JournalLines(),
            (std::vector<std::string>{"ESC @ initialize",
                                      "GS v 0 0 2 0 9 0 <18 bytes> raster-image 16x9 TRUNCATED"}));
}

TEST_F(SimulatorTest, StopWakesEveryWait) {
  std::optional<size_t> found = 0;
  std::string slept;
  std::thread waiter([&] { found = sim_->WaitForJournalLine("never", 60s); });
  std::thread sleeper([&] { slept = sim_->Execute("sleep 60000"); });
  std::this_thread::sleep_for(50ms);
  sim_->Stop();
  waiter.join();
  sleeper.join();
  EXPECT_FALSE(found.has_value());
  EXPECT_EQ(slept, "error: simulator stopped");
  EXPECT_EQ(sim_->Execute("cover open"), "error: simulator stopped");
}

TEST_F(SimulatorTest, ScenarioRunsItsStepsInOrder) {
  host_->Write(B({0x1D, 0x61, 0x0F}));
  EXPECT_EQ(host_->Read(4, kReply), B({0x10, 0x00, 0x00, 0x0F}));
  std::istringstream text(
      "# cover opened and closed again\nat 10 cover open\nsleep 20\n"
      "cover close\nat 40 paper end\n");
  std::vector<ScenarioStep> steps;
  std::string error;
  ASSERT_TRUE(ParseScenario(text, &steps, &error)) << error;
  sim_->RunScenario(std::move(steps));
  EXPECT_EQ(host_->Read(12, kReply),
            B({0x38, 0x00, 0x00, 0x0F, 0x10, 0x00, 0x00, 0x0F, 0x18, 0x00, 0x0C, 0x0F}));
}

TEST_F(SimulatorTest, ThrottledLineIsNoFasterThanItsBaudRate) {
  Run("baud 9600");
  host_->Write(std::string(480, 'x'));
  const auto start = Clock::now();
  ASSERT_TRUE(sim_->WaitForRawBytes(480, 10s));
  // 480 bytes at 960 bytes a second take half a second; allow for the first
  // chunk arriving at once.
  EXPECT_GE(Clock::now() - start, 400ms);
}

TEST_F(SimulatorTest, CommandHookSeesTheStateAfterEachCommand) {
  sim_->Stop();
  std::vector<bool> emphasis;
  std::mutex mu;
  SimulatorOptions options;
  options.on_command = [&](const Command& c, const PrinterState& s) {
    std::lock_guard lock(mu);
    if (c.op == Op::kText) emphasis.push_back(s.style.emphasis);
  };
  std::string error;
  auto sim = Simulator::Start(std::move(options), &error);
  ASSERT_TRUE(sim) << error;
  HostLine host(sim->SlavePath());
  host.Write(B({'a', 0x1B, 0x45, 0x01, 'b', 0x1B, 0x45, 0x00, 'c', 0x0A}));
  ASSERT_TRUE(sim->WaitForJournalLine("LF", kReply));
  std::lock_guard lock(mu);
  EXPECT_EQ(emphasis, (std::vector<bool>{false, true, false}));
}

TEST_F(SimulatorTest, RendersOnePagePerCut) {
  sim_->Stop();
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) / ("sim-render-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  // A file where the pages should go fails the start; a missing folder is made.
  std::ofstream(dir.string()) << "in the way";
  SimulatorOptions blocked;
  blocked.render_path = dir.string();
  std::string refused;
  EXPECT_FALSE(Simulator::Start(std::move(blocked), &refused));
  EXPECT_NE(refused.find("render directory " + dir.string()), std::string::npos) << refused;
  std::filesystem::remove(dir);
  SimulatorOptions options;
  options.render_path = (dir / "pages").string();
  options.two_colour = true;
  std::string error;
  auto sim = Simulator::Start(std::move(options), &error);
  ASSERT_TRUE(sim) << error;
  HostLine host(sim->SlavePath());
  host.Write("first\n" + B({0x1D, 'V', 1, 0x1B, 'r', 1}) + "second\n" + B({0x1D, '/', 0}));
  ASSERT_TRUE(sim->WaitForJournalLine("LF", kReply, 2));
  // What the renderer could not draw is journaled after the command.
  ASSERT_TRUE(
      sim->WaitForJournalLine("RENDER GS /: no such image stored; nothing printed", kReply));
  sim->Stop();
  render::Image first, second;
  const std::filesystem::path pages = dir / "pages";
  ASSERT_TRUE(render::ReadPng((pages / "receipt-001.png").string(), &first, &error)) << error;
  ASSERT_TRUE(render::ReadPng((pages / "receipt-002.png").string(), &second, &error)) << error;
  EXPECT_FALSE(std::filesystem::exists(pages / "receipt-003.png"));
  // The first page ends with the cut mark, the second has only its line.
  EXPECT_EQ(first.height, kDefaultLineDots + 2 * render::kCutGap + 1);
  EXPECT_TRUE(first.Ink(0, kDefaultLineDots + render::kCutGap));
  EXPECT_EQ(second.height, kDefaultLineDots);
  bool red = false;
  for (int x = 0; x < second.width; ++x) red = red || second.At(x, 10) == render::kRed;
  EXPECT_TRUE(red);
  std::filesystem::remove_all(dir);
}

TEST(SimulatorRegistryTest, MapsThePortWhileRunning) {
  auto registry = platform::NewMemoryRegistry();
  const char* key = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
  // Left behind by a simulator that was killed.
  registry->SetValue(platform::Hive::kLocalMachine, key, "/dev/pts/999",
                     platform::RegValue::Text("com7"));
  registry->SetValue(platform::Hive::kLocalMachine, key, "/dev/ttyUSB0",
                     platform::RegValue::Text("COM3"));
  SimulatorOptions options;
  options.port_name = "COM7";
  options.registry = registry.get();
  std::string error;
  auto sim = Simulator::Start(std::move(options), &error);
  ASSERT_TRUE(sim) << error;

  std::vector<std::string> nodes;
  ASSERT_TRUE(registry->EnumValues(platform::Hive::kLocalMachine, key, &nodes).ok());
  EXPECT_EQ(nodes, (std::vector<std::string>{"/dev/ttyUSB0", sim->SlavePath()}));
  std::string port;
  ASSERT_TRUE(
      platform::ReadText(*registry, platform::Hive::kLocalMachine, key, sim->SlavePath(), &port)
          .ok());
  EXPECT_EQ(port, "COM7");

  sim->Stop();
  ASSERT_TRUE(registry->EnumValues(platform::Hive::kLocalMachine, key, &nodes).ok());
  EXPECT_EQ(nodes, (std::vector<std::string>{"/dev/ttyUSB0"}));
}

TEST(ControlServerTest, RepliesToEachCommandLine) {
  std::string error;
  auto sim = Simulator::Start(SimulatorOptions{}, &error);
  ASSERT_TRUE(sim) << error;
  const std::string path =
      (std::filesystem::temp_directory_path() / ("qz381-sim-" + std::to_string(getpid()))).string();
  auto server = ControlServer::Start(*sim, path, &error);
  ASSERT_TRUE(server) << error;

  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "cover open\npaper sideways\n\nbogus\nstatus\n";
  ASSERT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  std::string replies;
  while (std::count(replies.begin(), replies.end(), '\n') < 5) {
    char buffer[512];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0);
    replies.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  EXPECT_EQ(replies,
            "ok\nerror: usage: paper ok|near|end\nok\nerror: unknown command: bogus\n"
            "ok cover=open paper=ok error=none online=no primary=ok second=ok cleaning=off "
            "asb=0 page-mode=off silent=off paused=off baud=0\n");
  EXPECT_TRUE(sim->State().status.cover_open);
  server->Stop();
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace qz381::sim
