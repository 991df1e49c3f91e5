#include "tools/qz381/args.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace qz381::tool {

bool Args::Parse(int argc, char** argv, int first, const std::vector<OptionSpec>& specs,
                 std::string* error) {
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() < 2 || arg[0] != '-' || arg == "--") {
      positional_.push_back(arg);
      continue;
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs)
      if (arg == s.name) spec = &s;
    if (!spec) {
      *error = "unknown option " + arg;
      return false;
    }
    std::vector<std::string>& values = values_[arg];
    if (!spec->takes_value) continue;
    if (i + spec->repeat >= argc) {
      *error = arg + " needs " +
               (spec->repeat > 1 ? std::to_string(spec->repeat) + " values" : "a value");
      return false;
    }
    values.clear();
    for (int k = 0; k < spec->repeat; ++k) values.push_back(argv[++i]);
  }
  return true;
}

std::optional<std::string> Args::Value(const std::string& name, size_t index) const {
  auto it = values_.find(name);
  if (it == values_.end() || index >= it->second.size()) return std::nullopt;
  return it->second[index];
}

bool Args::Number(const std::string& name, int* value, std::string* error) const {
  std::optional<std::string> text = Value(name);
  if (!text) return true;
  const char* end = text->data() + text->size();
  auto [ptr, ec] = std::from_chars(text->data(), end, *value);
  if (ec != std::errc() || ptr != end) {
    *error = name + " wants a whole number, not '" + *text + "'";
    return false;
  }
  return true;
}

}  // namespace qz381::tool

namespace qz381::tool {

bool ReadInput(const std::string& name, std::string* data, std::string* error) {
  data->clear();
  if (name.empty() || name == "-") {
    std::cin.clear();
    char buffer[1 << 16];
    while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0)
      data->append(buffer, static_cast<size_t>(std::cin.gcount()));
    if (std::cin.bad()) {
      *error = "cannot read standard input";
      return false;
    }
    return true;
  }
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) {
    *error = "cannot read " + name + ": it is a folder";
    return false;
  }
  // Read in one piece into a string of the file's size: large inputs are
  // neither copied as they grow nor read in small steps.
  std::ifstream file(name, std::ios::binary);
  const auto size = std::filesystem::file_size(name, ec);
  if (!file || ec) {
    *error = "cannot read " + name + ": " + (ec ? ec.message() : "cannot open it");
    return false;
  }
  data->resize(static_cast<size_t>(size));
  file.read(data->data(), static_cast<std::streamsize>(size));
  if (static_cast<size_t>(file.gcount()) != size) {
    *error = "cannot read " + name + ": it changed while being read";
    return false;
  }
  // Whatever grew after the size was taken (a file still being written).
  char buffer[1 << 16];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0)
    data->append(buffer, static_cast<size_t>(file.gcount()));
  return true;
}

}  // namespace qz381::tool
