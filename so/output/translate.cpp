#include "so/output/translate.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace qz381::output {

namespace {

constexpr char kEsc = 0x1B;
constexpr char kLf = 0x0A;

constexpr uint8_t kModeEmphasized = 0x08;
constexpr uint8_t kModeDoubleHeight = 0x10;
constexpr uint8_t kModeDoubleWidth = 0x20;
constexpr uint8_t kModeUnderline = 0x80;

// Numbers in sequences saturate here so that "huge" stays huge instead of
// wrapping into a small, valid-looking value.
constexpr int64_t kNumberCap = 0x7FFFFFFF;
constexpr int64_t kMaxFeedUnits = 3780;
constexpr int64_t kMaxCutPercentage = 100;
// A profile's RecLinesToPaperCut is not range-checked anywhere else; a feed of
// more than this before a cut is a broken profile, not a receipt.
constexpr int32_t kMaxLinesToPaperCut = 255;
// ESC d and ESC J take one byte; longer moves are sent as several commands.
constexpr int64_t kMaxFeedParameter = 255;

void Put(std::string& out, std::initializer_list<uint8_t> bytes) {
  out.append(reinterpret_cast<const char*>(bytes.begin()), bytes.size());
}

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void TraceLine(const DeviceSettings& device, const char* format, ...) {
  if (!device.trace) return;
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  device.trace(line);
}

void AppendBaseFont(DeviceSettings& device, std::string& out) {
  device.base_print_mode = device.RecLineChars > device.LinecharsNormal ? 0x01 : 0x00;
  Put(out, {0x1B, 0x21, device.base_print_mode});
}

void AppendPrologue(DeviceSettings& device, std::string& out) {
  Put(out, {0x1B, 0x3D, 0x01, 0x1B, 0x61, 0x00});
  if (device.CapRecColor != 0) {
    if (device.Type == 2) {
      Put(out, {0x1D, 0x28, 0x4E, 0x02, 0x00, 0x30, 0x31});
    } else {
      Put(out, {0x1B, 0x72, 0x00});
    }
  }
  uint8_t& pending = device.PendingSettings;
  if (device.code_table >= 0 && (pending & kPendingCodeTable) != 0) {
    Put(out, {0x1B, 0x74, static_cast<uint8_t>(device.code_table)});
    pending &= static_cast<uint8_t>(~kPendingCodeTable);
  }
  if (device.international >= 0 && device.DIINTERNATIONAL != 0 &&
      (pending & kPendingInternational) != 0) {
    Put(out, {0x1B, 0x52, static_cast<uint8_t>(device.international)});
    pending &= static_cast<uint8_t>(~kPendingInternational);
  }
  if (device.CapRecRotate180 != 0 && (pending & kPendingRotation) != 0) {
    Put(out, {0x1B, 0x7B, static_cast<uint8_t>(device.rotation == 259 ? 1 : 0)});
    pending &= static_cast<uint8_t>(~kPendingRotation);
  }
  AppendBaseFont(device, out);
  if ((pending & kPendingLineSpacing) != 0) {
    out += LineSpacingCommand(device);
    pending &= static_cast<uint8_t>(~kPendingLineSpacing);
  }
}

bool IsLower(char c) {
  return c >= 'a' && c <= 'z';
}
bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

class PrintDataTranslator::Impl {
 public:
  explicit Impl(DeviceSettings& device) : device_(device) {}

  void Begin(std::string& out) {
    out_ = &out;
    const size_t start = out.size();
    AppendPrologue(device_, out);
    snapshot_.assign(out, start);
    mode_ = last_mode_ = device_.base_print_mode;
  }

