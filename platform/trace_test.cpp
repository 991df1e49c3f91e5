#include "platform/trace.h"
#include "platform/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace qz381::platform {
namespace {

// "<tick> <thread> <message>" with decimal tick and thread numbers.
bool IsTraceLine(std::string_view line, std::string_view message) {
  for (int field = 0; field < 2; ++field) {
    size_t digits = line.find_first_not_of("0123456789");
    if (digits == 0 || digits == std::string_view::npos || line[digits] != ' ') return false;
    line.remove_prefix(digits + 1);
  }
  return line == message;
}

class TraceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::ClearEnvironmentValue("QZ381_TRACE");
    SetTraceCapture(nullptr);
  }
};

TEST_F(TraceTest, LinesCarryTickThreadAndMessage) {
  std::vector<std::string> lines;
  SetTraceCapture([&](std::string_view line) { lines.emplace_back(line); });
  EXPECT_TRUE(TraceEnabled());
  Trace("open %s: %d", "COM1", -7);
  Trace("%s", "ends with a break\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(IsTraceLine(lines[0], "open COM1: -7")) << lines[0];
  EXPECT_TRUE(IsTraceLine(lines[1], "ends with a break")) << lines[1];

  std::string long_text(1000, 'x');
  Trace("%s", long_text.c_str());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(IsTraceLine(lines[2], long_text));
}

TEST_F(TraceTest, ConcurrentTracersLoseNoLine) {
  std::mutex mu;
  size_t count = 0;
  SetTraceCapture([&](std::string_view) {
    std::lock_guard lock(mu);
    ++count;
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) Trace("thread %d line %d", t, i);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(count, 800u);
}

TEST_F(TraceTest, EnvironmentChoosesTheSink) {
  platform::ClearEnvironmentValue("QZ381_TRACE");
  SetTraceCapture(nullptr);
  EXPECT_FALSE(TraceEnabled());

  auto path = std::filesystem::temp_directory_path() /
              ("qz381-trace-" + std::to_string(std::random_device()()) + ".log");
  std::ofstream(path) << "earlier line\n";
  platform::SetEnvironmentValue("QZ381_TRACE", path.string());
  SetTraceCapture(nullptr);  // read the environment again
  EXPECT_TRUE(TraceEnabled());
  Trace("first");
  Trace("second");
  SetTraceCapture(nullptr);  // closes the file

  std::vector<std::string> lines;
  {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }  // closed first: Windows removes no open file
  std::filesystem::remove(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier line");
  EXPECT_TRUE(IsTraceLine(lines[1], "first")) << lines[1];
  EXPECT_TRUE(IsTraceLine(lines[2], "second")) << lines[2];
}

}  // namespace
}  // namespace qz381::platform
