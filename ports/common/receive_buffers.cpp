#include "ports/common/receive_buffers.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "platform/trace.h"

namespace qz381::ports {
namespace {

std::vector<uint8_t> Allocate(uint32_t capacity, bool* ok) {
  try {
    *ok = true;
    return std::vector<uint8_t>(capacity);
  } catch (const std::bad_alloc&) {
    *ok = false;
    return {};
  }
}

void TraceDrop(const char* buffer, size_t capacity, size_t dropped, uint64_t total) {
  platform::Trace("port %s buffer full (%lu bytes): dropped %lu received bytes, %llu since open",
                  buffer, static_cast<unsigned long>(capacity), static_cast<unsigned long>(dropped),
                  static_cast<unsigned long long>(total));
}

}  // namespace

void ByteRing::Reset(std::vector<uint8_t> storage) {
  storage_ = std::move(storage);
  head_ = size_ = 0;
}

size_t ByteRing::Push(std::span<const uint8_t> bytes) {
  const size_t n = std::min(bytes.size(), free_space());
  if (n == 0) return 0;
  // head_ + size_ < 2 * capacity: one subtraction wraps it (a division would
  // cost more than the copy for the short runs the reader appends).
  size_t tail = head_ + size_;
  if (tail >= storage_.size()) tail -= storage_.size();
  const size_t first = std::min(n, storage_.size() - tail);
  std::memcpy(storage_.data() + tail, bytes.data(), first);
  std::memcpy(storage_.data(), bytes.data() + first, n - first);
  size_ += n;
  return n;
}

size_t ByteRing::Pop(std::span<uint8_t> out) {
  const size_t n = std::min(out.size(), size_);
  if (n == 0) return 0;
  const size_t first = std::min(n, storage_.size() - head_);
  std::memcpy(out.data(), storage_.data() + head_, first);
  std::memcpy(out.data() + first, storage_.data(), n - first);
  head_ += n;
  if (head_ >= storage_.size()) head_ -= storage_.size();
  size_ -= n;
  if (size_ == 0) head_ = 0;
  return n;
}

bool DataBuffer::Open(uint32_t capacity) {
  bool ok = false;
  std::vector<uint8_t> storage = Allocate(capacity, &ok);
  std::lock_guard<std::mutex> hold(lock_);
  ring_.Reset(std::move(storage));
  open_ = ok;
  dropped_ = 0;
  return ok;
}

void DataBuffer::Close() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ring_.Reset({});
    open_ = false;
  }
  arrived_.notify_all();
}

size_t DataBuffer::Append(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return 0;
  size_t stored = 0;
  size_t capacity = 0;
  uint64_t total = 0;
  bool wake = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_) return 0;
    stored = ring_.Push(bytes);
    capacity = ring_.capacity();
    dropped_ += bytes.size() - stored;
    total = dropped_;
    wake = stored > 0 && waiters_ > 0;
  }
  if (wake) arrived_.notify_all();
  // Traced outside the lock: the sink may be a file.
  if (stored < bytes.size()) TraceDrop("data", capacity, bytes.size() - stored, total);
  return stored;
}

size_t DataBuffer::Take(std::span<uint8_t> out) {
  std::lock_guard<std::mutex> hold(lock_);
  return ring_.Pop(out);
}

size_t DataBuffer::TakeFor(std::span<uint8_t> out, uint32_t timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock<std::mutex> hold(lock_);
  const Waiting waiting(*this);
  size_t copied = ring_.Pop(out);
  while (copied < out.size() && open_) {
    if (arrived_.wait_until(hold, deadline) == std::cv_status::timeout) {
      copied += ring_.Pop(out.subspan(copied));
      break;
    }
    copied += ring_.Pop(out.subspan(copied));
  }
  return copied;
}

void LockedRing::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  ring_.Clear();
}

size_t LockedRing::Count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return ring_.size();
}

size_t LockedRing::Capacity() const {
  std::lock_guard<std::mutex> hold(lock_);
  return ring_.capacity();
}

uint64_t LockedRing::DroppedBytes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return dropped_;
}

bool LockedRing::IsOpen() const {
  std::lock_guard<std::mutex> hold(lock_);
  return open_;
}

bool StatusBuffer::Open(uint32_t capacity) {
  bool ok = false;
  std::vector<uint8_t> storage = Allocate(capacity, &ok);
  std::lock_guard<std::mutex> hold(lock_);
  ring_.Reset(std::move(storage));
  open_ = ok;
  dropped_ = 0;
  return ok;
}

void StatusBuffer::Close() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ring_.Reset({});
    open_ = false;
  }
  arrived_.notify_all();
}

bool StatusBuffer::Append(const StatusBlock& block) {
  bool stored = false;
  size_t capacity = 0;
  uint64_t total = 0;
  bool wake = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_) return false;
    stored = ring_.free_space() >= block.size();
    if (stored) {
      ring_.Push(block);
      wake = waiters_ > 0;
    } else {
      capacity = ring_.capacity();
      dropped_ += block.size();
      total = dropped_;
    }
  }
  if (stored) {
    if (wake) arrived_.notify_all();
    return true;
  }
  TraceDrop("status", capacity, block.size(), total);
  return false;
}

bool StatusBuffer::Take(StatusBlock& out) {
  std::lock_guard<std::mutex> hold(lock_);
  if (ring_.size() < out.size()) return false;
  ring_.Pop(out);
  return true;
}

bool StatusBuffer::WaitFor(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> hold(lock_);
  const Waiting waiting(*this);
  return arrived_.wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] {
    return !open_ || ring_.size() >= kStatusBlockSize;
  }) && open_;
}

bool ReceiveBuffers::Open(uint32_t input_buffer_size) {
  const uint32_t capacity = ReceiveCapacity(input_buffer_size);
  if (data.Open(capacity) && status.Open(capacity)) return true;
  Close();
  return false;
}

void ReceiveBuffers::Close() {
  data.Close();
  status.Close();
}

}  // namespace qz381::ports
