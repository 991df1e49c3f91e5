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
  for (uint8_t b : bytes) out.push_back(static_cast<char>(b));
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

class Translator {
 public:
  Translator(DeviceSettings& device, std::string_view data, std::string& out)
      : device_(device), data_(data), out_(out) {}

  int32_t Run() {
    AppendPrologue(device_, out_);
    snapshot_.assign(out_);
    mode_ = last_mode_ = device_.base_print_mode;

    const char* const base = data_.data();
    const size_t n = data_.size();
    size_t i = 0;
    while (i < n) {
      const void* esc = std::memchr(base + i, kEsc, n - i);
      const size_t stop =
          esc != nullptr ? static_cast<size_t>(static_cast<const char*>(esc) - base) : n;
      if (stop > i) {
        Flush();
        out_.append(base + i, stop - i);
        i = stop;
        continue;
      }
      if (i + 1 < n && data_[i + 1] == '|') {
        i = Sequence(i + 2);
      } else {
        PlainByte(kEsc);
        ++i;
      }
    }

    AppendPrologue(device_, out_);
    Put(out_, {0x1D, 0x42, 0x00});
    return result_;
  }

 private:
  void Flush() {
    if (mode_ != last_mode_) {
      Put(out_, {0x1B, 0x21, mode_});
      last_mode_ = mode_;
    }
    if (size_pending_) {
      Put(out_, {0x1D, 0x21, device_.shared->CharacterSize()});
      size_pending_ = false;
    }
  }

  void PlainByte(char c) {
    Flush();
    out_.push_back(c);
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
    char modifier = 0;
    char command = 0;
    if (p < n && IsLower(data_[p])) {
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
          Feed(lines * 2 * device_.line_spacing_dots);
          return p;
        }
        if (modifier == 'u') {
          const int32_t units = number == 0 ? 1 : static_cast<int32_t>(number);
          Feed(MapUnits(units, device_.shared->Units().UnitsToFeedUnits, device_.MapMode));
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
    result_ = kOposEFailure;
    if (p < data_.size()) {
      PlainByte(data_[p]);
      return p + 1;
    }
    return p;
  }

  void Alignment(char modifier, int64_t number) {
    if (modifier == 'c') {
      Put(out_, {0x1B, 0x61, 0x01});
    } else if (modifier == 'r') {
      Put(out_, {0x1B, 0x61, 0x02});
    }
    if ((modifier != 'c' && modifier != 'r') || number != 0) result_ = kOposEFailure;
  }

  void StoredBitmap(int64_t number) {
    if (number != 1 && number != 2) {
      result_ = kOposEFailure;
      return;
    }
    for (const std::string& s : device_.stored_bitmaps[static_cast<size_t>(number - 1)]) {
      out_ += s;
    }
    if (device_.Type == 1 || device_.Type == 3) {
      out_ += LineSpacingCommand(device_);
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
            Put(out_, {0x1D, 0x28, 0x4E, 0x02, 0x00, 0x30, 0x32});
          } else {
            Put(out_, {0x1B, 0x72, 0x01});
          }
        }
        return;
      case 'u':
        mode_ |= kModeUnderline;
        if (number == 1) {
          Put(out_, {0x1B, 0x2D, 0x01});
        } else if (number >= 2 && number <= 4) {
          Put(out_, {0x1B, 0x2D, 0x02});
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
    if (p < data_.size() && data_[p] == 'C') {
      Put(out_, {0x1D, 0x42, 0x01});
      return p + 1;
    }
    result_ = kOposEFailure;
    return p;
  }

  size_t PassThrough(int64_t number, size_t p) {
    const size_t remaining = data_.size() - p;
    size_t count = static_cast<size_t>(number);
    if (count > remaining) {
      TraceLine(device_, "ESC|%dE asks for more bytes than the %u left; passing those through",
                static_cast<int>(number), static_cast<unsigned>(remaining));
      count = remaining;
    }
    out_.append(data_.data() + p, count);
    return p + count;
  }

  // `units` counts feed units, two per vertical dot.
  void Feed(int64_t units) {
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
      Put(out_, {0x1B, 0x64, static_cast<uint8_t>(kMaxFeedParameter)});
      lines -= kMaxFeedParameter;
    }
    Put(out_, {0x1B, 0x64, static_cast<uint8_t>(lines)});
  }

  void FeedUnits(int64_t units) {
    while (units > kMaxFeedParameter) {
      Put(out_, {0x1B, 0x4A, static_cast<uint8_t>(kMaxFeedParameter)});
      units -= kMaxFeedParameter;
    }
    Put(out_, {0x1B, 0x4A, static_cast<uint8_t>(units)});
  }

  void Logo(char modifier, int64_t number) {
    if (number != 0 || (modifier != 't' && modifier != 'b')) {
      result_ = kOposEFailure;
      return;
    }
    out_ += modifier == 't' ? device_.top_logo : device_.bottom_logo;
  }

  void Normal() {
    out_ += snapshot_;
    Put(out_, {0x1D, 0x21, 0x00});
    device_.shared->SetCharacterSize(0);
    size_pending_ = false;
    mode_ = last_mode_ = device_.base_print_mode;
    Put(out_, {0x1D, 0x42, 0x00});
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
      out_.append(static_cast<size_t>(lines), kLf);
    }
    Put(out_, {0x1D, 0x56, 0x01});
    return p;
  }

  DeviceSettings& device_;
  std::string_view data_;
  std::string& out_;
  std::string snapshot_;
  uint8_t mode_ = 0;
  uint8_t last_mode_ = 0;
  bool size_pending_ = false;
  int32_t result_ = kOposSuccess;
};

}  // namespace

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
  data = data.substr(0, data.find('\0'));
  out.clear();
  out.reserve(data.size() + 64);
  return Translator(device, data, out).Run();
}

}  // namespace qz381::output
