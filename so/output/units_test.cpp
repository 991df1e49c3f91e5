#include "so/output/units.h"

#include <gtest/gtest.h>

#include <limits>

namespace qz381::output {
namespace {

TEST(UnitTablesTest, RefusesResolutionsItCannotDivideBy) {
  struct Refused {
    int32_t high, width;
    const char* names;
  };
  for (const Refused& r : {Refused{0, 180, "DPIHIGH"}, Refused{-180, 180, "DPIHIGH"},
                           Refused{1441, 180, "DPIHIGH"}, Refused{180, 0, "DPIWIDTH"}}) {
    std::string why;
    EXPECT_FALSE(DeriveUnitTables(r.high, r.width, &why).has_value()) << r.high << "/" << r.width;
    EXPECT_NE(why.find(r.names), std::string::npos) << why;
  }
  EXPECT_TRUE(DeriveUnitTables(1440, 1, nullptr).has_value());
}

TEST(UnitTablesTest, ConversionsAt180Dpi) {
  const UnitTables u = *DeriveUnitTables(180, 203);
  struct Row {
    const UnitTable& table;
    int32_t mode, value, expected;
  };
  for (const Row& r : {
           Row{u.VerticalDotsToUnits, kMapModeTwips, 30, 240},
           Row{u.VerticalDotsToUnits, kMapModeEnglish, 30, 167},
           Row{u.VerticalDotsToUnits, kMapModeMetric, 30, 423},
           Row{u.UnitsToVerticalDots, kMapModeTwips, 240, 30},
           Row{u.UnitsToVerticalDots, kMapModeEnglish, 1000, 180},
           Row{u.UnitsToFeedUnits, kMapModeDots, 130, 260},
           Row{u.UnitsToFeedUnits, kMapModeMetric, 254, 36},
           Row{u.HorizontalDotsToUnits, kMapModeTwips, 203, 1440},
           Row{u.UnitsToHorizontalDots, kMapModeEnglish, 1000, 203},
       }) {
    EXPECT_EQ(MapUnits(r.value, r.table, r.mode), r.expected) << r.mode << " " << r.value;
  }
}

TEST(UnitTablesTest, DefaultsAre96By208) {
  const UnitTables d = DefaultUnitTables();
  EXPECT_EQ(MapUnits(96, d.VerticalDotsToUnits, kMapModeEnglish), 1000);
  EXPECT_EQ(MapUnits(208, d.HorizontalDotsToUnits, kMapModeMetric), 2540);
  EXPECT_EQ(MapUnits(1, d.VerticalDotsToUnits, kMapModeTwips), 15);
}

TEST(UnitTablesTest, MapUnitsNeverWrapsOrDividesByZero) {
  const UnitTables u = *DeriveUnitTables(180, 180);
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(MapUnits(kMax, u.VerticalDotsToUnits, kMapModeMetric), kMax);
  EXPECT_EQ(MapUnits(kMin, u.VerticalDotsToUnits, kMapModeMetric), kMin);
  EXPECT_EQ(MapUnits(7, u.UnitsToFeedUnits, 0), 14);
  EXPECT_EQ(MapUnits(7, u.UnitsToFeedUnits, 5), 14);
  const UnitTable zero{};
  EXPECT_EQ(MapUnits(7, zero, kMapModeMetric), 0);
}

}  // namespace
}  // namespace qz381::output
