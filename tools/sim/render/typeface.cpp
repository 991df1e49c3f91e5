#include "tools/sim/render/typeface.h"

#include <iconv.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>
#include <unordered_map>

namespace qz381::sim::render {
namespace {

// ---- Code tables ----

struct CodePage {
  int n;  // the ESC t parameter
  const char* charset;
};

// glibc iconv names.
constexpr CodePage kCodePages[] = {
    {0, "IBM437"},  {2, "IBM850"},  {3, "IBM860"},  {4, "IBM863"},  {5, "IBM865"},  {7, "IBM855"},
    {8, "IBM857"},  {16, "CP1252"}, {17, "IBM866"}, {18, "IBM852"}, {19, "IBM858"}, {21, "IBM862"},
    {22, "IBM864"}, {24, "CP1253"}, {25, "CP1254"}, {26, "CP1257"}, {28, "CP1251"}, {29, "CP737"},
    {30, "IBM775"}, {33, "CP1255"}, {36, "CP874"},
};
constexpr int kPages = sizeof(kCodePages) / sizeof(kCodePages[0]);
constexpr int kAsciiOnly = kPages;  // the slot of every other ESC t value
constexpr int kSlots = kPages + 1;

// The positions ESC R replaces, and what each set puts there.
constexpr uint8_t kNationalBytes[12] = {0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D,
                                        0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
constexpr char32_t kNational[Typeface::kInternationalSets][12] = {
    {'#', '$', '@', '[', '\\', ']', '^', '`', '{', '|', '}', '~'},            // USA
    {'#', '$', 0xE0, 0xB0, 0xE7, 0xA7, '^', '`', 0xE9, 0xF9, 0xE8, 0xA8},     // France
    {'#', '$', 0xA7, 0xC4, 0xD6, 0xDC, '^', '`', 0xE4, 0xF6, 0xFC, 0xDF},     // Germany
    {0xA3, '$', '@', '[', '\\', ']', '^', '`', '{', '|', '}', '~'},           // UK
    {'#', '$', '@', 0xC6, 0xD8, 0xC5, '^', '`', 0xE6, 0xF8, 0xE5, '~'},       // Denmark I
    {'#', 0xA4, 0xC9, 0xC4, 0xD6, 0xC5, 0xDC, 0xE9, 0xE4, 0xF6, 0xE5, 0xFC},  // Sweden
    {'#', '$', '@', 0xB0, '\\', 0xE9, '^', 0xF9, 0xE0, 0xF2, 0xE8, 0xEC},     // Italy
    {0x20A7, '$', '@', 0xA1, 0xD1, 0xBF, '^', '`', 0xA8, 0xF1, '}', '~'},     // Spain I
    {'#', '$', '@', '[', 0xA5, ']', '^', '`', '{', '|', '}', '~'},            // Japan
    {'#', 0xA4, 0xC9, 0xC6, 0xD8, 0xC5, 0xDC, 0xE9, 0xE6, 0xF8, 0xE5, 0xFC},  // Norway
    {'#', '$', 0xC9, 0xC6, 0xD8, 0xC5, 0xDC, 0xE9, 0xE6, 0xF8, 0xE5, 0xFC},   // Denmark II
    {'#', '$', 0xE1, 0xA1, 0xD1, 0xBF, 0xE9, '`', 0xED, 0xF1, 0xF3, 0xFA},    // Spain II
    {'#', '$', 0xE1, 0xA1, 0xD1, 0xBF, 0xE9, 0xFC, 0xED, 0xF1, 0xF3, 0xFA},   // Latin America
    {'#', '$', '@', '[', 0x20A9, ']', '^', '`', '{', '|', '}', '~'},          // Korea
    {'#', '$', 0x17D, 0x160, 0x110, 0x106, 0x10C, 0x17E, 0x161, 0x111, 0x107,
     0x10D},                                                         // Slovenia/Croatia
    {'#', 0xA5, '@', '[', '\\', ']', '^', '`', '{', '|', '}', '~'},  // China
};

int NationalIndex(uint8_t byte) {
  for (int i = 0; i < 12; ++i) {
    if (kNationalBytes[i] == byte) return i;
  }
  return -1;
}

// One code point per byte for every slot; built once, on first use.
struct CodeTables {
  std::array<uint8_t, 256> slot_of;  // ESC t value -> slot
  std::array<char32_t, 256> points[kSlots];
};

char32_t Convert(iconv_t cd, uint8_t byte) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char in = static_cast<char>(byte);
  unsigned char out[8];
  char* in_p = &in;
  char* out_p = reinterpret_cast<char*>(out);
  size_t in_left = 1, out_left = sizeof(out);
  if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == static_cast<size_t>(-1)) return 0;
  // Some converters (CP1255) hold a character back for a combining mark.
  if (iconv(cd, nullptr, nullptr, &out_p, &out_left) == static_cast<size_t>(-1)) return 0;
  if (sizeof(out) - out_left != 4) return 0;  // nothing, or more than one character
  char32_t c = out[0] | out[1] << 8 | out[2] << 16 | static_cast<char32_t>(out[3]) << 24;
  if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c > 0x10FFFF) return 0;  // controls
  return c;
}

