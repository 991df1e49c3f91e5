#include "tools/qz381/demo.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <thread>
#include <vector>

#include "co/pos_printer.h"
#include "common/opos.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/picture.h"
#include "platform/registry.h"
#include "setup/install.h"
#include "tools/sim/simulator.h"

namespace qz381::tool {

namespace {

namespace fs = std::filesystem;

constexpr char kDevice[] = "QZ381Demo";
constexpr char kPort[] = "COM38";

// The sample receipt, in OPOS escape sequences: ESC|cA centre, ESC|4C double
// size, ESC|bC bold, ESC|uC underline, ESC|N normal, ESC|rA right.
const char* const kReceipt[] = {
    "\x1B|cA\x1B|4CQZ381 MARKET\n",
    "\x1B|N\x1B|cA12 Harbour Road, Portsmouth\n",
    "\x1B|N\x1B|cATel 023 9200 1234\n\n",
    "\x1B|NCoffee beans 1kg            14.90\n",
    "\x1B|NOat milk 1l                  1.85\n",
    "\x1B|NSourdough loaf               3.20\n",
    "\x1B|NDark chocolate 2 x 1.45      2.90\n",
    "\x1B|N\x1B|uC                                 \n",
    "\x1B|N\x1B|bCTOTAL                       22.85\n",
    "\x1B|NCard                        22.85\n\n",
};
const char kReceiptEnd[] = "\n\x1B|N\x1B|cAThank you for shopping with us\n\n\n";

// The shop's logo, a basket, as a 24-bit BMP: the picture PrintBitmap loads.
bool WriteLogo(const std::string& path) {
  constexpr int kWidth = 96, kHeight = 64;
  auto ink = [](int x, int y) {
    // The handle: an arch above the basket.
    const double dx = (x - 48) / 36.0, dy = (y - 30) / 26.0;
    const double r = dx * dx + dy * dy;
    if (y < 30 && r <= 1.0 && r >= 0.72) return true;
    // The basket: narrower at the bottom, with a rim and slats.
    if (y < 30 || y >= 62) return false;
    const int inset = (y - 30) / 3;
    if (x < 4 + inset || x >= 92 - inset) return false;
    if (y < 35 || y >= 58) return true;
    return (x - 4) % 11 < 4;
  };
  platform::Picture logo;
  logo.width = kWidth;
  logo.height = kHeight;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) logo.rgb.insert(logo.rgb.end(), 3, ink(x, y) ? 0 : 255);
  }
  const std::string file = platform::EncodeBmp(logo);
  return platform::WriteFileAtomically(path, file).ok();
}

bool CopyModules(const std::vector<std::string>& modules, const std::string& to,
                 std::ostream& err) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (const std::string& module : modules) {
    fs::copy_file(module, fs::path(to) / fs::path(module).filename(),
                  fs::copy_options::overwrite_existing, ec);
    if (ec) {
      err << "qz381 demo: cannot copy " << module << ": " << ec.message() << "\n";
      return false;
    }
  }
  return true;
}

bool Check(const char* what, int32_t rc, co::PosPrinter& printer, std::ostream& out,
           std::ostream& err) {
  out << what << ": " << rc;
  if (rc != 0) out << " (extended " << printer.ResultCodeExtended() << ")";
  out << "\n";
  if (rc != 0) err << "qz381 demo: " << what << " answered " << rc << "\n";
  return rc == 0;
}

// Below the total: the receipt number as an EAN-13 with its digits, and a QR
// code that leads to the receipt online (sizes in dots).
bool PrintCodes(co::PosPrinter& printer, std::ostream& out, std::ostream& err) {
  int32_t rc = 0;
  printer.SetNumber("MapMode", 1, &rc);
  if (!Check("MapMode", rc, printer, out, err)) return false;
  struct Code {
    const char* data;
    int32_t symbology, height, width;
  };
  const Code codes[] = {{"400638133393", 104, 60, 340},
                        {"https://example.com/qz381/receipt/0042", 501, 0, 0}};
  for (const Code& code : codes) {
    std::vector<co::Arg> args = {co::Arg::Long(opos::PTR_S_RECEIPT),
                                 co::Arg::String(code.data),
                                 co::Arg::Long(code.symbology),
                                 co::Arg::Long(code.height),
                                 co::Arg::Long(code.width),
                                 co::Arg::Long(-2),
                                 co::Arg::Long(-13)};
    if (!Check("PrintBarCode", printer.Call("PrintBarCode", args), printer, out, err)) return false;
    if (!Check("PrintNormal", printer.PrintNormal(opos::PTR_S_RECEIPT, "\n"), printer, out, err))
      return false;
  }
  return true;
}

}  // namespace

