#pragma once
// Conversions between printer dots and the units of MapMode. The tables are
// derived from the capability profile's DPIHIGH and DPIWIDTH and shared by every
// device of the process (the profile loaded last sets them, see SharedOutputState).
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qz381::output {

inline constexpr int32_t kMapModeDots = 1;
inline constexpr int32_t kMapModeTwips = 2;
inline constexpr int32_t kMapModeEnglish = 3;
inline constexpr int32_t kMapModeMetric = 4;

// One row converts value to (add + value * mul) / div in integer arithmetic.
struct UnitRow {
  int32_t mul;
  int32_t add;
  int32_t div;
};

// Rows in MapMode order: dots, twips, English, metric.
using UnitTable = std::array<UnitRow, 4>;

struct UnitTables {
  UnitTable VerticalDotsToUnits;
  UnitTable UnitsToVerticalDots;
  UnitTable UnitsToFeedUnits;  // two feed units per vertical dot
  UnitTable HorizontalDotsToUnits;
  UnitTable UnitsToHorizontalDots;
};

// The tables in force before any profile was read: 96 dpi high, 208 dpi wide.
UnitTables DefaultUnitTables();

// Refuses what the arithmetic cannot use instead of dividing by it: a DPIHIGH
// outside 1..1440 (twips per dot would be 0) or a DPIWIDTH below 1. On refusal
// `why`, when given, gets a sentence for the trace.
std::optional<UnitTables> DeriveUnitTables(int32_t dpi_high, int32_t dpi_width,
                                           std::string* why = nullptr);

// A MapMode outside 1..4 uses the dots row; a row with a zero divisor gives 0.
// Results beyond the 32-bit range saturate rather than wrap.
int32_t MapUnits(int32_t value, const UnitTable& table, int32_t map_mode);

}  // namespace qz381::output
