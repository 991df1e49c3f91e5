#include "tools/qz381/translate_cmd.h"

#include <memory>

#include "platform/profile.h"
#include "so/output/code_table.h"
#include "so/output/translate.h"
#include "so/output/units.h"
#include "tools/qz381/args.h"

namespace qz381::tool {

using platform::Outcome;
using platform::Status;

Status FreshDeviceSettings(const std::string& profile, std::string_view model, int32_t type,
                           output::SharedOutputState* shared, output::DeviceSettings* device) {
  if (type < 1 || type > 3)
    return Status::Fail(Outcome::kInvalidArgument, "printer type " + std::to_string(type));
  platform::IniFile ini;
  Status st = platform::IniFile::Load(profile, &ini);
  if (!st.ok()) return st;
  auto number = [&](const char* section, const char* key) { return ini.GetInt(section, key, 0); };
  const char* P = "POSPRINTER";

  std::string why;
  const std::optional<output::UnitTables> units =
      output::DeriveUnitTables(number("DETAIL", "DPIHIGH"), number("DETAIL", "DPIWIDTH"), &why);
  if (!units) return Status::Fail(Outcome::kMalformed, profile + ": " + why);

  *device = output::DeviceSettings{};
  device->shared = shared;
  shared->SetUnits(*units);
  device->Type = type;
  device->CapRecColor = number(P, "CapRecColor");
  device->CapRecPapercut = number(P, "CapRecPapercut");
  device->CapRecRotate180 = number(P, "CapRecRotate180");
  device->DIINTERNATIONAL = number("DIRECTIO", "DIINTERNATIONAL");
  device->RecLinesToPaperCut = number(P, "RecLinesToPaperCut");
  device->LinecharsNormal = number("DETAIL", "LinecharsNormal");
  // An unsupported character set keeps the code table, as opening does.
  output::SelectCodeTable(*device, number(P, "CharacterSet"), model);
  device->line_spacing_dots =
      output::MapUnits(number(P, "RecLineSpacing"), units->UnitsToVerticalDots, device->MapMode);
  // RecLineChars picks the font: the normal one up to its width, else compressed.
  const int32_t line_chars = std::max(10, number(P, "RecLineChars"));
  device->RecLineChars = line_chars <= device->LinecharsNormal
                             ? device->LinecharsNormal
                             : number("DETAIL", "LinecharsCompressed");
  if (device->RecLineChars == 0 || number(P, "RecLineWidth") == 0)
    return Status::Fail(Outcome::kMalformed, profile + ": no RecLineChars or RecLineWidth");
  output::SelectBaseFont(*device);
  device->PendingSettings = output::kPendingAll;
  return Status::Ok();
}

int32_t TranslateFirstPrint(output::DeviceSettings& device, std::string_view text,
                            std::string* prologue, std::string* body) {
  // PrintNormal translates when it is called and builds the prologue when the
  // job goes out, so the translation is the one that takes the pending settings.
  const int32_t rc = output::TranslatePrintData(device, text, *body);
  *prologue = output::BuildModePrologue(device);
  return rc;
}

bool StreamFirstPrint(output::DeviceSettings& device, InputFile& input, size_t piece,
                      std::ostream& to, int32_t* result, std::string* error) {
  *result = output::kOposSuccess;
  auto write = [&to](std::string& bytes) {
    to.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.clear();
    return to.good();
  };
  output::PrintDataTranslator translator(device);
  // The job's prologue goes first but is built once the translation has taken
  // the pending settings, as in TranslateFirstPrint.
  std::string out;
  translator.Begin(out);
  std::string prologue = output::BuildModePrologue(device);
  if (!write(prologue) || !write(out)) return true;
  // A piece's bytes seldom grow by more than a half; room for that spares
  // growing the buffer.
  out.reserve(piece + piece / 2 + 4096);
  const std::unique_ptr<char[]> buffer(new char[piece]);
  for (;;) {
    size_t got = 0;
    if (!input.Read(buffer.get(), piece, &got, error)) return false;
    if (got == 0) break;
    translator.Feed(std::string_view(buffer.get(), got), out);
    if (!write(out)) return true;
  }
  *result = translator.End(out);
  write(out);
  return true;
}

}  // namespace qz381::tool