int RunDemo(const std::string& out_dir, const Installation& sources, std::ostream& out,
            std::ostream& err) {
  std::error_code ec;
  const fs::path dir = fs::absolute(out_dir, ec);
  fs::create_directories(dir, ec);
  if (ec) {
    err << "qz381 demo: cannot create " << out_dir << ": " << ec.message() << "\n";
    return 1;
  }
  const std::string registry_path = (dir / "registry.reg").string();
  fs::remove(registry_path, ec);
  // The demo's own registry, for this process and everything it loads.
  platform::SetEnvironmentValue("QZ381_REGISTRY", registry_path);
  platform::Registry& reg = platform::DefaultRegistry();

  const setup::InstallLayout layout = setup::LayoutFor(dir.string());
  if (!CopyModules(sources.modules, layout.module_dir, err)) return 1;
  setup::InstallOptions install;
  install.prefix = dir.string();
  install.files_dir = sources.files_dir;
  install.device_name = kDevice;
  install.port = kPort;
  install.force = true;
  if (platform::Status st = setup::Install(reg, install); !st.ok()) {
    err << "qz381 demo: installation failed: " << st.ToString() << "\n";
    return 1;
  }
  out << "installed into " << dir.string() << "\n";

  sim::SimulatorOptions sim_options;
  sim_options.port_name = kPort;
  sim_options.journal_path = (dir / "journal.txt").string();
  sim_options.raw_path = (dir / "raw.bin").string();
  // The printer draws each cut-off receipt; the demo's one becomes receipt.png.
  const fs::path pages = dir / "pages";
  fs::remove_all(pages, ec);
  fs::create_directories(pages, ec);
  sim_options.render_path = pages.string();
  std::string error;
  std::unique_ptr<sim::Simulator> printer_side = sim::Simulator::Start(sim_options, &error);
  if (!printer_side) {
    err << "qz381 demo: the virtual printer did not start: " << error << "\n";
    return 1;
  }
  out << "virtual printer on " << printer_side->SlavePath() << " as " << kPort << "\n";

  bool ok = true;
  {
    co::PosPrinter printer;
    ok = Check("Open", printer.Open(kDevice), printer, out, err) &&
         Check("ClaimDevice", printer.ClaimDevice(1000), printer, out, err);
    int32_t rc = 0;
    if (ok) {
      printer.SetNumber("DeviceEnabled", 1, &rc);
      ok = Check("DeviceEnabled", rc, printer, out, err);
    }
    if (ok) {
      const std::string logo = (dir / "logo.bmp").string();
      if (!WriteLogo(logo)) {
        err << "qz381 demo: cannot write " << logo << "\n";
        ok = false;
      }
      std::vector<co::Arg> args = {co::Arg::Long(opos::PTR_S_RECEIPT), co::Arg::String(logo),
                                   co::Arg::Long(-11), co::Arg::Long(-2)};
      ok = ok && Check("PrintBitmap", printer.Call("PrintBitmap", args), printer, out, err);
    }
    for (const char* line : kReceipt) {
      if (!ok) break;
      ok = Check("PrintNormal", printer.PrintNormal(opos::PTR_S_RECEIPT, line), printer, out, err);
    }
    if (ok) ok = PrintCodes(printer, out, err);
    if (ok) {
      ok = Check("PrintNormal", printer.PrintNormal(opos::PTR_S_RECEIPT, kReceiptEnd), printer, out,
                 err);
    }
    if (ok) ok = Check("CutPaper", printer.CutPaper(100), printer, out, err);
    if (ok) {
      // The cut is the last command of the receipt: once the printer has it,
      // everything before it arrived too.
      bool cut = false;
      for (int i = 0; i < 100 && !cut; ++i) {
        for (const std::string& l : printer_side->JournalLines())
          if (l.rfind("GS V", 0) == 0) cut = true;
        if (!cut) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (!cut) err << "qz381 demo: the printer never received the cut\n";
      ok = cut;
    }
    if (printer.IsOpen()) {
      Check("ReleaseDevice", printer.ReleaseDevice(), printer, out, err);
      Check("Close", printer.Close(), printer, out, err);
    }
  }
  printer_side->Stop();
  std::vector<fs::path> drawn;
  for (const auto& entry : fs::directory_iterator(pages, ec))
    if (entry.path().extension() == ".png") drawn.push_back(entry.path());
  std::sort(drawn.begin(), drawn.end());
  if (!drawn.empty()) {
    fs::copy_file(drawn.front(), dir / "receipt.png", fs::copy_options::overwrite_existing, ec);
    out << "receipt drawn in " << (dir / "receipt.png").string() << "\n";
  }

  out << "\n--- journal (" << sim_options.journal_path << ") ---\n";
  std::string journal;
  platform::ReadWholeFile(sim_options.journal_path, &journal);
  out << journal;
  out << (ok ? "\nreceipt printed\n" : "\nthe receipt did not print\n");
  return ok ? 0 : 1;
}

}  // namespace qz381::tool
