#pragma once
// Command-line arguments of one qz381 command: options the command declares
// (with or without a value), and the rest in order. Anything else starting
// with "--" is an error, so a misspelt option never becomes a file name.
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qz381::tool {

struct OptionSpec {
  const char* name;  // "--width"
  bool takes_value;
  int repeat = 1;  // values taken (a barcode takes its symbology and its data)
};

class Args {
 public:
  // Parses argv[first..argc). False with `error` set on an unknown option or
  // a missing value. "-" alone is a positional argument (standard input).
  bool Parse(int argc, char** argv, int first, const std::vector<OptionSpec>& specs,
             std::string* error);

  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  // The option's first (or `index`th) value; nullopt when absent.
  std::optional<std::string> Value(const std::string& name, size_t index = 0) const;
  // A whole number; false with `error` set when present but not one.
  bool Number(const std::string& name, int* value, std::string* error) const;
  const std::vector<std::string>& Positional() const { return positional_; }

 private:
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::string> positional_;
};

}  // namespace qz381::tool

namespace qz381::tool {

// FILE, or standard input for "-" or an empty name, read piece by piece.
class InputFile {
 public:
  // False with `error` saying which file cannot be read and why.
  bool Open(const std::string& name, std::string* error);
  // Up to `size` bytes into `buffer`; `got` is 0 at the end. False with `error`
  // set when reading fails or the file ends short of the size it had when it
  // was opened (it changed meanwhile).
  bool Read(char* buffer, size_t size, size_t* got, std::string* error);
  // The file's size when it was opened; 0 for standard input.
  uint64_t size() const { return size_; }

 private:
  std::string name_;
  std::ifstream file_;
  bool standard_input_ = false;
  uint64_t size_ = 0;
  uint64_t read_ = 0;
};

// The whole of FILE, or of standard input for "-" or an empty name. False with
// `error` saying which file could not be read and why.
bool ReadInput(const std::string& name, std::string* data, std::string* error);

}  // namespace qz381::tool
