#include "so/output/units.h"

#include <limits>

namespace qz381::output {

namespace {

constexpr int32_t kTwipsPerInch = 1440;

// Callers have already refused resolutions the divisions below cannot take.
UnitTables BuildTables(int32_t v, int32_t h) {
  const int32_t t = kTwipsPerInch / v;
  UnitTables u{};
  u.VerticalDotsToUnits = {{{1, 0, 1}, {t, 0, 1}, {1000, v / 2, v}, {2540, v / 2, v}}};
  u.UnitsToVerticalDots = {{{1, 0, 1}, {1, t / 2, t}, {v, 500, 1000}, {v, 1270, 2540}}};
  u.UnitsToFeedUnits = {{{2, 0, 1}, {2, t / 2, t}, {2 * v, 500, 1000}, {2 * v, 1270, 2540}}};
  u.HorizontalDotsToUnits = {
      {{1, 0, 1}, {kTwipsPerInch, h / 2, h}, {1000, h / 2, h}, {2540, h / 2, h}}};
  u.UnitsToHorizontalDots = {{{1, 0, 1}, {h, 720, 1440}, {h, 500, 1000}, {h, 1270, 2540}}};
  return u;
}

}  // namespace

UnitTables DefaultUnitTables() {
  return BuildTables(96, 208);
}

std::optional<UnitTables> DeriveUnitTables(int32_t dpi_high, int32_t dpi_width, std::string* why) {
  const char* reason = nullptr;
  if (dpi_high < 1) {
    reason = "DPIHIGH is missing or not positive";
  } else if (dpi_high > kTwipsPerInch) {
    reason = "DPIHIGH is above 1440, which leaves no whole twips per dot";
  } else if (dpi_width < 1) {
    reason = "DPIWIDTH is missing or not positive";
  }
  if (reason != nullptr) {
    if (why != nullptr) {
      *why = std::string(reason) + " (DPIHIGH " + std::to_string(dpi_high) + ", DPIWIDTH " +
             std::to_string(dpi_width) + "); the unit tables were left unchanged";
    }
    return std::nullopt;
  }
  return BuildTables(dpi_high, dpi_width);
}

int32_t MapUnits(int32_t value, const UnitTable& table, int32_t map_mode) {
  const bool known = map_mode >= kMapModeDots && map_mode <= kMapModeMetric;
  const UnitRow& row = table[known ? static_cast<size_t>(map_mode - 1) : 0];
  if (row.div == 0) return 0;
  const int64_t r =
      (static_cast<int64_t>(row.add) + static_cast<int64_t>(value) * row.mul) / row.div;
  if (r > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (r < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

}  // namespace qz381::output
