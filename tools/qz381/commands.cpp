#include "tools/qz381/commands.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>

#include "platform/registry.h"
#include "tools/qz381/args.h"
#include "tools/qz381/demo.h"
#include "tools/qz381/devices.h"
#include "tools/qz381/locate.h"
#include "tools/qz381/print_cmd.h"
#include "tools/qz381/render_cmd.h"
#include "tools/qz381/script.h"
#include "tools/qz381/status_cmd.h"
#include "tools/qz381/translate_cmd.h"

namespace qz381::tool {

namespace {

// Parses argv[2..] or says what is wrong, the command's name first.
bool ParseOrComplain(int argc, char** argv, const std::vector<OptionSpec>& specs,
                     size_t max_positional, const CommandContext& context, Args* args) {
  std::string error;
  if (!args->Parse(argc, argv, 2, specs, &error)) {
    context.err << "qz381 " << argv[1] << ": " << error << " (qz381 " << argv[1] << " --help)\n";
    return false;
  }
  if (args->Positional().size() > max_positional) {
    context.err << "qz381 " << argv[1] << ": unexpected argument '"
                << args->Positional()[max_positional] << "' (qz381 " << argv[1] << " --help)\n";
    return false;
  }
  return true;
}

int ScriptCommand(int argc, char** argv, const CommandContext& context) {
  Args args;
  if (!ParseOrComplain(argc, argv, {}, 1, context, &args)) return 2;
  if (args.Positional().empty() || args.Positional()[0] == "-")
    return RunScript(std::cin, context.out, context.err);
  std::ifstream file(args.Positional()[0], std::ios::binary);
  if (!file) {
    context.err << "qz381 script: cannot open " << args.Positional()[0] << "\n";
    return 1;
  }
  return RunScript(file, context.out, context.err);
}

int DemoCommand(int argc, char** argv, const CommandContext& context) {
  Args args;
  if (!ParseOrComplain(argc, argv, {{"--out", true}}, 0, context, &args)) return 2;
  if (!args.Has("--out")) {
    context.err << "qz381 demo: --out DIR is needed (qz381 demo --help)\n";
    return 2;
  }
  Installation sources;
  std::string error;
  if (!FindInstallation(context.program_dir, &sources, &error)) {
    context.err << "qz381 demo: " << error << "\n";
    return 1;
  }
  return RunDemo(*args.Value("--out"), sources, context.out, context.err);
}

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) {
  g_interrupted = 1;
}

}  // namespace

int PrintCommand(int argc, char** argv, const CommandContext& context) {
  Args args;
  const std::vector<OptionSpec> specs = {
      {"--device", true}, {"--charset", true}, {"--image", true},      {"--width", true},
      {"--align", true},  {"--dither", false}, {"--barcode", true, 2}, {"--height", true},
      {"--qr", true},     {"--cut", false},    {"--async", false},     {"--timeout", true}};
  if (!ParseOrComplain(argc, argv, specs, 1, context, &args)) return 2;
  PrintJob job;
  job.device = args.Value("--device");
  std::string error;
  int number = 0;
  if (args.Has("--charset")) {
    if (!args.Number("--charset", &number, &error)) {
      context.err << "qz381 print: " << error << "\n";
      return 2;
    }
    job.character_set = number;
  }
  job.image = args.Value("--image").value_or("");
  if (!args.Number("--width", &job.image_width, &error) ||
      !args.Number("--height", &job.barcode_height, &error) ||
      !args.Number("--timeout", &job.timeout_seconds, &error)) {
    context.err << "qz381 print: " << error << "\n";
    return 2;
  }
  if (const auto align = args.Value("--align")) {
    if (*align == "left")
      job.alignment = -1;
    else if (*align == "center" || *align == "centre")
      job.alignment = -2;
    else if (*align == "right")
      job.alignment = -3;
    else {
      context.err << "qz381 print: --align is left, center or right, not '" << *align << "'\n";
      return 2;
    }
  }
  job.dither = args.Has("--dither");
  if (job.dither && job.image.empty()) {
    context.err << "qz381 print: --dither goes with --image FILE\n";
    return 2;
  }
  if (args.Has("--barcode")) {
    const std::optional<int32_t> symbology = ParseSymbology(*args.Value("--barcode", 0));
    if (!symbology) {
      context.err << "qz381 print: unknown symbology '" << *args.Value("--barcode", 0)
                  << "' (ean13, code128, qr, ... or a PTR_BCS_ number)\n";
      return 2;
    }
    job.barcodes.push_back({*symbology, *args.Value("--barcode", 1)});
  }
  if (const auto qr = args.Value("--qr")) job.barcodes.push_back({204, *qr});
  job.cut = args.Has("--cut");
  job.async = args.Has("--async");
  // Text comes from FILE, or from standard input when nothing else is printed.
  const bool other = !job.image.empty() || !job.barcodes.empty() || job.cut;
  if (!args.Positional().empty() || !other) {
    std::string text;
    if (!ReadInput(args.Positional().empty() ? "-" : args.Positional()[0], &text, &error)) {
      context.err << "qz381 print: " << error << "\n";
      return 1;
    }
    job.text = std::move(text);
  }
  return RunPrint(job, context.out, context.err);
}