  void Feed(std::string_view data, std::string& out) {
    if (ended_ || data.empty()) return;
    out_ = &out;
    if (const void* nul = std::memchr(data.data(), 0, data.size())) {
      data = data.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - data.data()));
      ended_ = true;
    }
    if (!held_.empty()) {
      data.remove_prefix(Complete(data));
      if (!held_.empty()) return;
    }
    held_.assign(data.substr(Scan(data, false)));
  }

  int32_t End(std::string& out) {
    out_ = &out;
    Scan(held_, true);
    held_.clear();
    if (pass_left_ > 0) {
      TraceLine(device_, "ESC|%dE asks for more bytes than the %u left; passing those through",
                static_cast<int>(pass_number_), static_cast<unsigned>(pass_done_));
      pass_left_ = 0;
    }
    AppendPrologue(device_, out);
    Put(out, {0x1D, 0x42, 0x00});
    return result_;
  }

 private:
  // Where Sequence stops when the data ends before the sequence does.
  static constexpr size_t kNeedMore = static_cast<size_t>(-1);
  // Bytes lent at a time to the held start of a sequence to finish it.
  static constexpr size_t kLookahead = 16;

  // Translates `data` and answers how much of it was used: all of it, unless
  // `final` is false and the data ends inside a sequence, which then begins at
  // the offset answered.
  size_t Scan(std::string_view data, bool final) {
    data_ = data;
    final_ = final;
    held_in_number_ = false;
    const char* const base = data.data();
    const size_t n = data.size();
    size_t i = 0;
    if (pass_left_ > 0) {
      i = std::min(pass_left_, n);
      out_->append(base, i);
      pass_left_ -= i;
      pass_done_ += i;
    }
    while (i < n) {
      const void* esc = std::memchr(base + i, kEsc, n - i);
      const size_t stop =
          esc != nullptr ? static_cast<size_t>(static_cast<const char*>(esc) - base) : n;
      if (stop > i) {
        Flush();
        out_->append(base + i, stop - i);
        i = stop;
        if (i == n) break;
      }
      // data[i] is an ESC.
      if (i + 1 == n && !final) return i;  // a lone ESC: is a bar next?
      if (i + 1 < n && data[i + 1] == '|') {
        const size_t next = Sequence(i + 2);
        if (next == kNeedMore) return i;
        i = next;
      } else {
        PlainByte(kEsc);
        ++i;
      }
    }
    return n;
  }

  // Finishes the held start of a sequence with the bytes it needs from the
  // front of `data` and answers how many it took. The bytes are lent a few at a
  // time, and a number's digits all at once so that they are parsed once more at
  // most however long the number and however small the pieces.
  size_t Complete(std::string_view data) {
    size_t taken = 0;
    if (held_in_number_) {
      while (taken < data.size() && IsDigit(data[taken])) ++taken;
      held_.append(data.data(), taken);
      if (taken == data.size()) return taken;
    }
    while (!held_.empty() && taken < data.size()) {
      const size_t had = held_.size();
      const size_t lent = std::min(kLookahead, data.size() - taken);
      held_.append(data.data() + taken, lent);
      const size_t used = Scan(held_, false);
      if (used >= had) {
        // The held bytes are done with; the rest of what was lent is read again
        // in place.
        taken += used - had;
        held_.clear();
      } else {
        held_.erase(0, used);
        taken += lent;
      }
    }
    return taken;
  }

  void Flush() {
    if (mode_ != last_mode_) {
      Put(*out_, {0x1B, 0x21, mode_});
      last_mode_ = mode_;
    }
    if (size_pending_) {
      Put(*out_, {0x1D, 0x21, device_.shared->CharacterSize()});
      size_pending_ = false;
    }
  }

  size_t NeedMore(bool in_number) {
    held_in_number_ = in_number;
    return kNeedMore;
  }

  void PlainByte(char c) {
    Flush();
    out_->push_back(c);
  }

  // `p` is just past "ESC |"; returns where scanning resumes.
  size_t Sequence(size_t p) {
    const size_t bar = p - 1;
    const size_t n = data_.size();
    int64_t number = 0;
    while (p < n && IsDigit(data_[p])) {
      number = std::min(number * 10 + (data_[p] - '0'), kNumberCap);
      ++p;
    }
    if (p == n && !final_) return NeedMore(true);
    char modifier = 0;
    char command = 0;
    if (p < n && IsLower(data_[p])) {
      if (p + 1 == n && !final_) return NeedMore(false);
      if (p + 1 < n && (IsLower(data_[p + 1]) || IsUpper(data_[p + 1]))) {
        modifier = data_[p];
        command = data_[p + 1];
        p += 2;
      }
    } else if (p < n && IsUpper(data_[p])) {
      command = data_[p];
      ++p;
    }
    if (command == 0) {
      // Not a sequence: the ESC prints and the rest is read as text from the bar.
      result_ = kOposEFailure;
      PlainByte(kEsc);
      return bar;
    }
    return Dispatch(modifier, command, number, p);
  }

  size_t Dispatch(char modifier, char command, int64_t number, size_t p) {
    switch (command) {
      case 'A':
        Alignment(modifier, number);
        return p;
      case 'B':
        StoredBitmap(number);
        return p;
      case 'C':
        Character(modifier, number);
        return p;
      case 'v':
        return ReverseVideo(p);
      case 'T':
        result_ = kOposEIllegal;
        return p;
      case 'E':
        return PassThrough(number, p);
      case 'F':
        if (modifier == 'l') {
          const int64_t lines = std::min(number == 0 ? 1 : number, kMaxFeedUnits);
          FeedPaper(lines * 2 * device_.line_spacing_dots);
          return p;
        }
        if (modifier == 'u') {
          const int32_t units = number == 0 ? 1 : static_cast<int32_t>(number);
          FeedPaper(MapUnits(units, device_.shared->Units().UnitsToFeedUnits, device_.MapMode));
          return p;
        }
        return RejectWithNextByte(p);
      case 'L':
        Logo(modifier, number);
        return p;
      case 'N':
        Normal();
        return p;
      case 'P':
        return Cut(modifier, number, p);
      default:
        result_ = kOposEFailure;
        return p;
    }
  }

  // The byte after a refused feed or cut is printed as text whatever it is, so
  // an ESC there does not start a sequence.
  size_t RejectWithNextByte(size_t p) {
    if (p == data_.size() && !final_) return NeedMore(false);
    result_ = kOposEFailure;
    if (p < data_.size()) {
      PlainByte(data_[p]);
      return p + 1;
    }
    return p;
  }

  void Alignment(char modifier, int64_t number) {
    if (modifier == 'c') {
      Put(*out_, {0x1B, 0x61, 0x01});
    } else if (modifier == 'r') {
      Put(*out_, {0x1B, 0x61, 0x02});
    }
    if ((modifier != 'c' && modifier != 'r') || number != 0) result_ = kOposEFailure;
  }

  void StoredBitmap(int64_t number) {
    if (number != 1 && number != 2) {
      result_ = kOposEFailure;
      return;
    }
    for (const std::string& s : device_.stored_bitmaps[static_cast<size_t>(number - 1)]) {
      *out_ += s;
    }
    if (device_.Type == 1 || device_.Type == 3) {
      *out_ += LineSpacingCommand(device_);
    }
  }

  void Character(char modifier, int64_t number) {
    switch (modifier) {
      case 0:
        if (number >= 1 && number <= 4) {
          mode_ &= static_cast<uint8_t>(~(kModeDoubleWidth | kModeDoubleHeight));
          if (number == 2 || number == 4) mode_ |= kModeDoubleWidth;
          if (number == 3 || number == 4) mode_ |= kModeDoubleHeight;
        }
        return;
      case 'b':
        if (number == 0) mode_ |= kModeEmphasized;
        return;
      case 'h':
        Scale(number, kModeDoubleWidth, 4);
        return;
      case 'v':
        Scale(number, kModeDoubleHeight, 0);
        return;
      case 'r':
        if (device_.CapRecColor != 0) {
          if (device_.Type == 2) {
            Put(*out_, {0x1D, 0x28, 0x4E, 0x02, 0x00, 0x30, 0x32});
          } else {
            Put(*out_, {0x1B, 0x72, 0x01});
          }
        }
        return;
      case 'u':
        mode_ |= kModeUnderline;
        if (number == 1) {
          Put(*out_, {0x1B, 0x2D, 0x01});
        } else if (number >= 2 && number <= 4) {
          Put(*out_, {0x1B, 0x2D, 0x02});
        } else {
          result_ = kOposEIllegal;
        }
        return;
      case 'i':
      case 'f':
      case 's':
        result_ = kOposEIllegal;
        return;
      default:
        result_ = kOposEFailure;
        return;
    }
  }

  // Type 1 printers only double; the others take a factor in one nibble of the
  // service-wide character-size byte.
  void Scale(int64_t number, uint8_t double_bit, int shift) {
    if (number < 1 || number > 8) {
      result_ = kOposEIllegal;
      return;
    }
    if (device_.Type == 1) {
      mode_ |= double_bit;
      return;
    }
    const uint8_t keep = static_cast<uint8_t>(shift == 0 ? 0xF0 : 0x0F);
    const uint8_t factor = static_cast<uint8_t>((number - 1) << shift);
    device_.shared->SetCharacterSize(
        static_cast<uint8_t>((device_.shared->CharacterSize() & keep) | factor));
    size_pending_ = true;
  }

  size_t ReverseVideo(size_t p) {
    if (p == data_.size() && !final_) return NeedMore(false);
    if (p < data_.size() && data_[p] == 'C') {
      Put(*out_, {0x1D, 0x42, 0x01});
      return p + 1;
    }
    result_ = kOposEFailure;
    return p;
  }

  size_t PassThrough(int64_t number, size_t p) {
    const size_t remaining = data_.size() - p;
    size_t count = static_cast<size_t>(number);
    if (count > remaining) {
      if (final_) {
        TraceLine(device_, "ESC|%dE asks for more bytes than the %u left; passing those through",
                  static_cast<int>(number), static_cast<unsigned>(remaining));
      } else {
        // The rest comes with the next pieces.
        pass_left_ = count - remaining;
        pass_number_ = number;
        pass_done_ = remaining;
      }
      count = remaining;
    }
    out_->append(data_.data() + p, count);
    return p + count;
  }

  // `units` counts feed units, two per vertical dot.
  void FeedPaper(int64_t units) {
    const int64_t line = 2 * static_cast<int64_t>(device_.line_spacing_dots);
    if (line <= 0) {
      TraceLine(device_, "feed dropped: the line spacing is %d dots",
                static_cast<int>(device_.line_spacing_dots));
      return;
    }
    if (units <= 0) return;
    units = std::min(units, kMaxFeedUnits);
    if (units % line == 0) {
      FeedLines(units / line);
    } else if (units <= kMaxFeedParameter) {
      FeedUnits(units);
    } else {
      FeedLines(units / line);
      FeedUnits(units % line);
    }
  }

  void FeedLines(int64_t lines) {
    while (lines > kMaxFeedParameter) {
      Put(*out_, {0x1B, 0x64, static_cast<uint8_t>(kMaxFeedParameter)});
      lines -= kMaxFeedParameter;
    }
    Put(*out_, {0x1B, 0x64, static_cast<uint8_t>(lines)});
  }

  void FeedUnits(int64_t units) {
    while (units > kMaxFeedParameter) {
      Put(*out_, {0x1B, 0x4A, static_cast<uint8_t>(kMaxFeedParameter)});
      units -= kMaxFeedParameter;
    }
    Put(*out_, {0x1B, 0x4A, static_cast<uint8_t>(units)});
  }

  void Logo(char modifier, int64_t number) {
    if (number != 0 || (modifier != 't' && modifier != 'b')) {
      result_ = kOposEFailure;
      return;
    }
    *out_ += modifier == 't' ? device_.top_logo : device_.bottom_logo;
  }

  void Normal() {
    *out_ += snapshot_;
    Put(*out_, {0x1D, 0x21, 0x00});
    device_.shared->SetCharacterSize(0);
    size_pending_ = false;
    mode_ = last_mode_ = device_.base_print_mode;
    Put(*out_, {0x1D, 0x42, 0x00});
  }

  size_t Cut(char modifier, int64_t number, size_t p) {
    if (number > kMaxCutPercentage || device_.CapRecPapercut == 0 ||
        (modifier != 0 && modifier != 'f')) {
      return RejectWithNextByte(p);
    }
    if (modifier == 'f') {
      int32_t lines = std::clamp(device_.RecLinesToPaperCut, 0, kMaxLinesToPaperCut);
      if (lines != device_.RecLinesToPaperCut) {
        TraceLine(device_, "RecLinesToPaperCut %d is out of range; feeding %d lines before the cut",
                  static_cast<int>(device_.RecLinesToPaperCut), static_cast<int>(lines));
      }
      out_->append(static_cast<size_t>(lines), kLf);
    }
    Put(*out_, {0x1D, 0x56, 0x01});
    return p;
  }

  DeviceSettings& device_;
  std::string* out_ = nullptr;
  // The bytes Scan is reading, and whether no more follow them.
  std::string_view data_;
  bool final_ = true;
  // The start of a sequence the last piece ended in, and whether it ended in
  // the sequence's number.
  std::string held_;
  bool held_in_number_ = false;
  bool ended_ = false;  // a zero byte was met
  // An ESC|#E whose bytes go on into the next pieces.
  size_t pass_left_ = 0;
  size_t pass_done_ = 0;
  int64_t pass_number_ = 0;
  std::string snapshot_;
  uint8_t mode_ = 0;
  uint8_t last_mode_ = 0;
  bool size_pending_ = false;
  int32_t result_ = kOposSuccess;
};

