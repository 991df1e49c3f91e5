#include "ports/common/status_recogniser.h"

#include <algorithm>
#include <bit>
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

// Where a block may begin, as a bit mask over a window of up to 64 bytes (bit k
// for bytes[k]). Most of a stream is data, so this is where the time goes; the
// window lets the caller walk from one opening byte to the next without a
// branch per byte, and pay one mispredicted branch per window rather than one
// per opening byte.
uint64_t OpeningsScalar(const uint8_t* bytes, size_t count) {
  const std::array<bool, 256>& opens = kAccept.at[0];
  uint64_t mask = 0;
  for (size_t k = 0; k < count; ++k) mask |= uint64_t{opens[bytes[k]]} << k;
  return mask;
}

#if defined(__SSE2__)
// The opening bytes are 10 14 18 1C (0001 xx00), 38 3C (0011 1x00), 5C and 35;
// the recogniser test checks every byte value against the table in each lane.
uint64_t Openings16(const uint8_t* bytes) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m128i dle_group =
      _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xF3))), _mm_set1_epi8(0x10));
  const __m128i eight_group =
      _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xFB))), _mm_set1_epi8(0x38));
  const __m128i single =
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x5C)), _mm_cmpeq_epi8(v, _mm_set1_epi8(0x35)));
  return static_cast<uint16_t>(
      _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(dle_group, eight_group), single)));
}
#endif

uint64_t Openings(const uint8_t* bytes, size_t count) {
  count = std::min<size_t>(count, 64);
  uint64_t mask = 0;
  size_t k = 0;
#if defined(__SSE2__)
  for (; count - k >= 16; k += 16) mask |= Openings16(bytes + k) << k;
#endif
  return mask | (k < count ? OpeningsScalar(bytes + k, count - k) << k : 0);
}

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
  uint64_t openings = at < size ? Openings(bytes + at, size - at) : 0;
  while (true) {
    while (openings == 0) {
      window += 64;
      if (window >= size) break;
      openings = Openings(bytes + window, size - window);
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
    if (next - window >= 64) {
      window = next;
      openings = next < size ? Openings(bytes + next, size - next) : 0;
    } else {
      openings &= ~uint64_t{0} << (next - window);
    }
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