int RenderCommand(int argc, char** argv, const CommandContext& context) {
  Args args;
  if (!ParseOrComplain(argc, argv, {{"--out", true}, {"--two-colour", false}}, 1, context, &args))
    return 2;
  std::string bytes, error;
  if (!ReadInput(args.Positional().empty() ? "-" : args.Positional()[0], &bytes, &error)) {
    context.err << "qz381 render: " << error << "\n";
    return 1;
  }
  RenderResult result;
  if (!RenderReceipts(bytes, args.Value("--out").value_or("."), args.Has("--two-colour"),
                      context.err, &result, &error)) {
    context.err << "qz381 render: " << error << "\n";
    return 1;
  }
  for (const std::string& file : result.files) context.out << file << "\n";
  if (result.files.empty()) context.err << "qz381 render: nothing was printed in the input\n";
  return result.files.empty() ? 1 : 0;
}

int StatusCommand(int argc, char** argv, const CommandContext& context) {
  Args args;
  if (!ParseOrComplain(argc, argv, {{"--device", true}, {"--once", false}}, 0, context, &args))
    return 2;
  StatusWatch watch;
  watch.device = args.Value("--device");
  watch.once = args.Has("--once");
  std::mutex mutex;
  watch.line = [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    context.out << line << std::endl;
  };
  g_interrupted = 0;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  watch.stop = [] { return g_interrupted != 0; };
  std::string error;
  const int rc = RunStatus(watch, &error);
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  if (rc != 0) context.err << "qz381 status: " << error << "\n";
  return rc;
}

int DevicesCommand(int argc, char** argv, const CommandContext& context) {
  Args args;
  if (!ParseOrComplain(argc, argv, {}, 0, context, &args)) return 2;
  return ListDevices(platform::DefaultRegistry(), DeviceSources(), context.out, context.err);
}

