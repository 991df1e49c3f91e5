#include "ports/common/status_recogniser.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <initializer_list>

#include "platform/trace.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qz381::ports {
namespace {

struct AcceptTable {
  std::array<std::array<bool, 256>, kStatusBlockSize> at{};
};

// Each row lists the bytes admitted at one position; -1 ends a row.
using SetRows = std::array<std::array<int, 8>, kStatusBlockSize>;

// Set A: the automatic status report.
constexpr SetRows kSetA = {{
    {0x10, 0x14, 0x18, 0x1C, 0x38, 0x3C, 0x5C, -1},
    {0x00, 0x20, 0x40, 0x60, -1},
    {0x00, 0x03, 0x0C, 0x0F, -1},
    {0x0F, -1},
}};
// Set B: a reply that begins with "5".
constexpr SetRows kSetB = {{
    {0x35, -1},
    {0x40, 0x41, 0x42, 0x44, 0x48, 0x4C, 0x60, -1},
    {0x40, 0x41, 0x42, -1},
    {0x00, -1},
}};

constexpr AcceptTable BuildAcceptTable() {
  AcceptTable table;
  for (const SetRows& set : {kSetA, kSetB}) {
    for (size_t position = 0; position < kStatusBlockSize; ++position) {
      for (int byte : set[position]) {
        if (byte < 0) break;
        table.at[position][static_cast<size_t>(byte)] = true;
      }
    }
  }
  return table;
}

constexpr AcceptTable kAccept = BuildAcceptTable();

}  // namespace

bool StatusRecogniser::Accepts(size_t position, uint8_t byte) {
  return position < kStatusBlockSize && kAccept.at[position][byte];
}

namespace {

// Every byte that may open a block is refused at the three later positions.
// Candidates relies on it: a match broken at a later position is broken by a
// byte that is data and, unless it could open a block itself, nothing else.
constexpr bool OpeningBytesAreRefusedLater() {
  for (size_t byte = 0; byte < 256; ++byte) {
    if (!kAccept.at[0][byte]) continue;
    for (size_t position = 1; position < kStatusBlockSize; ++position) {
      if (kAccept.at[position][byte]) return false;
    }
  }
  return true;
}
static_assert(OpeningBytesAreRefusedLater());

// Which of up to 64 bytes each position admits: bit k of `at[p]` for bytes[k].
struct Admitted {
  std::array<uint64_t, kStatusBlockSize> at{};
};

#if defined(__SSE2__)
inline __m128i Is(__m128i v, uint8_t byte) {
  return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(byte)));
}
inline __m128i Any(__m128i a, __m128i b) {
  return _mm_or_si128(a, b);
}
inline __m128i Masked(__m128i v, uint8_t mask, uint8_t value) {
  return Is(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(mask))), value);
}
inline uint64_t Bits(__m128i lanes) {
  return static_cast<uint16_t>(_mm_movemask_epi8(lanes));
}

// The four sets of the accept table, sixteen bytes at a time; the recogniser
// test checks every byte value at every position against the table.
void Admit16(const uint8_t* bytes, size_t k, Admitted& out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
  // 10 14 18 1C (0001 xx00), 38 3C (0011 1x00), 5C and 35.
  const __m128i opens =
      Any(Any(Masked(v, 0xF3, 0x10), Masked(v, 0xFB, 0x38)), Any(Is(v, 0x5C), Is(v, 0x35)));
  // 00 20 40 60 (0xx0 0000), 41 42 44 48 4C.
  const __m128i second = Any(Any(Masked(v, 0x9F, 0x00), Any(Is(v, 0x41), Is(v, 0x42))),
                             Any(Any(Is(v, 0x44), Is(v, 0x48)), Is(v, 0x4C)));
  // 00 03 0C 0F, 40 41 42.
  const __m128i low = Any(Any(Is(v, 0x00), Is(v, 0x03)), Any(Is(v, 0x0C), Is(v, 0x0F)));
  const __m128i third = Any(low, Any(Any(Is(v, 0x40), Is(v, 0x41)), Is(v, 0x42)));
  const __m128i fourth = Any(Is(v, 0x0F), Is(v, 0x00));
  out.at[0] |= Bits(opens) << k;
  out.at[1] |= Bits(second) << k;
  out.at[2] |= Bits(third) << k;
  out.at[3] |= Bits(fourth) << k;
}
#endif

// Bit p of kPositions[byte]: the byte is admitted at position p.
constexpr std::array<uint8_t, 256> BuildPositions() {
  std::array<uint8_t, 256> positions{};
  for (size_t byte = 0; byte < 256; ++byte) {
    for (size_t p = 0; p < kStatusBlockSize; ++p) {
      positions[byte] |= static_cast<uint8_t>(kAccept.at[p][byte] << p);
    }
  }
  return positions;
}
constexpr std::array<uint8_t, 256> kPositions = BuildPositions();

Admitted Admit(const uint8_t* bytes, size_t count) {
  Admitted out;
  size_t k = 0;
#if defined(__SSE2__)
  for (; count - k >= 16; k += 16) Admit16(bytes, k, out);
#endif
  for (; k < count; ++k) {
    const uint64_t positions = kPositions[bytes[k]];
    for (size_t p = 0; p < kStatusBlockSize; ++p) out.at[p] |= ((positions >> p) & 1) << k;
  }
  return out;
}

