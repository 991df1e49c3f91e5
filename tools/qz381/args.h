#pragma once
// Command-line arguments of one qz381 command: options the command declares
// (with or without a value), and the rest in order. Anything else starting
// with "--" is an error, so a misspelt option never becomes a file name.
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

// The whole of FILE, or of standard input for "-" or an empty name. False with
// `error` saying which file could not be read and why.
bool ReadInput(const std::string& name, std::string* data, std::string* error);

}  // namespace qz381::tool
