#pragma once
// The two receive buffers of an open port. The reader thread fills them through
// the status recogniser; the callers' threads take from them. Each buffer has a
// lock of its own and no call holds both, so the reader never waits on a
// caller that is inside the other buffer.
//
// Capacity is fixed when the port opens. What does not fit is dropped (the
// newest bytes, never written past the end), counted and reported in a trace
// line; the status buffer keeps or drops whole blocks so that a full buffer
// cannot shift later blocks out of their four-byte frame.
#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "ports/common/port_contract.h"

namespace qz381::ports {

using StatusBlock = std::array<uint8_t, kStatusBlockSize>;

// A fixed-capacity FIFO of bytes without a lock of its own; storage is given at
// Reset and released with an empty vector.
class ByteRing {
 public:
  void Reset(std::vector<uint8_t> storage);
  size_t capacity() const { return storage_.size(); }
  size_t size() const { return size_; }
  size_t free_space() const { return storage_.size() - size_; }
  // Both copy as much as fits and answer how much that was.
  size_t Push(std::span<const uint8_t> bytes);
  size_t Pop(std::span<uint8_t> out);
  void Clear() { head_ = size_ = 0; }

 private:
  std::vector<uint8_t> storage_;
  size_t head_ = 0;
  size_t size_ = 0;
};

// What both receive buffers are made of: a ring under a lock of its own, and
// the questions asked of either.
class LockedRing {
 public:
  LockedRing() = default;
  LockedRing(const LockedRing&) = delete;
  LockedRing& operator=(const LockedRing&) = delete;

  bool IsOpen() const;
  void Clear();
  size_t Count() const;  // bytes
  size_t Capacity() const;
  uint64_t DroppedBytes() const;  // since Open

 protected:
  // Counts the threads asleep in a wait of this buffer, under lock_: a store
  // wakes only when there is someone to wake, which spares the reader a system
  // call per status block while nobody waits.
  class Waiting {
   public:
    explicit Waiting(LockedRing& ring) : ring_(ring) { ++ring_.waiters_; }
    ~Waiting() { --ring_.waiters_; }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

   private:
    LockedRing& ring_;
  };

  mutable std::mutex lock_;
  ByteRing ring_;
  bool open_ = false;
  uint64_t dropped_ = 0;
  int waiters_ = 0;
};

// Received bytes that are not part of a status block, oldest first (Read,
// Clear, GetInputBufferCount).
class DataBuffer : public LockedRing {
 public:
  // Empty buffer of `capacity` bytes; false (and closed) when it cannot be
  // allocated. Resets the drop count.
  bool Open(uint32_t capacity);
  // Releases the storage and wakes every TakeFor, which then answers what it
  // has already copied.
  void Close();

  // Appends as much as fits; answers the bytes stored. Called by the reader.
  size_t Append(std::span<const uint8_t> bytes);
  // Moves up to out.size() bytes out, oldest first, without waiting.
  size_t Take(std::span<uint8_t> out);
  // As Take, but keeps taking bytes as they arrive until `out` is full or
  // timeout_ms have passed since the call began; always makes one pass, so 0
  // means "what is there now". Sleeps on a condition the reader signals.
  size_t TakeFor(std::span<uint8_t> out, uint32_t timeout_ms);

 private:
  std::condition_variable arrived_;  // signalled after bytes are stored, or on Close
};

// Recognised status blocks, oldest first (GetASBState). Capacity counts bytes,
// as the data buffer's does; only whole blocks are stored.
class StatusBuffer : public LockedRing {
 public:
  bool Open(uint32_t capacity);
  void Close();

  // Stores the block, or drops all four bytes when fewer than four are free.
  bool Append(const StatusBlock& block);
  // Moves the oldest block out; false (and `out` untouched) when fewer than
  // four bytes are buffered.
  bool Take(StatusBlock& out);  // Count() stays a multiple of four
  // Waits until a whole block is buffered (true at once when one is), the
  // buffer is closed or timeout_ms have passed (false for the last two).
  // Takes nothing: the caller takes the blocks with Take. Append and Close
  // wake it, so the wait only limits how long nothing arrives.
  bool WaitFor(uint32_t timeout_ms);

 private:
  std::condition_variable arrived_;  // signalled after a block is stored, or on Close
};

// Both buffers of one port, opened and closed together with OpenPort/ClosePort.
struct ReceiveBuffers {
  DataBuffer data;
  StatusBuffer status;

  // Capacity from DeviceOption::inputBufferSize via ReceiveCapacity; false when
  // storage cannot be had (both stay closed).
  bool Open(uint32_t input_buffer_size);
  void Close();
};

}  // namespace qz381::ports
