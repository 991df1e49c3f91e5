#pragma once
// What counts as a network printer's address in a port name: an IPv4 address,
// an IPv6 address (bare or in brackets) or a host name. Vexlink sends such
// names to the net module; the net module connects to them. Header only, so
// the service object needs no library of the port modules to ask.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>

namespace qz381::ports {
namespace net_address_detail {

inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

inline bool IsHexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

inline bool IsIpv4(std::string_view text) {
  int parts = 0;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t end = std::min(text.find('.', at), text.size());
    const std::string_view part = text.substr(at, end - at);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), IsDigit)) {
      return false;
    }
    if ((part.size() > 1 && part[0] == '0') || std::stoi(std::string(part)) > 255) return false;
    ++parts;
    at = end + 1;
  }
  return parts == 4;
}

// Eight groups of up to four hex digits, or fewer around one "::"; the last
// two groups may be written as an IPv4 address.
inline bool IsIpv6(std::string_view text) {
  if (text.size() < 2 || text.size() > 45) return false;
  const size_t gap = text.find("::");
  if (gap != std::string_view::npos && text.find("::", gap + 1) != std::string_view::npos) {
    return false;
  }
  int groups = 0;
  size_t at = 0;
  while (at < text.size()) {
    // The "::" itself, met at its first colon or, after a group, at its second.
    if (gap != std::string_view::npos && (at == gap || at == gap + 1)) {
      at = gap + 2;
      continue;
    }
    size_t end = text.find(':', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view group = text.substr(at, end - at);
    if (end == text.size() && group.find('.') != std::string_view::npos) {
      if (!IsIpv4(group)) return false;
      groups += 2;
    } else {
      if (group.empty() || group.size() > 4 ||
          !std::all_of(group.begin(), group.end(), IsHexDigit)) {
        return false;
      }
      ++groups;
    }
    if (end == text.size()) break;
    at = end + 1;
    if (at == text.size()) return false;  // a single trailing colon
  }
  return gap != std::string_view::npos ? groups < 8 : groups == 8;
}

inline bool IsDeviceName(std::string_view text) {
  if (text.size() < 4) return false;
  std::string head(text.substr(0, 3));
  for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return (head == "COM" || head == "LPT" || head == "USB") &&
         std::all_of(text.begin() + 3, text.end(), IsDigit);
}

inline bool IsHostName(std::string_view text) {
  if (text.empty() || text.size() > 253 || IsDeviceName(text)) return false;
  bool all_numeric = true;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t end = std::min(text.find('.', at), text.size());
    const std::string_view label = text.substr(at, end - at);
    // A trailing dot (an absolute name) ends the last label.
    if (label.empty()) return end == text.size() && at == text.size() && at > 0;
    if (label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (char c : label) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
    }
    all_numeric = all_numeric && std::all_of(label.begin(), label.end(), IsDigit);
    at = end + 1;
  }
  // Digits and dots alone are an IPv4 address or nothing.
  return !all_numeric;
}

}  // namespace net_address_detail

// True for "192.168.7.31", "fe80::1", "[::1]", "printer-3.shop.example",
// "localhost". False for anything else: empty text, spaces or control bytes,
// a dotted quad out of range ("300.1.1.1"), labels that begin or end with a
// hyphen or are longer than 63 characters, names over 253 characters, and
// Windows port names ("COM1", "lpt2", "USB001"), which name local ports even in
// lower case and are never looked up on the network.
inline bool IsNetworkAddress(std::string_view name) {
  using namespace net_address_detail;
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    return IsIpv6(name.substr(1, name.size() - 2));
  }
  if (name.find(':') != std::string_view::npos) return IsIpv6(name);
  return IsIpv4(name) || IsHostName(name);
}

}  // namespace qz381::ports