const CodeTables& Tables() {
  static const CodeTables tables = [] {
    CodeTables t;
    t.slot_of.fill(kAsciiOnly);
    for (auto& points : t.points) {
      points.fill(0);
      for (int b = 0x20; b < 0x7F; ++b) points[b] = b;
    }
    for (int i = 0; i < kPages; ++i) {
      t.slot_of[kCodePages[i].n] = i;
      iconv_t cd = iconv_open("UTF-32LE", kCodePages[i].charset);
      if (cd == reinterpret_cast<iconv_t>(-1)) continue;  // no converter: ASCII only
      for (int b = 0x80; b < 0x100; ++b) t.points[i][b] = Convert(cd, b);
      iconv_close(cd);
    }
    return t;
  }();
  return tables;
}

int SlotOf(int code_table) {
  if (code_table < 0 || code_table > 255) return kAsciiOnly;
  return Tables().slot_of[code_table];
}

// ---- PSF fonts ----

constexpr size_t kMaxFileBytes = 4 << 20;
constexpr uint32_t kMaxGlyphs = 65536;
constexpr uint32_t kMaxGlyphSide = 64;

struct PsfFont {
  int width = 0, height = 0, row_bytes = 0;
  uint32_t glyph_bytes = 0;
  std::vector<uint8_t> bitmaps;               // glyph after glyph
  std::unordered_map<char32_t, int> by_code;  // code point -> glyph

  bool Ink(int glyph, int x, int y) const {
    return bitmaps[size_t{glyph_bytes} * glyph + y * row_bytes + x / 8] & (0x80 >> (x % 8));
  }
};

// Reads a gzip file (or a plain one) whole; false when it is missing
// (`*missing` set), damaged or larger than kMaxFileBytes.
bool ReadGz(const std::string& path, std::vector<uint8_t>* data, bool* missing,
            std::string* error) {
  errno = 0;
  gzFile f = gzopen(path.c_str(), "rb");
  *missing = !f && errno == ENOENT;
  if (!f) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  data->clear();
  uint8_t buf[1 << 14];
  for (;;) {
    int n = gzread(f, buf, sizeof(buf));
    if (n < 0) {
      int code;
      *error = path + ": " + gzerror(f, &code);
      gzclose(f);
      return false;
    }
    if (n == 0) break;
    if (data->size() + n > kMaxFileBytes) {
      *error = path + ": larger than 4 MiB unpacked";
      gzclose(f);
      return false;
    }
    data->insert(data->end(), buf, buf + n);
  }
  gzclose(f);
  return true;
}

uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

// Decodes one UTF-8 character of the PSF2 table; 0 and `*at` past the bad
// byte when it is malformed.
char32_t NextUtf8(const std::vector<uint8_t>& d, size_t* at) {
  uint8_t b = d[(*at)++];
  int more = b < 0x80 ? 0 : b >= 0xF0 && b < 0xF8 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
  if (more < 0) return 0;
  char32_t c = more == 0 ? b : b & (0x3F >> more);
  for (int i = 0; i < more; ++i) {
    if (*at >= d.size() || (d[*at] & 0xC0) != 0x80) return 0;
    c = c << 6 | (d[(*at)++] & 0x3F);
  }
  return c;
}

