#include "tools/qz381/print_cmd.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <random>
#include <thread>

#include "common/opos.h"
#include "platform/charset.h"
#include "platform/files.h"
#include "platform/picture.h"
#include "tools/qz381/dither.h"
#include "tools/qz381/session.h"

namespace qz381::tool {

namespace {

using namespace opos;
using Clock = std::chrono::steady_clock;

// Text goes to the printer in pieces of about this size when printing
// asynchronously, so that a long job shows its progress.
constexpr size_t kAsyncPiece = 4096;
// How often a printer error is looked at while the user fixes it.
constexpr auto kFixPoll = std::chrono::milliseconds(200);

bool IsPrinterFault(int32_t rc, int32_t extended) {
  return rc == OPOS_E_EXTENDED &&
         (extended == OPOS_EPTR_COVER_OPEN || extended == OPOS_EPTR_REC_EMPTY);
}

// Polls the printer until neither the cover is open nor the paper out, or the
// deadline. Callable on the control object's thread (its calls run at once).
bool WaitUntilFixed(co::PosPrinter& printer, Clock::time_point deadline) {
  while (Clock::now() < deadline) {
    int32_t cover = 1, empty = 1;
    if (printer.GetNumber("CoverOpen", &cover) && printer.GetNumber("RecEmpty", &empty) &&
        cover == 0 && empty == 0)
      return true;
    std::this_thread::sleep_for(kFixPoll);
  }
  return false;
}

// Answers error events of asynchronous output: a cover or paper fault waits
// for the user and is retried, anything else is cleared and reported.
class PrintListener : public co::EventListener {
 public:
  PrintListener(co::PosPrinter& printer, std::ostream& err, int timeout_seconds)
      : printer_(printer), err_(err), timeout_(timeout_seconds) {}

  void OnOutputComplete(int32_t output_id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    last_complete_ = output_id;
    ++completed_;
    changed_.notify_all();
  }

  void OnError(int32_t rc, int32_t rce, int32_t, int32_t* response) override {
    if (IsPrinterFault(rc, rce)) {
      Say("qz381 print: " + ResultInWords(rc, rce) + "; waiting up to " + std::to_string(timeout_) +
          " s for it to be fixed\n");
      if (WaitUntilFixed(printer_, Clock::now() + std::chrono::seconds(timeout_))) {
        *response = OPOS_ER_RETRY;
        return;
      }
      Say("qz381 print: not fixed in time; giving up\n");
    } else {
      Say("qz381 print: " + ResultInWords(rc, rce) + "\n");
    }
    *response = OPOS_ER_CLEAR;
    std::lock_guard<std::mutex> lock(mutex_);
    failed_ = true;
    changed_.notify_all();
  }

  // Waits for OutputComplete of `output_id`, showing how many of `total`
  // pieces are done. False when output failed or the deadline passed.
  bool WaitFor(int32_t output_id, int total, Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    int shown = -1;
    while (!failed_ && last_complete_ < output_id) {
      if (total > 1 && completed_ != shown) {
        shown = completed_;
        Say("\rprinting: " + std::to_string(shown) + " of " + std::to_string(total));
      }
      if (changed_.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::seconds(1))) ==
              std::cv_status::timeout &&
          Clock::now() >= deadline)
        break;
    }
    if (total > 1)
      Say("\rprinting: " + std::to_string(completed_) + " of " + std::to_string(total) + "\n");
    return !failed_ && last_complete_ >= output_id;
  }

 private:
  // Both threads report: the control object's (errors) and the waiting one.
  void Say(const std::string& text) {
    std::lock_guard<std::mutex> lock(say_mutex_);
    err_ << text << std::flush;
  }

  co::PosPrinter& printer_;
  std::ostream& err_;
  const int timeout_;
  std::mutex say_mutex_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int32_t last_complete_ = 0;
  int completed_ = 0;
  bool failed_ = false;
};

class Printing {
 public:
  Printing(const PrintJob& job, co::PosPrinter& printer, std::ostream& err)
      : job_(job), printer_(printer), err_(err) {}

