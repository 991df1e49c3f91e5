#include "ports/common/export_guard.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "platform/trace.h"

namespace qz381::ports {
namespace {

class ExportGuardTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::SetTraceCapture([this](std::string_view line) { lines_.emplace_back(line); });
  }
  void TearDown() override { platform::SetTraceCapture(nullptr); }
  std::vector<std::string> lines_;
};

TEST_F(ExportGuardTest, WhateverIsThrownBecomesTheFailureValueAndATraceLine) {
  const struct {
    const char* name;
    void (*thrower)();
    const char* traced;
  } cases[] = {
      {"bad_alloc", [] { throw std::bad_alloc(); },
       "com: Write: stopped by an exception (std::bad_alloc); answering failure"},
      {"system_error",
       [] {
         throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
       },
       "com: Write: stopped by an exception ("},
      {"not an exception", [] { throw 42; },
       "com: Write: stopped by an unknown exception; answering failure"},
  };
  for (const auto& c : cases) {
    lines_.clear();
    EXPECT_EQ(Guarded({"com", "Write"}, int32_t{0},
                      [&] {
                        c.thrower();
                        return int32_t{7};
                      }),
              0)
        << c.name;
    ASSERT_EQ(lines_.size(), 1u) << c.name;
    EXPECT_NE(lines_[0].find(c.traced), std::string::npos) << lines_[0];
    lines_.clear();
    Guarded("com: ClosePort", [&] { c.thrower(); });
    EXPECT_EQ(lines_.size(), 1u) << c.name;
  }
  EXPECT_EQ(Guarded("com: Write", int32_t{-1}, [] { return int32_t{5}; }), 5);
}

}  // namespace
}  // namespace qz381::ports