int TranslateCommand(int argc, char** argv, const CommandContext& context) {
  Args args;
  if (!ParseOrComplain(argc, argv, {{"--profile", true}, {"--type", true}, {"--out", true}}, 1,
                       context, &args))
    return 2;
  int type = 2;
  std::string error;
  if (!args.Number("--type", &type, &error) || type < 1 || type > 3) {
    context.err << "qz381 translate: " << (error.empty() ? "--type is 1, 2 or 3" : error) << "\n";
    return 2;
  }
  std::string profile;
  if (args.Has("--profile")) {
    profile = *args.Value("--profile");
  } else {
    Installation installation;
    if (!FindInstallation(context.program_dir, &installation, &error, false)) {
      context.err << "qz381 translate: no capability profile: " << error
                  << " (or give one with --profile FILE)\n";
      return 1;
    }
    profile = ShippedProfile(installation);
  }
  output::SharedOutputState shared;
  output::DeviceSettings device;
  const std::string model = std::filesystem::path(profile).stem().string();
  platform::Status st = FreshDeviceSettings(profile, model, type, &shared, &device);
  if (!st.ok()) {
    context.err << "qz381 translate: cannot use the profile: " << st.ToString() << "\n";
    return 1;
  }
  device.trace = [&context](std::string_view line) {
    context.err << "qz381 translate: " << line << "\n";
  };
  const std::string name = args.Positional().empty() ? "-" : args.Positional()[0];
  InputFile input;
  if (!input.Open(name, &error)) {
    context.err << "qz381 translate: " << error << "\n";
    return 1;
  }
  std::ofstream file;
  if (args.Has("--out")) file.open(*args.Value("--out"), std::ios::binary | std::ios::trunc);
  std::ostream& to = args.Has("--out") ? static_cast<std::ostream&>(file) : context.out;
  // A megabyte at a time: the reads and writes cost little next to the
  // translation, and memory stays a few megabytes whatever the input.
  constexpr size_t kPiece = 1 << 20;
  int32_t rc = output::kOposSuccess;
  if (!StreamFirstPrint(device, input, kPiece, to, &rc, &error)) {
    context.err << "qz381 translate: " << error << "\n";
    return 1;
  }
  if (!to.flush()) {
    context.err << "qz381 translate: cannot write " << args.Value("--out").value_or("the output")
                << "\n";
    return 1;
  }
  if (rc != output::kOposSuccess) {
    context.err << "qz381 translate: the text has sequences the printer cannot take (result " << rc
                << "); they were left out\n";
    return 1;
  }
  return 0;
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"devices", "list the registered devices, serial ports and attached printers",
       "usage: qz381 devices\n"
       "Lists the registered devices (name, port, model, logical device name), the\n"
       "serial ports the registry maps to device nodes, and the attached printers\n"
       "that need no entry. The registry is the file QZ381_REGISTRY names (default\n"
       "~/.config/qz381/registry.reg).\n",
       DevicesCommand},
      {"translate", "OPOS-escaped text to printer bytes, without a device",
       "usage: qz381 translate [--profile FILE] [--type 1|2|3] [--out FILE] [FILE|-]\n"
       "Writes the printer bytes for the text in FILE (standard input without FILE\n"
       "or with -) to standard output or to --out FILE: exactly what PrintNormal\n"
       "sends for that text as the first print after enabling a freshly opened\n"
       "device, prologue and pending settings included. OPOS sequences begin with\n"
       "the ESC byte (ESC|bC, ESC|1lF, ...); text after a zero byte is not printed.\n"
       "  --profile FILE  the capability profile (default: the installed QZ381.inf)\n"
       "  --type N        the printer type of the device entry (default 2)\n"
       "  --out FILE      write the bytes to FILE instead of standard output\n"
       "Exit status 1 when a sequence could not be translated (it is left out).\n",
       TranslateCommand},
      {"print", "print text, a picture, barcodes through the whole stack",
       "usage: qz381 print [--device LDN] [OPTIONS] [FILE|-]\n"
       "Prints on the device: the picture, then the text of FILE (standard input\n"
       "when nothing else is asked for), then the barcodes, then the cut. The text is\n"
       "UTF-8 and is converted to the device's character set; OPOS sequences are\n"
       "written \\e|...  or with the ESC byte (\\e|bC bold, \\e|cA centred, \\e|N normal).\n"
       "  --device LDN           the device (default: the only one registered)\n"
       "  --charset N            set CharacterSet first (858, 1252, ... from the profile)\n"
       "  --image FILE           a BMP or PNG picture (PrintBitmap)\n"
       "  --width N              its width in dots (default: as it is)\n"
       "  --align left|center|right  picture and barcodes (default center)\n"
       "  --dither               turn shades into dots (error diffusion); without it\n"
       "                         every pixel that is not white prints black\n"
       "  --barcode SYMBOLOGY DATA  ean13, ean8, upca, upce, itf, codabar, code39,\n"
       "                         code93, code128, pdf417, qr or a PTR_BCS_ number\n"
       "  --height N             barcode height in dots (default 60)\n"
       "  --qr DATA              a QR code\n"
       "  --cut                  cut the paper at the end\n"
       "  --async                print asynchronously, showing progress, and wait for\n"
       "                         the printer to finish\n"
       "  --timeout SECONDS      how long a cover open or paper out may wait to be\n"
       "                         fixed (default 120)\n"
       "Exit status 0 only when everything printed.\n",
       PrintCommand},
      {"render", "draw printer bytes as PNG receipts, one per cut",
       "usage: qz381 render [--out DIR] [--two-colour] [FILE|-]\n"
       "Draws the printer bytes of FILE (qz381 translate's output, a capture or the\n"
       "virtual printer's raw.bin; standard input without FILE) as the virtual\n"
       "printer draws them: DIR/receipt-001.png, receipt-002.png, ... one per cut\n"
       "(DIR defaults to the current folder). Prints the names of the files.\n"
       "What cannot be drawn is reported on standard error.\n",
       RenderCommand},
      {"status", "watch the printer's status events",
       "usage: qz381 status [--device LDN] [--once]\n"
       "Claims and enables the device and prints every status event as it comes\n"
       "(cover, paper, near end, power) until interrupted (Ctrl-C); with --once\n"
       "prints the current state and exits.\n",
       StatusCommand},
      {"demo", "print a sample receipt on the virtual printer",
       "usage: qz381 demo --out DIR\n"
       "Installs the service into DIR with a registry file of its own, starts the\n"
       "virtual printer on a pseudo-terminal as COM38 and prints a sample receipt\n"
       "through the whole stack. DIR/journal.txt is the printer's decoded journal,\n"
       "DIR/raw.bin the bytes it received, DIR/receipt.png the receipt as drawn.\n"
       "Works from an installed prefix and from the build tree.\n",
       DemoCommand},
      {"script", "run one OPOS call per line",
       "usage: qz381 script [FILE|-]\n"
       "Runs one OPOS call per line of FILE (standard input without FILE) and prints\n"
       "every result and event as a line of its own.\n",
       ScriptCommand},
  };
  return commands;
}

}  // namespace qz381::tool