  // Runs one printing call; in synchronous mode a cover or paper fault waits
  // for the user and the call is made again.
  bool Do(const char* what, const std::function<int32_t()>& call) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(job_.timeout_seconds);
    for (;;) {
      const int32_t rc = call();
      if (rc == OPOS_SUCCESS) {
        ++pieces_;
        return true;
      }
      const int32_t extended = printer_.ResultCodeExtended();
      err_ << "qz381 print: " << what << ": " << ResultInWords(rc, extended);
      if (!IsPrinterFault(rc, extended)) {
        err_ << "\n";
        return false;
      }
      err_ << "; waiting up to " << job_.timeout_seconds << " s for it to be fixed\n";
      if (!WaitUntilFixed(printer_, deadline)) {
        err_ << "qz381 print: not fixed in time; giving up\n";
        return false;
      }
    }
  }

  bool Text(const std::string& utf8) {
    int32_t set = 0;
    printer_.GetNumber("CharacterSet", &set);
    std::string text;
    if (!platform::Utf8ToCharacterSet(ExpandEscapes(utf8), set, &text)) {
      err_ << "qz381 print: the text cannot be converted to character set " << set
           << " (choose one with --charset)\n";
      return false;
    }
    // Asynchronous output goes in pieces ending at a line's end, never inside
    // an escape sequence.
    size_t from = 0;
    while (from < text.size()) {
      size_t to = text.size();
      if (job_.async && to - from > kAsyncPiece) {
        const size_t nl = text.find('\n', from + kAsyncPiece);
        to = nl == std::string::npos ? text.size() : nl + 1;
      }
      const std::string piece = text.substr(from, to - from);
      if (!Do("PrintNormal", [&] { return printer_.PrintNormal(PTR_S_RECEIPT, piece); }))
        return false;
      from = to;
    }
    return true;
  }

  bool Image() {
    std::string path = job_.image;
    std::string temporary;
    if (job_.dither) {
      platform::Picture picture;
      platform::Status st = platform::LoadPictureFile(job_.image, &picture);
      if (!st.ok()) {
        err_ << "qz381 print: cannot read the picture " << job_.image << ": " << st.ToString()
             << "\n";
        return false;
      }
      std::random_device random;
      temporary = (std::filesystem::temp_directory_path() /
                   ("qz381-dither-" + std::to_string(random()) + ".bmp"))
                      .string();
      if (!platform::WriteFileAtomically(temporary, platform::EncodeBmp(Dither(picture))).ok()) {
        err_ << "qz381 print: cannot write " << temporary << "\n";
        return false;
      }
      path = temporary;
    } else if (!platform::FileExists(job_.image)) {
      err_ << "qz381 print: cannot read the picture " << job_.image << "\n";
      return false;
    }
    const bool ok = Do("PrintBitmap", [&] {
      std::vector<co::Arg> args = {co::Arg::Long(PTR_S_RECEIPT), co::Arg::String(path),
                                   co::Arg::Long(job_.image_width), co::Arg::Long(job_.alignment)};
      return printer_.Call("PrintBitmap", args);
    });
    std::error_code ec;
    if (!temporary.empty()) std::filesystem::remove(temporary, ec);
    return ok;
  }

  bool Barcode(const PrintJob::Barcode& code) {
    int32_t line_width = 512;
    printer_.GetNumber("RecLineWidth", &line_width);
    return Do("PrintBarCode",
              [&] {
                std::vector<co::Arg> args = {co::Arg::Long(PTR_S_RECEIPT),
                                             co::Arg::String(code.data),
                                             co::Arg::Long(code.symbology),
                                             co::Arg::Long(job_.barcode_height),
                                             co::Arg::Long(line_width * 2 / 3),
                                             co::Arg::Long(job_.alignment),
                                             co::Arg::Long(-13)};  // PTR_BC_TEXT_BELOW
                return printer_.Call("PrintBarCode", args);
              }) &&
           Do("PrintNormal", [&] { return printer_.PrintNormal(PTR_S_RECEIPT, "\n"); });
  }

  int pieces() const { return pieces_; }

 private:
  const PrintJob& job_;
  co::PosPrinter& printer_;
  std::ostream& err_;
  int pieces_ = 0;
};

}  // namespace

std::optional<int32_t> ParseSymbology(const std::string& name) {
  static const std::pair<const char*, int32_t> kNames[] = {
      {"upca", 101},    {"upce", 102},    {"ean8", 103},   {"ean13", 104},
      {"itf", 106},     {"codabar", 107}, {"code39", 108}, {"code93", 109},
      {"code128", 110}, {"pdf417", 201},  {"qr", 204},     {"qrcode", 204}};
  for (const auto& [text, number] : kNames)
    if (name == text) return number;
  int32_t number = 0;
  for (char c : name) {
    if (c < '0' || c > '9' || number > 100000) return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (name.empty()) return std::nullopt;
  return number;
}

std::string ExpandEscapes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 2 < text.size() && text[i + 1] == 'e' && text[i + 2] == '|') {
      out.push_back('\x1B');
      ++i;
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

int RunPrint(const PrintJob& job, std::ostream& out, std::ostream& err) {
  platform::Registry& reg = platform::DefaultRegistry();
  std::string device, error;
  if (!ChooseDevice(reg, job.device, &device, &error)) {
    err << "qz381 print: " << error << "\n";
    return 1;
  }
  co::PosPrinter printer(reg);
  PrintListener listener(printer, err, job.timeout_seconds);
  printer.AddListener(&listener);
  // Closed before the listener goes, whichever way this returns.
  struct Detach {
    co::PosPrinter& printer;
    co::EventListener* listener;
    ~Detach() {
      printer.Close();
      printer.RemoveListener(listener);
    }
  } detach{printer, &listener};
  if (!OpenClaimEnable(printer, device, &error)) {
    err << "qz381 print: " << error << "\n";
    return 1;
  }
  int32_t rc = 0;
  printer.SetNumber("MapMode", PTR_MM_DOTS, &rc);
  if (job.character_set) {
    if (!printer.SetNumber("CharacterSet", *job.character_set, &rc) || rc != OPOS_SUCCESS) {
      err << "qz381 print: character set " << *job.character_set
          << " is not one the printer has (qz381 devices; the profile's CharacterSetList)\n";
      return 1;
    }
  }
  if (job.async) printer.SetNumber("AsyncMode", 1, &rc);

  Printing printing(job, printer, err);
  bool ok = job.image.empty() || printing.Image();
  if (ok && job.text) ok = printing.Text(*job.text);
  for (const PrintJob::Barcode& code : job.barcodes) ok = ok && printing.Barcode(code);
  if (ok && job.cut) ok = printing.Do("CutPaper", [&] { return printer.CutPaper(100); });
  if (ok && job.async) {
    int32_t last = 0;
    printer.GetNumber("OutputID", &last);
    // Each piece may wait out a printer error once.
    const auto deadline =
        Clock::now() + std::chrono::seconds(job.timeout_seconds) * (printing.pieces() + 1);
    ok = listener.WaitFor(last, printing.pieces(), deadline);
    if (!ok) err << "qz381 print: the printer did not finish the job\n";
  }
  printer.ReleaseDevice();
  if (ok) out << "printed on " << device << "\n";
  return ok ? 0 : 1;
}

}  // namespace qz381::tool