bool ParsePsf(const std::vector<uint8_t>& d, PsfFont* font, std::string* error) {
  uint32_t count = 0;
  size_t header = 0;
  bool has_table = false, psf2 = false;
  if (d.size() >= 4 && d[0] == 0x36 && d[1] == 0x04) {
    count = d[2] & 0x01 ? 512 : 256;
    has_table = d[2] & 0x06;
    font->width = 8;
    font->height = d[3];
    header = 4;
  } else if (d.size() >= 32 && Le32(d, 0) == 0x864AB572) {
    psf2 = true;
    header = Le32(d, 8);
    has_table = Le32(d, 12) & 0x01;
    count = Le32(d, 16);
    uint32_t width = Le32(d, 28), height = Le32(d, 24);
    if (header < 32 || header > d.size()) {
      *error = "bad header size";
      return false;
    }
    if (width == 0 || height == 0 || width > kMaxGlyphSide || height > kMaxGlyphSide) {
      *error =
          "glyph size " + std::to_string(width) + " x " + std::to_string(height) + " out of range";
      return false;
    }
    if (count > kMaxGlyphs) {
      *error = "too many glyphs (" + std::to_string(count) + ")";
      return false;
    }
    font->width = width;
    font->height = height;
    if (Le32(d, 20) != (width + 7) / 8 * height) {
      *error = "glyph byte count does not match its size";
      return false;
    }
  } else {
    *error = "not a PSF font";
    return false;
  }
  if (font->height == 0 || count == 0) {
    *error = "empty font";
    return false;
  }
  font->row_bytes = (font->width + 7) / 8;
  font->glyph_bytes = font->row_bytes * font->height;
  uint64_t end = header + uint64_t{count} * font->glyph_bytes;
  if (end > d.size()) {
    *error = "truncated: " + std::to_string(count) + " glyphs need " + std::to_string(end) +
             " bytes, file has " + std::to_string(d.size());
    return false;
  }
  font->bitmaps.assign(d.begin() + header, d.begin() + end);

  if (!has_table) {  // glyph i is code point i
    for (uint32_t i = 0; i < count; ++i) font->by_code.emplace(i, i);
    return true;
  }
  // Each glyph's entry: its code points, then optional sequences after a
  // start mark (skipped), then an end mark. The first glyph for a code wins.
  size_t at = end;
  uint32_t glyph = 0;
  bool in_sequence = false;
  while (glyph < count && at < d.size()) {
    char32_t c;
    if (psf2) {
      if (d[at] == 0xFF || d[at] == 0xFE) {
        in_sequence = d[at++] == 0xFE;
        glyph += !in_sequence;
        continue;
      }
      c = NextUtf8(d, &at);
    } else {
      if (at + 2 > d.size()) break;
      c = d[at] | d[at + 1] << 8;
      at += 2;
      if (c == 0xFFFF || c == 0xFFFE) {
        in_sequence = c == 0xFFFE;
        glyph += !in_sequence;
        continue;
      }
    }
    if (c != 0 && !in_sequence) font->by_code.emplace(c, glyph);
  }
  if (glyph < count) {
    *error = "Unicode table truncated";
    return false;
  }
  return true;
}

// ---- The printer's fonts ----

struct Source {
  const char* file;
  int width, height;  // the file's glyph size; scaled when not the font's own
  bool required;
};

struct FontLayout {
  int cell_width, cell_height;    // the printer's cell
  int glyph_width, glyph_height;  // the drawn part, top left in the cell
  std::vector<Source> sources;    // searched in order for each character
};

const FontLayout& Layout(int font) {
  static const FontLayout layouts[Typeface::kFonts] = {
      {12,
       24,
       12,
       24,
       {{"Uni2-Terminus24x12.psf.gz", 12, 24, true},
        {"Hebrew-Terminus24x12.psf.gz", 12, 24, false},
        {"Vietnamese-Terminus24x12.psf.gz", 12, 24, false},
        // No 12 x 24 Arabic or Thai: the 8 x 16 ones, scaled up.
        {"Arabic-VGA16.psf.gz", 8, 16, false},
        {"Thai-Fixed16.psf.gz", 8, 16, false}}},
      {9,
       17,
       8,
       16,
       {{"Uni2-Terminus16.psf.gz", 8, 16, true},
        {"Hebrew-Terminus16.psf.gz", 8, 16, false},
        {"Vietnamese-Terminus16.psf.gz", 8, 16, false},
        {"Arabic-VGA16.psf.gz", 8, 16, false},
        {"Thai-Fixed16.psf.gz", 8, 16, false}}},
  };
  return layouts[font];
}

// Box drawing and block elements reach across the blank spacing column and
// row, so that ruled lines and shading join up.
bool Joins(char32_t c) {
  return c >= 0x2500 && c <= 0x259F;
}

Cell MakeCell(const FontLayout& layout, const PsfFont& psf, int glyph, bool join) {
  Cell cell;
  cell.width = layout.cell_width;
  cell.height = layout.cell_height;
  cell.dots.assign(cell.width * cell.height, 0);
  int width = join ? cell.width : layout.glyph_width;
  int height = join ? cell.height : layout.glyph_height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int gx = std::min(x, layout.glyph_width - 1), gy = std::min(y, layout.glyph_height - 1);
      int sx = gx * psf.width / layout.glyph_width, sy = gy * psf.height / layout.glyph_height;
      cell.dots[y * cell.width + x] = psf.Ink(glyph, sx, sy);
    }
  }
  return cell;
}

struct DefaultFonts {
  std::unique_ptr<Typeface> typeface;
  std::string error;
};

