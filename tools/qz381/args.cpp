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

bool InputFile::Open(const std::string& name, std::string* error) {
  name_ = name;
  if (name.empty() || name == "-") {
    standard_input_ = true;
    std::cin.clear();
    return true;
  }
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) {
    *error = "cannot read " + name + ": it is a folder";
    return false;
  }
  file_.open(name, std::ios::binary);
  size_ = std::filesystem::file_size(name, ec);
  if (!file_ || ec) {
    *error = "cannot read " + name + ": " + (ec ? ec.message() : "cannot open it");
    return false;
  }
  return true;
}

bool InputFile::Read(char* buffer, size_t size, size_t* got, std::string* error) {
  std::istream& in = standard_input_ ? std::cin : static_cast<std::istream&>(file_);
  in.read(buffer, static_cast<std::streamsize>(size));
  *got = static_cast<size_t>(in.gcount());
  read_ += *got;
  if (*got > 0 || size == 0) return true;
  if (in.bad()) {
    *error = standard_input_ ? "cannot read standard input" : "cannot read " + name_;
    return false;
  }
  // What grew after the size was taken (a file still being written) is read
  // too; less than that size means the file was cut or replaced.
  if (read_ < size_) {
    *error = "cannot read " + name_ + ": it changed while being read";
    return false;
  }
  return true;
}

bool ReadInput(const std::string& name, std::string* data, std::string* error) {
  data->clear();
  InputFile input;
  if (!input.Open(name, error)) return false;
  // Read in one piece into a string of the file's size: a large input is
  // neither copied as it grows nor read in small steps.
  data->resize(static_cast<size_t>(input.size()));
  size_t filled = 0, got = 0;
  while (filled < data->size()) {
    if (!input.Read(data->data() + filled, data->size() - filled, &got, error)) return false;
    if (got == 0) break;
    filled += got;
  }
  data->resize(filled);
  // Standard input, or whatever grew after the size was taken.
  char buffer[1 << 16];
  do {
    if (!input.Read(buffer, sizeof buffer, &got, error)) return false;
    data->append(buffer, got);
  } while (got > 0);
  return true;
}

}  // namespace qz381::tool
