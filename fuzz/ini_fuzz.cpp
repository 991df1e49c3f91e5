// INI parser: any text parses, an unchanged file serializes to the same bytes,
// and a value written can be read back from the re-parsed text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/profile.h"

using qz381::platform::Atoi;
using qz381::platform::IniFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  IniFile ini = IniFile::Parse(text);
  if (ini.Serialize() != text) std::abort();

  for (const std::string& section : ini.Sections()) {
    for (const std::string& key : ini.Keys(section)) {
      if (!ini.HasKey(section, key)) std::abort();
      if (ini.GetString(section, key, "", 16).size() > 15) std::abort();
      ini.GetInt(section, key, 0);
    }
  }
  Atoi(text);

  ini.Set("Fuzz Section", "FuzzKey", "written value");
  ini.Set("Fuzz Section", "Gone", std::nullopt);
  IniFile again = IniFile::Parse(ini.Serialize());
  if (again.GetString("fuzz section", "fuzzkey", "") != "written value") std::abort();
  if (again.HasKey("Fuzz Section", "Gone")) std::abort();
  if (!ini.Sections().empty()) ini.DeleteSection(ini.Sections().front());
  return 0;
}
