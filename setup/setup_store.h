#pragma once
// What every screen of the setup utility reads and writes: the installation
// files named by Installdir, the device keys under the class key, a device's
// description text, its removal, and the port ranges. No toolkit here: the Qt
// program, the command line and (later) the Windows dialogs share it.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/status.h"
#include "setup/model_entry.h"

namespace qz381::setup {

// Device key names are enumerated with a buffer of this many characters, so a
// longer name could be written but never listed again.
inline constexpr size_t kDeviceNameBuffer = 256;

// The interactions a screen needs from whoever shows it: a message box with an
// OK button, and a question with OK and Cancel.
class UserInterface {
 public:
  virtual ~UserInterface() = default;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual bool Confirm(const std::string& text, const std::string& caption) = 0;
};

// Installdir of the product key, read afresh on every call; false when missing.
bool ReadInstallDir(platform::Registry& reg, std::string* dir);
// Installdir + separator + name; a missing Installdir gives the root.
std::string SetupFilePath(platform::Registry& reg);
std::string ModelFilePath(platform::Registry& reg);

// The model names of the setup file, up to the first missing or empty key.
std::vector<std::string> ListModels(platform::Registry& reg);
// True when a model of the setup file is a prefix of `name`. Gaps in the
// numbering are skipped, unlike ListModels.
bool IsKnownModel(platform::Registry& reg, const std::string& name);
// The window caption; empty when the setup file has none.
std::string VersionDescription(platform::Registry& reg);

// The device keys in enumeration order, ending before the first name that
// begins with "[" (and everything after it).
std::vector<std::string> ListDevices(platform::Registry& reg);
// The description box text for `name`, each line ending in CR LF. An empty
// name reads the class key itself, as before any device was chosen.
std::string DescribeDevice(platform::Registry& reg, const std::string& name);

// A device name the registry can hold and the device list can show again:
// not empty, no backslash, shorter than the enumeration buffer. An empty
// string when fine, else the reason.
std::string CheckDeviceName(const std::string& name);

// Deletes the device's logical-device-name alias (when it has one) and its
// key. Failures are reported to the caller; the dialogs ignore them.
platform::Status RemoveDevice(platform::Registry& reg, const std::string& name);

// The serial and parallel port counts of the port range dialog.
struct PortRanges {
  int32_t com = 4;
  int32_t lpt = 2;
};
inline constexpr int32_t kMaxComRange = 50;
inline constexpr int32_t kMaxLptRange = 10;
inline constexpr PortRanges kDefaultPortRanges{4, 1};

PortRanges ReadPortRanges(platform::Registry& reg);
// Checks the two boxes' texts as unsigned whole numbers in range. On refusal
// answers the message naming the allowed range and sets `bad_field` to 0
// (serial) or 1 (parallel); on success fills `out` and answers "".
std::string ParsePortRanges(const std::string& com, const std::string& lpt, PortRanges* out,
                            int* bad_field);
// Writes COMRange, then LPTRange, as decimal text.
platform::Status WritePortRanges(platform::Registry& reg, const PortRanges& ranges);

// Strict unsigned decimal: digits only, no sign, no blanks, at most `max`.
bool ParseWholeNumber(const std::string& text, uint32_t max, uint32_t* out);

}  // namespace qz381::setup