PrintDataTranslator::PrintDataTranslator(DeviceSettings& device)
    : impl_(std::make_unique<Impl>(device)) {}
PrintDataTranslator::~PrintDataTranslator() = default;

void PrintDataTranslator::Begin(std::string& out) {
  impl_->Begin(out);
}
void PrintDataTranslator::Feed(std::string_view data, std::string& out) {
  impl_->Feed(data, out);
}
int32_t PrintDataTranslator::End(std::string& out) {
  return impl_->End(out);
}

std::string SelectBaseFont(DeviceSettings& device) {
  std::string out;
  AppendBaseFont(device, out);
  return out;
}

std::string LineSpacingCommand(const DeviceSettings& device) {
  // The service counts line spacing in dots; the printer moves in half dots.
  const auto n = static_cast<uint8_t>(static_cast<uint32_t>(device.line_spacing_dots) * 2u);
  return std::string{'\x1B', '\x33', static_cast<char>(n)};
}

std::string BuildModePrologue(DeviceSettings& device) {
  std::string out;
  AppendPrologue(device, out);
  return out;
}

int32_t TranslatePrintData(DeviceSettings& device, std::string_view data, std::string& out) {
  out.clear();
  out.reserve(data.size() + 64);
  PrintDataTranslator translator(device);
  translator.Begin(out);
  translator.Feed(data, out);
  return translator.End(out);
}

}  // namespace qz381::output