const DefaultFonts& Defaults() {
  static const DefaultFonts fonts = [] {
    DefaultFonts f;
    const char* dir = std::getenv("QZ381_FONT_DIR");
    f.typeface = Typeface::Load(dir && *dir ? dir : "/usr/share/consolefonts", &f.error);
    return f;
  }();
  return fonts;
}

}  // namespace

Typeface::Typeface() = default;
Typeface::~Typeface() = default;

const Typeface* Typeface::Default() {
  return Defaults().typeface.get();
}

std::string Typeface::LoadError() {
  return Defaults().error;
}

char32_t Typeface::ToUnicode(int code_table, int international, uint8_t byte) {
  if (international > 0 && international < kInternationalSets) {
    int i = NationalIndex(byte);
    if (i >= 0) return kNational[international][i];
  }
  return Tables().points[SlotOf(code_table)][byte];
}

const Cell* Typeface::Glyph(int font, int code_table, int international, uint8_t byte) const {
  if (font < 0 || font >= kFonts) return nullptr;
  if (international > 0 && international < kInternationalSets) {
    int i = NationalIndex(byte);
    if (i >= 0) return national_[font][international][i];
  }
  return by_table_[font][SlotOf(code_table)][byte];
}

std::unique_ptr<Typeface> Typeface::Load(const std::string& dir, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  // The files, each read once though both fonts may use it.
  std::map<std::string, PsfFont> files;
  for (int f = 0; f < kFonts; ++f) {
    for (const Source& source : Layout(f).sources) {
      if (files.count(source.file)) continue;
      std::string path = dir + "/" + source.file;
      std::vector<uint8_t> data;
      std::string why;
      bool missing = false;
      if (!ReadGz(path, &data, &missing, &why)) {
        if (missing && !source.required) continue;
        *error = "font " + why;
        return nullptr;
      }
      PsfFont psf;
      if (!ParsePsf(data, &psf, &why)) {
        *error = "font " + path + ": " + why;
        return nullptr;
      }
      if (psf.width != source.width || psf.height != source.height) {
        *error = "font " + path + ": glyphs are " + std::to_string(psf.width) + " x " +
                 std::to_string(psf.height) + ", expected " + std::to_string(source.width) + " x " +
                 std::to_string(source.height);
        return nullptr;
      }
      files.emplace(source.file, std::move(psf));
    }
  }

  std::unique_ptr<Typeface> t(new Typeface);
  // Cell indices first: cells_ grows while they are made.
  std::unordered_map<char32_t, int> index[kFonts];
  // Code points that share a glyph share its cell.
  std::map<std::tuple<const PsfFont*, int, bool>, int> by_glyph[kFonts];
  auto cell_for = [&](int f, char32_t c) -> int {
    if (c == 0) return -1;
    auto [it, added] = index[f].emplace(c, -1);
    if (!added) return it->second;
    for (const Source& source : Layout(f).sources) {
      auto file = files.find(source.file);
      if (file == files.end()) continue;
      auto glyph = file->second.by_code.find(c);
      if (glyph == file->second.by_code.end()) continue;
      std::tuple key{&file->second, glyph->second, Joins(c)};
      auto [cell, made] = by_glyph[f].emplace(key, static_cast<int>(t->cells_.size()));
      if (made) t->cells_.push_back(MakeCell(Layout(f), file->second, glyph->second, Joins(c)));
      it->second = cell->second;
      break;
    }
    return it->second;
  };
  std::vector<std::array<int, 256>> by_table[kFonts];
  int national[kFonts][kInternationalSets][12];
  const CodeTables& tables = Tables();
  for (int f = 0; f < kFonts; ++f) {
    by_table[f].resize(kSlots);
    for (int s = 0; s < kSlots; ++s) {
      for (int b = 0; b < 256; ++b) by_table[f][s][b] = cell_for(f, tables.points[s][b]);
    }
    for (int n = 0; n < kInternationalSets; ++n) {
      for (int i = 0; i < 12; ++i) national[f][n][i] = cell_for(f, kNational[n][i]);
    }
  }
  auto at = [&](int i) -> const Cell* { return i < 0 ? nullptr : &t->cells_[i]; };
  for (int f = 0; f < kFonts; ++f) {
    t->by_table_[f].resize(kSlots);
    for (int s = 0; s < kSlots; ++s) {
      for (int b = 0; b < 256; ++b) t->by_table_[f][s][b] = at(by_table[f][s][b]);
    }
    for (int n = 0; n < kInternationalSets; ++n) {
      for (int i = 0; i < 12; ++i) t->national_[f][n][i] = at(national[f][n][i]);
    }
  }
  error->clear();
  return t;
}

}  // namespace qz381::sim::render
