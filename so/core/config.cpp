// Reading a device's configuration: its registry entry, then the capability
// profile that the entry names.
#include <string_view>

#include "common/opos.h"
#include "common/properties.h"
#include "common/usb_devices.h"
#include "platform/profile.h"
#include "platform/trace.h"
#include "so/core/pos_printer.h"
#include "so/output/code_table.h"
#include "so/output/units.h"

namespace qz381::so {

using namespace qz381::opos;
using platform::Hive;

namespace {

constexpr std::string_view kDeviceKeyPrefix = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\";

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Reads values of one key; a value that is missing or of another type leaves its
// target as it was. The first unreadable-store failure is traced once.
class EntryReader {
 public:
  EntryReader(platform::Registry& reg, std::string key) : reg_(reg), key_(std::move(key)) {}

  bool Text(std::string_view name, std::string* out) {
    return Note(name, platform::ReadText(reg_, Hive::kLocalMachine, key_, name, out));
  }
  // A number stored as text, by the atoi rule.
  bool TextNumber(std::string_view name, int32_t* out) {
    std::string text;
    if (!Text(name, &text)) return false;
    *out = platform::Atoi(text);
    return true;
  }
  bool TextNumber(std::string_view name, uint32_t* out) {
    int32_t v;
    if (!TextNumber(name, &v)) return false;
    *out = static_cast<uint32_t>(v);
    return true;
  }
  bool Number(std::string_view name, int32_t* out) {
    uint32_t v;
    if (!Note(name, platform::ReadNumber(reg_, Hive::kLocalMachine, key_, name, &v))) return false;
    *out = static_cast<int32_t>(v);
    return true;
  }

 private:
  bool Note(std::string_view name, const platform::Status& st) {
    if (st.ok()) return true;
    if (st.outcome() != platform::Outcome::kNotFound &&
        st.outcome() != platform::Outcome::kWrongType && !reported_) {
      reported_ = true;
      platform::Trace("LoadDeviceEntry: %s: %s", std::string(name).c_str(), st.ToString().c_str());
    }
    return false;
  }

