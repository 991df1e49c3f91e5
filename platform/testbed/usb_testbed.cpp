#include "platform/testbed/usb_testbed.h"

#include <stdlib.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace qz381::platform::testbed {
namespace {

namespace fs = std::filesystem;

constexpr const char* kBus = "/devices/pci0000:00/0000:00:14.0/usb1";

std::string Hex4(uint16_t value) {
  char text[5];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

}  // namespace

struct UsbTestbed::Impl {
  UMockdevTestbed* bed = nullptr;
};

bool InMock();

void RunUnderUmockdev(int argc, char** argv) {
  if (InMock() || getenv("QZ381_UMOCKDEV_TRIED")) return;
  setenv("QZ381_UMOCKDEV_TRIED", "1", 1);  // a wrapper that does not preload: no loop
  std::vector<char*> args{const_cast<char*>("umockdev-wrapper")};
  for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  execvp("umockdev-wrapper", args.data());
  std::fprintf(stderr, "umockdev-wrapper not found; the udev tests are skipped\n");
}

bool InMock() {
  // umockdev_in_mock_environment() only answers true once a testbed exists.
  const char* preload = getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "umockdev-preload");
}

UsbTestbed::UsbTestbed() : impl_(new Impl) {
  impl_->bed = umockdev_testbed_new();
}

UsbTestbed::~UsbTestbed() {
  g_object_unref(impl_->bed);
  delete impl_;
}

TestPrinter UsbTestbed::AddPrinter(uint16_t vendor, uint16_t product, const std::string& serial,
                                   const std::string& port_chain, int lp) {
  const std::string usb = std::string(kBus) + "/" + port_chain;
  const std::string interface = usb + "/" + port_chain + ":1.0";
  const std::string name = "lp" + std::to_string(lp);
  const std::string misc = interface + "/usbmisc/" + name;
  std::string text = "P: " + usb +
                     "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=" + Hex4(vendor) +
                     "\nA: idProduct=" + Hex4(product) + "\n";
  if (!serial.empty()) text += "A: serial=" + serial + "\n";
  text += "\nP: " + interface +
          "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=07\n\n";
  text += "P: " + misc + "\nN: usb/" + name + "\nE: SUBSYSTEM=usbmisc\nE: DEVNAME=/dev/usb/" +
          name + "\n";
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(impl_->bed, text.c_str(), &error)) {
    std::fprintf(stderr, "umockdev: %s\n", error ? error->message : "?");
    if (error) g_error_free(error);
    return {};
  }
  TestPrinter printer{"/sys" + usb, "/dev/usb/" + name, -1};
  printer.host_fd = umockdev_testbed_get_dev_fd(impl_->bed, printer.node.c_str());
  if (printer.host_fd >= 0) {
    // A plain byte stream both ways, as the kernel's printer node is.
    termios tio{};
    if (tcgetattr(printer.host_fd, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(printer.host_fd, TCSANOW, &tio);
    }
  }
  return printer;
}

void UsbTestbed::AddNonPrinters() {
  const std::string hub = "/devices/pci0000:00/0000:00:14.0/usb2";
  const std::string kbd = hub + "/2-1";
  const std::string text =
      "P: " + hub + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=1d6b\n" +
      "A: idProduct=0002\nA: bDeviceClass=09\n\nP: " + kbd +
      "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=046d\nA: idProduct=c31c\n\nP: " +
      kbd +
      "/2-1:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=03\n\nP: " + kbd +
      "/2-1:1.0/usbmisc/hiddev0\nN: usb/hiddev0=00\nE: SUBSYSTEM=usbmisc\n" +
      "E: DEVNAME=/dev/usb/hiddev0\n";
  umockdev_testbed_add_from_string(impl_->bed, text.c_str(), nullptr);
}

void UsbTestbed::Uevent(const TestPrinter& printer, const char* action) {
  const std::string chain = printer.usb_syspath.substr(printer.usb_syspath.rfind('/') + 1);
  const std::string name = printer.node.substr(printer.node.rfind('/') + 1);
  umockdev_testbed_uevent(
      impl_->bed, (printer.usb_syspath + "/" + chain + ":1.0/usbmisc/" + name).c_str(), action);
}

void UsbTestbed::Unplug(const TestPrinter& printer) {
  Uevent(printer, "remove");
  // Child first: the testbed forgets a node only with the device that has it.
  const std::string chain = printer.usb_syspath.substr(printer.usb_syspath.rfind('/') + 1);
  const std::string interface = printer.usb_syspath + "/" + chain + ":1.0";
  const std::string misc =
      interface + "/usbmisc/" + printer.node.substr(printer.node.rfind('/') + 1);
  for (const std::string& path : {misc, interface, printer.usb_syspath}) {
    umockdev_testbed_remove_device(impl_->bed, path.c_str());
  }
  // The testbed leaves the bus and class links behind, and would refuse to
  // add a device of the same name again (a replug): drop the dangling ones.
  gchar* sys = umockdev_testbed_get_sys_dir(impl_->bed);
  std::error_code ec;
  for (const char* dir : {"bus", "class"}) {
    const fs::path root = fs::path(sys) / dir;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_symlink(ec) && !fs::exists(it->path(), ec)) fs::remove(it->path(), ec);
    }
  }
  g_free(sys);
  gchar* root = umockdev_testbed_get_root_dir(impl_->bed);
  fs::remove(fs::path(std::string(root) + printer.node), ec);
  g_free(root);
}

}  // namespace qz381::platform::testbed
