// qz381-install: installs the QZ381 service under a prefix (see setup/README.md).
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "setup/install.h"

namespace {

constexpr const char* kUsage =
    "usage: qz381-install --prefix DIR [--registry FILE] [--files DIR]\n"
    "                     [--device NAME --port PORT [--tcp-port N] [--force]]\n"
    "\n"
    "  --prefix DIR     the installation root (DIR/share/qz381, DIR/lib/qz381)\n"
    "  --registry FILE  the registry file to write (default: QZ381_REGISTRY, else\n"
    "                   the per-user registry file)\n"
    "  --files DIR      where setup.inf, posprn.inf and the profiles are\n"
    "                   (default: DIR/share/qz381/install)\n"
    "  --device NAME    also add a device of the first model under this name\n"
    "  --port PORT      the device's port, e.g. COM1; USB001: for the attached\n"
    "                   USB printer qz381 devices lists under that name; or a\n"
    "                   network printer's address (IPv4, IPv6 or host name):\n"
    "                   an Ethernet device\n"
    "  --tcp-port N     with an address: the printer's TCP port (default 9100)\n"
    "  --force          replace an existing device of that name\n";

bool ParsePort(const std::string& text, uint32_t* port) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *port = static_cast<uint32_t>(std::stoul(text));
  return *port >= 1 && *port <= 65535;
}

int Usage(std::string_view problem) {
  std::cerr << "qz381-install: " << problem << "\n" << kUsage;
  return 2;
}

// The service object registers itself into the process's default registry, so
// the file named on the command line has to become that registry (on Windows
// too, where it then stands in for the system's registry).
bool UseRegistryFile(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return qz381::platform::SetEnvironmentValue("QZ381_REGISTRY", ec ? path : absolute.string());
}

}  // namespace

int main(int argc, char** argv) {
  qz381::setup::InstallOptions options;
  std::string registry_file;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == "--prefix") {
      ok = value(&options.prefix);
    } else if (arg == "--registry") {
      ok = value(&registry_file);
    } else if (arg == "--files") {
      ok = value(&options.files_dir);
    } else if (arg == "--device") {
      ok = value(&options.device_name);
    } else if (arg == "--port") {
      ok = value(&options.port);
    } else if (arg == "--tcp-port") {
      std::string text;
      ok = value(&text) && ParsePort(text, &options.tcp_port);
      if (!ok) return Usage("--tcp-port needs a number from 1 to 65535");
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else {
      return Usage("unknown argument '" + std::string(arg) + "'");
    }
    if (!ok) return Usage(std::string(arg) + " needs a value");
  }
  if (options.prefix.empty()) return Usage("--prefix is required");
  if (options.device_name.empty() != options.port.empty()) {
    return Usage("--device and --port go together");
  }
  if (!registry_file.empty() && !UseRegistryFile(registry_file)) return 1;

  const qz381::setup::InstallLayout layout = qz381::setup::LayoutFor(options.prefix);
  qz381::platform::Status status =
      qz381::setup::Install(qz381::platform::DefaultRegistry(), options);
  if (!status.ok()) {
    std::cerr << "qz381-install: " << status.ToString() << "\n";
    return 1;
  }

  std::cout << "Installdir  " << layout.install_dir << "\n"
            << "mngdir      " << layout.vexlink << "\n"
            << "comdir      " << layout.com << "\n"
            << "usbdir      " << layout.usb << "\n"
            << "netdir      " << layout.net << "\n"
            << "registered  " << layout.service_object << "\n";
  if (!options.device_name.empty()) {
    std::cout << "device      " << options.device_name << " on " << options.port;
    if (options.tcp_port != 0) std::cout << " TCP port " << options.tcp_port;
    std::cout << "\n";
  }
  for (const std::string* module : {&layout.vexlink, &layout.com, &layout.usb, &layout.net}) {
    if (!qz381::platform::FileExists(*module)) {
      std::cerr << "qz381-install: warning: " << *module
                << " is not installed; devices cannot open until it is\n";
    }
  }
  return 0;
}
