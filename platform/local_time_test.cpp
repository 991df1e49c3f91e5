#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

namespace qz381::platform {
namespace {

// Each moment broken down locally and put back together by the C library's
// own inverse is the same moment: the zone and daylight saving were applied
// the way the system applies them.
TEST(LocalTime, BreaksDownMomentsTheSystemPutsBackTogether) {
  const long long moments[] = {
      86400,       // 2 January 1970, clear of zones east of UTC
      951782400,   // 29 February 2000
      1711846800,  // 31 March 2024 01:00 UTC, a daylight-saving change in Europe
      2147483647,  // the last second a 32-bit time_t holds
      4102444800,  // 2100, past that second
  };
  for (long long moment : moments) {
    // A 32-bit time_t (32-bit Windows) ends in 2038.
    if (moment > std::numeric_limits<std::time_t>::max()) continue;
    const auto when = static_cast<std::time_t>(moment);
    std::optional<std::tm> local = LocalTime(when);
    ASSERT_TRUE(local.has_value()) << when;
    EXPECT_GE(local->tm_year, 70) << when;
    EXPECT_LE(local->tm_sec, 60) << when;
    std::tm copy = *local;
    EXPECT_EQ(std::mktime(&copy), when) << when;
  }
}

// Threads that convert at once each get their own moment back (a shared
// buffer, as std::localtime has, hands one thread the other's result).
TEST(LocalTime, ThreadsConvertingAtOnceKeepTheirOwnResults) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      const std::time_t when = 1000000000 + t * 3600 * 24 * 40;
      const std::optional<std::tm> first = LocalTime(when);
      for (int i = 0; i < 2000; ++i) {
        const std::optional<std::tm> again = LocalTime(when);
        if (!again || again->tm_yday != first->tm_yday || again->tm_hour != first->tm_hour) {
          ++wrong[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace qz381::platform
