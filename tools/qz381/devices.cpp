#include "tools/qz381/devices.h"

#include <algorithm>
#include <ostream>

#include "platform/serial.h"
#include "setup/install.h"

namespace qz381::tool {

namespace {

using platform::Hive;

// Prints rows as columns two spaces apart, each as wide as its widest cell.
void PrintTable(const std::vector<std::vector<std::string>>& rows, std::ostream& out) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line = " ";
    for (size_t i = 0; i < row.size(); ++i) {
      line += " " + row[i];
      if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 1, ' ');
    }
    out << line << "\n";
  }
}

std::string TextOr(platform::Registry& reg, const std::string& key, const char* name,
                   const char* fallback) {
  std::string text;
  if (!platform::ReadText(reg, Hive::kLocalMachine, key, name, &text).ok() || text.empty())
    return fallback;
  return text;
}

// Where the service object sends a device's output: the port name, or for a
// network printer (a port that is not COM, LPT or USB) its address, as
// "host:port" ("[v6 address]:port"), the TCP port 9100 when none is recorded.
std::string PortColumn(platform::Registry& reg, const std::string& key) {
  constexpr uint32_t kPrintersTcpPort = 9100;
  const std::string port = TextOr(reg, key, "Port", "-");
  for (const char* line_kind : {"COM", "LPT", "USB"}) {
    if (port.rfind(line_kind, 0) == 0) return port;
  }
  std::string address;
  if (!platform::ReadText(reg, Hive::kLocalMachine, key, "TcpIp", &address).ok() || address.empty())
    return port + " (no TcpIp)";
  uint32_t tcp_port = 0;
  if (!platform::ReadNumber(reg, Hive::kLocalMachine, key, "TcpPort", &tcp_port).ok() ||
      tcp_port == 0)
    tcp_port = kPrintersTcpPort;
  if (address.find(':') != std::string::npos) address = "[" + address + "]";
  return address + ":" + std::to_string(tcp_port);
}

}  // namespace

int ListDevices(platform::Registry& reg, const std::vector<DeviceSource>& sources,
                std::ostream& out, std::ostream& err) {
  std::vector<std::string> names;
  platform::Status st = reg.EnumSubkeys(Hive::kLocalMachine, setup::kClassKey, &names);
  if (!st.ok() && st.outcome() != platform::Outcome::kNotFound) {
    err << "qz381 devices: cannot read the registry: " << st.ToString() << "\n";
    return 1;
  }
  out << "registered devices:\n";
  std::vector<std::vector<std::string>> rows = {{"name", "port", "model", "LDN"}};
  for (const std::string& name : names) {
    const std::string key = std::string(setup::kClassKey) + "\\" + name;
    rows.push_back({name, PortColumn(reg, key), TextOr(reg, key, "DeviceName", "-"),
                    TextOr(reg, key, "LDN", "-")});
  }
  if (names.empty())
    out << "  none (qz381-install --prefix DIR --device NAME --port COMn adds one)\n";
  else
    PrintTable(rows, out);

  out << "serial ports (HKEY_LOCAL_MACHINE\\" << platform::kSerialCommKey << "):\n";
  std::vector<std::string> nodes;
  st = reg.EnumValues(Hive::kLocalMachine, platform::kSerialCommKey, &nodes);
  if (!st.ok() && st.outcome() != platform::Outcome::kNotFound) {
    err << "qz381 devices: cannot read the registry: " << st.ToString() << "\n";
    return 1;
  }
  rows.clear();
  for (const std::string& node : nodes) {
    std::string port;
    if (platform::ReadText(reg, Hive::kLocalMachine, platform::kSerialCommKey, node, &port).ok())
      rows.push_back({port, node});
  }
  if (rows.empty())
    out << "  none mapped (COMn means /dev/ttyS<n-1>)\n";
  else
    PrintTable(rows, out);

  for (const DeviceSource& source : sources) {
    out << source.heading << ":\n";
    std::vector<std::string> lines;
    std::string error;
    if (!source.lines(reg, &lines, &error)) {
      out << "  cannot be listed: " << error << "\n";
      continue;
    }
    if (lines.empty()) out << "  none\n";
    for (const std::string& line : lines) out << "  " << line << "\n";
  }
  return 0;
}

}  // namespace qz381::tool
