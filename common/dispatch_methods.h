#pragma once
// The service object's dispatch methods in identifier order (identifier = index
// + 1), each with its parameter list: L long, S string, D dispatch interface,
// l long* [in, out], s string* [in, out]. The service object and the control
// object stand-in both read this one table.
#include <array>
#include <string_view>

namespace qz381::opos {

struct DispatchMethod {
  std::string_view name;
  std::string_view params;
};

inline constexpr std::array<DispatchMethod, 36> kDispatchMethods = {{
    {"GetPropertyNumber", "L"},  {"SetPropertyNumber", "LL"}, {"GetPropertyString", "L"},
    {"SetPropertyString", "LS"}, {"OpenService", "SSD"},      {"Close", ""},
    {"ClaimDevice", "L"},        {"ReleaseDevice", ""},       {"CheckHealth", "L"},
    {"DirectIO", "Lls"},         {"COFreezeEvents", "L"},     {"ClearOutput", ""},
    {"BeginInsertion", "L"},     {"BeginRemoval", "L"},       {"EndInsertion", ""},
    {"EndRemoval", ""},          {"CutPaper", "L"},           {"PrintBarCode", "LSLLLLL"},
    {"PrintBitmap", "LSLL"},     {"PrintImmediate", "LS"},    {"PrintNormal", "LS"},
    {"PrintTwoNormal", "LSS"},   {"RotatePrint", "LL"},       {"SetBitmap", "LLSLL"},
    {"SetLogo", "LS"},           {"TransactionPrint", "LL"},  {"ValidateData", "LS"},
    {"ChangePrintSide", "L"},    {"MarkFeed", "L"},           {"ResetStatistics", "S"},
    {"RetrieveStatistics", "s"}, {"UpdateStatistics", "S"},   {"CompareFirmwareVersion", "Sl"},
    {"UpdateFirmware", "S"},     {"ClearPrintArea", ""},      {"pageModePrint", "L"},
}};

// 1-based identifier of a method, matched without regard to case; 0 when unknown.
constexpr int DispatchIdOf(std::string_view name) {
  for (size_t i = 0; i < kDispatchMethods.size(); ++i) {
    std::string_view m = kDispatchMethods[i].name;
    if (m.size() != name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < m.size() && same; ++k) {
      char a = m[k], b = name[k];
      if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
      if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
      same = a == b;
    }
    if (same) return static_cast<int>(i + 1);
  }
  return 0;
}

}  // namespace qz381::opos