// The opening bytes of a chunk that the walk has to look at, 64 at a time.
// Most of a stream is data, and most opening bytes in it are data whose next
// byte breaks the match; such a byte and the bytes of its broken match are
// data whether the walk looks at them or not, as long as the byte that broke
// the match cannot open a block itself (the static_assert above). Those are
// left out here, in bulk, from the four admit masks; what remains is every
// complete block, every broken match whose breaking byte opens another, and
// every opening byte too near the chunk's end to judge. The walk stays the
// exact rule; this only spares it the bytes whose outcome is known.
class Windows {
 public:
  Windows(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

  // Bit k for bytes[window + k]. Asked for windows 64 apart, it classifies
  // each byte once: the masks of the bytes past a window are kept for the next.
  uint64_t Candidates(size_t window) {
    const size_t remaining = size_ - window;
    const Admitted here =
        window == ahead_at_ ? ahead_ : Admit(bytes_ + window, std::min<size_t>(remaining, 64));
    ahead_at_ = window + 64;
    ahead_ = remaining > 64 ? Admit(bytes_ + ahead_at_, std::min<size_t>(remaining - 64, 64))
                            : Admitted{};
    // Bit k: bytes[window + k + n] is admitted at position p.
    const auto later = [&](size_t p, int n) {
      return (here.at[p] >> n) | (ahead_.at[p] << (64 - n));
    };
    const uint64_t second = later(1, 1), third = later(2, 2), fourth = later(3, 3);
    const uint64_t block = second & third & fourth;
    const uint64_t broken_by_opening =
        later(0, 1) | (second & later(0, 2)) | (second & third & later(0, 3));
    uint64_t keep = here.at[0] & (block | broken_by_opening);
    // A block from k needs bytes[k + 3], which lies in the chunk for k < remaining - 3.
    const size_t judged = remaining > 3 ? remaining - 3 : 0;
    if (judged < 64) keep |= here.at[0] & (~uint64_t{0} << judged);
    return keep;
  }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t ahead_at_ = SIZE_MAX;
  Admitted ahead_;
};

}  // namespace

void StatusRecogniser::AppendData(const uint8_t* bytes, size_t count) {
  if (count > 0) data_.Append(std::span<const uint8_t>(bytes, count));
}

void StatusRecogniser::Feed(std::span<const uint8_t> chunk) {
  if (chunk.empty()) return;
  const uint8_t* const bytes = chunk.data();
  const size_t size = chunk.size();
  size_t at = 0;
  size_t run = 0;  // the first byte of data not yet appended

  // A block begun in the previous chunk is finished or broken first.
  if (matched_ > 0) {
    while (at < size && matched_ < kStatusBlockSize && kAccept.at[matched_][bytes[at]]) {
      collected_[matched_++] = bytes[at++];
    }
    if (matched_ == kStatusBlockSize) {
      status_.Append(collected_);
      matched_ = 0;
      allowance_ = true;
      run = at;
    } else if (at < size) {
      // The byte that broke the match is data like the bytes before it; it
      // does not get a second look as the start of a block.
      AppendData(collected_.data(), matched_);
      matched_ = 0;
      allowance_ = true;
      run = at++;
    } else {
      run = size;  // the whole chunk went into the block, which is still unfinished
    }
  }

  // Data runs are appended whole, each before the block that ends it, so the two
  // buffers see the same order as byte-by-byte appending would give them.
  size_t data_end = size;
  size_t window = at;  // openings[k] stands for bytes[window + k]
  Windows windows(bytes, size);
  uint64_t openings = at < size ? windows.Candidates(at) : 0;
  while (true) {
    while (openings == 0) {
      window += 64;
      if (window >= size) break;
      openings = windows.Candidates(window);
    }
    if (openings == 0) break;
    const size_t start = window + static_cast<size_t>(std::countr_zero(openings));
    size_t next;  // where looking for an opening byte goes on
    if (size - start >= kStatusBlockSize) {
      // The three tests at once: most opening bytes are data whose next byte
      // breaks the match, and a branch per position would be mispredicted.
      const bool second = kAccept.at[1][bytes[start + 1]];
      const bool third = kAccept.at[2][bytes[start + 2]];
      const bool fourth = kAccept.at[3][bytes[start + 3]];
      if (second & third & fourth) {
        AppendData(bytes + run, start - run);
        StatusBlock block;
        std::copy(bytes + start, bytes + start + kStatusBlockSize, block.begin());
        status_.Append(block);
        run = next = start + kStatusBlockSize;
      } else {
        // Broken at the first position that refuses its byte; that byte is
        // data and does not get a second look as the start of a block.
        next = start + 2 + size_t{second} + size_t{second && third};
      }
      allowance_ = true;
    } else {
      // Near the end of the chunk: a block that reaches it is held for the next.
      size_t end = start + 1, matched = 1;
      while (end < size && kAccept.at[matched][bytes[end]]) {
        ++end;
        ++matched;
      }
      if (end == size) {
        std::copy(bytes + start, bytes + end, collected_.begin());
        matched_ = matched;
        data_end = start;
        break;
      }
      allowance_ = true;
      next = end + 1;
    }
    // A block or broken match reaches at most three bytes past the window:
    // the windows stay 64 bytes apart, so no byte is classified twice.
    if (next - window >= 64) {
      window += 64;
      openings = window < size ? windows.Candidates(window) : 0;
    }
    openings &= ~uint64_t{0} << (next - window);
  }
  if (data_end > run) AppendData(bytes + run, data_end - run);

  if (matched_ == 0) return;
  if (allowance_) {
    allowance_ = false;
    return;
  }
  platform::Trace("status recogniser: discarded %lu bytes of an unfinished status block",
                  static_cast<unsigned long>(matched_));
  discarded_ += matched_;
  matched_ = 0;
  allowance_ = true;
}

}  // namespace qz381::ports
