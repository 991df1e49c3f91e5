#include "platform/usb.h"

#include <cstdio>

namespace qz381::platform {
namespace {

// A port name holds 259 characters; the path around the instance takes 65.
constexpr size_t kMaxPathLength = 259;

std::string Hex4(uint16_t value) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

std::string UsbInterfacePath(uint16_t vendor, uint16_t product, std::string_view serial,
                             std::string_view port_chain) {
  const std::string head = "\\\\?\\USB#VID_" + Hex4(vendor) + "&PID_" + Hex4(product) + "#";
  const std::string tail = "#" + std::string(kUsbPrintInterfaceClass);
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string instance;
  for (const char c : serial) {
    const auto byte = static_cast<unsigned char>(c);
    instance += kDigits[byte >> 4];
    instance += kDigits[byte & 0x0F];
  }
  if (instance.empty() || head.size() + instance.size() + tail.size() > kMaxPathLength) {
    // A port chain is digits, '-' and '.': it cannot spell "COM" either.
    instance = "&" + Upper(port_chain);
  }
  return head + instance + tail;
}

bool UsbNoteQueue::Push(UsbChangeNote note) {
  std::lock_guard hold(mutex_);
  const bool was_empty = notes_.empty();
  if (notes_.size() >= capacity_) {
    notes_.pop_front();
    overflowed_ = true;
  }
  notes_.push_back(std::move(note));
  return was_empty;
}

std::vector<UsbChangeNote> UsbNoteQueue::Take() {
  std::lock_guard hold(mutex_);
  std::vector<UsbChangeNote> out(std::make_move_iterator(notes_.begin()),
                                 std::make_move_iterator(notes_.end()));
  notes_.clear();
  return out;
}

bool UsbNoteQueue::Overflowed() {
  std::lock_guard hold(mutex_);
  return std::exchange(overflowed_, false);
}

}  // namespace qz381::platform