  platform::Registry& reg_;
  std::string key_;
  bool reported_ = false;
};

}  // namespace

int32_t CPOSPrinter::LoadDeviceEntry(const std::string& device_name) {
  EntryReader entry(registry_, std::string(kDeviceKeyPrefix) + device_name);
  std::string port;
  device_name_property_.clear();
  option_ = ports::DefaultDeviceOption();

  entry.Text("Port", &port);
  cap_power_reporting_ = OPOS_PR_STANDARD;

  // Case-sensitive on purpose: the setup utility always writes upper case, and a
  // hand-written "com1" has always meant a network printer.
  if (StartsWith(port, "COM")) {
    entry.TextNumber("BaudRate", &option_.baudRate);
    entry.TextNumber("BitLength", &option_.byteSize);
    entry.TextNumber("Parity", &option_.parity);
    entry.TextNumber("Stop", &option_.stopBits);
    option_.timeouts = {2, 0, 50, 10, 3000};
  } else if (StartsWith(port, "LPT")) {
    option_.timeouts = {1, 0, 0, 0, 3000};
  } else if (StartsWith(port, "USB")) {
    std::string usb_name, pid, vid;
    int32_t usb_count = 0;
    entry.Text("UsbDeviceName", &usb_name);
    entry.Number("UsbCount", &usb_count);
    entry.Text("Pid", &pid);
    entry.Text("Vid", &vid);
    // The recorded path may be stale (another socket, another printer of the
    // same product): the printers attached now decide.
    usb::UsbDeviceList attached;
    usb::EnumerateUsbDevices(attached);
    port = usb::ResolveUsbDevice(attached, usb_name, usb_count, pid);
    if (port.empty()) {
      platform::Trace("LoadDeviceEntry: none of %u attached USB printers fits '%s' (Pid %s, %d)",
                      static_cast<unsigned>(attached.size()), usb_name.c_str(), pid.c_str(),
                      usb_count);
    }
  } else {
    port.clear();
    entry.Text("TcpIp", &port);
    // The TCP port travels in the baud rate; without TcpPort it is 0, which
    // the network module takes as the printers' usual 9100, never the serial
    // default's 9600.
    int32_t tcp_port = 0;
    entry.Number("TcpPort", &tcp_port);
    option_.baudRate = static_cast<uint32_t>(tcp_port);
  }
  if (!ports::SetPortName(option_, port)) {
    platform::Trace("LoadDeviceEntry: port name of %u characters is too long",
                    static_cast<unsigned>(port.size()));
    port.clear();
  }

  entry.TextNumber("OutputBuf", &option_.outputBufferSize);
  entry.TextNumber("InputBuf", &option_.inputBufferSize);
  entry.Number("Type", &out_.Type);
  entry.Text("DeviceDesc", &device_description_);
  entry.Text("DeviceName", &device_name_property_);
  entry.Text("Description", &service_object_description_);
  entry.Text("inf", &profile_path_);
  entry.Number("Model", &model_);

  if (port.empty() || device_name_property_.empty()) {
    platform::Trace("LoadDeviceEntry(%s): %s is empty", device_name.c_str(),
                    port.empty() ? "the port name" : "DeviceName");
    return OPOS_E_ILLEGAL;
  }
  // Port writes are cut into chunks of this size; 0 would never send a byte.
  if (option_.outputBufferSize == 0) {
    platform::Trace("LoadDeviceEntry(%s): OutputBuf is 0", device_name.c_str());
    return OPOS_E_ILLEGAL;
  }

  std::string version;
  if (entry.Text("Version", &version)) {
    size_t dot = version.rfind('.');
    if (dot != std::string::npos)
      service_object_version_ = 1009000 + platform::Atoi(std::string_view(version).substr(dot + 1));
  }
  return OPOS_SUCCESS;
}

int32_t CPOSPrinter::LoadProfile(const std::string& path) {
  platform::IniFile ini;
  platform::Status st = platform::IniFile::Load(path, &ini);
  if (!st.ok()) {
    platform::Trace("LoadProfile: %s", st.ToString().c_str());
    return OPOS_E_ILLEGAL;
  }
  auto text = [&](const char* section, const char* key) { return ini.GetString(section, key, ""); };
  auto number = [&](const char* section, const char* key) { return ini.GetInt(section, key, 0); };
  const char* P = "POSPRINTER";

  RecBarCodeRotationList_ = text(P, "RecBarCodeRotationList");
  CharacterSetList_ = text(P, "CharacterSetList");
  FontTypefaceList_ = text(P, "FontTypefaceList");
  RecLineCharsList_ = text(P, "RecLineCharsList");
  caps_.CapCompareFirmwareVersion = number("COMMON", "CapCompareFirmwareVersion");
  caps_.CapStatisticsReporting = number("COMMON", "CapStatisticsRporting");
  caps_.CapUpdateFirmware = number("COMMON", "CapUpdateFirmware");
  caps_.CapUpdateStatistics = number("COMMON", "CapUpdateStatistics");
  caps_.CapCoverSensor = number(P, "CapCoverSensor");
  caps_.CapRec2Color = number(P, "CapRec2Color");
  caps_.CapRecBarCode = number(P, "CapRecBarCode");
  caps_.CapRecBitmap = number(P, "CapRecBitmap");
  caps_.CapRecBold = number(P, "CapRecBold");
  caps_.CapRecItalic = number(P, "CapRecItalic");
  caps_.CapRecUnderline = number(P, "CapRecUnderline");
  caps_.CapRecCartridgeSensor = number(P, "CapRecCartridgeSensor");
  if (caps_.CapRecCartridgeSensor == -1) caps_.CapRecCartridgeSensor = 0;
  out_.CapRecColor = number(P, "CapRecColor");
  caps_.CapRecDhigh = number(P, "CapRecDhigh");
  caps_.CapRecDwide = number(P, "CapRecDwide");
  caps_.CapRecDwideDhigh = number(P, "CapRecDwideDhigh");
  caps_.CapRecEmptySensor = number(P, "CapRecEmptySensor");
  caps_.CapRecNearEndSensor = number(P, "CapRecNearEndSensor");
  caps_.CapRecMarkFeed = number(P, "CapRecMarkFeed");
  out_.CapRecPapercut = number(P, "CapRecPapercut");
  caps_.CapRecLeft90 = number(P, "CapRecLeft90");
  caps_.CapRecRight90 = number(P, "CapRecRight90");
  out_.CapRecRotate180 = number(P, "CapRecRotate180");
  caps_.CapRecStamp = number(P, "CapRecStamp");
  CharacterSet_ = number(P, "CharacterSet");
  // An unsupported character set keeps the code table as it was; opening goes on.
  output::SelectCodeTable(out_, CharacterSet_, device_name_);
  int32_t profile_line_chars = number(P, "RecLineChars");
  metrics_.RecLineHeight = number(P, "RecLineHeight");
  metrics_.RecLineSpacing = number(P, "RecLineSpacing");
  metrics_.default_spacing_dots = metrics_.RecLineSpacing;
  metrics_.RecLineWidth = number(P, "RecLineWidth");
  metrics_.width_dots = metrics_.RecLineWidth;
  metrics_.RecSidewaysMaxLines = number(P, "RecSidewaysMaxLines");
  metrics_.RecSidewaysMaxChars = number(P, "RecSidewaysMaxChars");
  out_.RecLinesToPaperCut = number(P, "RecLinesToPaperCut");
  caps_.CapConcurrentPageMode = number(P, "CapConcurrentPageMode");
  caps_.CapMapCharacterSet = number(P, "CapMapCharacterSet");
  caps_.CapRecPageMode = number(P, "CapRecPageMode");
  MapCharacterSet_ = number(P, "MapCharacterSet");
  page_.PageModeArea = text(P, "PageModeArea");
  page_.PageModeDescriptor = number(P, "PageModeDescriptor");
  page_.PageModeHorizontalPosition = number(P, "PageModeHorizontalPosition");
  std::string print_area = text(P, "PageModePrintArea");
  page_.PageModePrintDirection = number(P, "PageModePrintDirection");
  page_.PageModeStation = number(P, "PageModeStation");
  page_.PageModeVerticalPosition = number(P, "PageModeVerticalPosition");
  RecBitmapRotationList_ = text(P, "RecBitmapRotationList");
  metrics_.LinecharsCompressed = number("DETAIL", "LinecharsCompressed");
  out_.LinecharsNormal = number("DETAIL", "LinecharsNormal");
  metrics_.DotsPerNormalChar = number("DETAIL", "DotsPerNormalChar");
  metrics_.DotsPerCompressedChar = number("DETAIL", "DotsPerCompressedChar");
  metrics_.DotsPerNormalCharHeight = number("DETAIL", "DotsPerNormalCharHeight");
  metrics_.DotsPerCompressedCharHeight = number("DETAIL", "DotsPerCompressedCharHeight");
  int32_t dpi_high = number("DETAIL", "DPIHIGH");
  int32_t dpi_width = number("DETAIL", "DPIWIDTH");

  // The unit tables come first here (the page-mode positions are converted with
  // them); a resolution the conversions would divide by is refused outright.
  std::string why;
  std::optional<output::UnitTables> tables = output::DeriveUnitTables(dpi_high, dpi_width, &why);
  if (!tables) {
    platform::Trace("LoadProfile(%s): %s", path.c_str(), why.c_str());
    return OPOS_E_ILLEGAL;
  }
  dpi_high_ = dpi_high;
  dpi_width_ = dpi_width;
  twips_per_dot_ = 1440 / dpi_high;
  out_.shared->SetUnits(*tables);

  ApplyPageModePrintArea(print_area);
  SetPropertyNumber(PIDX_PageModeVerticalPosition, page_.PageModeVerticalPosition);
  SetPropertyNumber(PIDX_PageModeHorizontalPosition, page_.PageModeHorizontalPosition);
  result_code_ = OPOS_SUCCESS;

  out_.DIINTERNATIONAL = number("DIRECTIO", "DIINTERNATIONAL");

  const output::UnitTables units = out_.shared->Units();
  metrics_.height_dots =
      output::MapUnits(metrics_.RecLineHeight, units.UnitsToVerticalDots, out_.MapMode);
  out_.line_spacing_dots =
      output::MapUnits(metrics_.RecLineSpacing, units.UnitsToVerticalDots, out_.MapMode);

  ApplyRecLineChars(profile_line_chars);
  int32_t rc = result_code_;
  if (out_.RecLineChars == 0 || metrics_.RecLineWidth == 0) {
    platform::Trace("LoadProfile(%s): RecLineChars %d, RecLineWidth %d", path.c_str(),
                    out_.RecLineChars, metrics_.RecLineWidth);
    rc = OPOS_E_ILLEGAL;
  }
  {
    std::lock_guard<std::mutex> guard(state_mutex_);
    state_ = OPOS_S_IDLE;
  }
  check_health_text_ = "Not Executed";
  return rc;
}

}  // namespace qz381::so
