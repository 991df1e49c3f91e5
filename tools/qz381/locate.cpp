#include "tools/qz381/locate.h"

#include <filesystem>
#include <sstream>

#include "platform/files.h"

namespace qz381::tool {

namespace fs = std::filesystem;

namespace {
constexpr char kBuildTreeList[] = "qz381-build-tree.txt";
constexpr char kProfileName[] = "QZ381.inf";
}  // namespace

bool ParseBuildTreeList(const std::string& text, Installation* out) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("module=", 0) == 0 && line.size() > 7) out->modules.push_back(line.substr(7));
    if (line.rfind("files=", 0) == 0) out->files_dir = line.substr(6);
  }
  out->build_tree = true;
  return !out->modules.empty() && !out->files_dir.empty();
}

bool FindInstallation(const std::string& program_dir, Installation* out, std::string* error,
                      bool need_modules) {
  *out = Installation{};
  const fs::path here(program_dir);
  std::string list;
  if (platform::ReadWholeFile((here / kBuildTreeList).string(), &list).ok()) {
    if (!ParseBuildTreeList(list, out)) {
      *error = "the build tree's list " + (here / kBuildTreeList).string() +
               " is incomplete; build again (ninja)";
      return false;
    }
    for (const std::string& module : out->modules) {
      if (need_modules && !platform::FileExists(module)) {
        *error = "module " + module + " is not built yet; build the tree first (ninja)";
        return false;
      }
    }
    return true;
  }
  const fs::path prefix = here.parent_path();
  const fs::path module_dir = prefix / "lib" / "qz381";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(module_dir, ec))
    if (entry.is_regular_file()) out->modules.push_back(entry.path().string());
  out->files_dir = (prefix / "share" / "qz381" / "install").string();
  if (!need_modules) {
    if (fs::is_directory(out->files_dir, ec)) return true;
    *error = "no installation files in " + out->files_dir +
             ": run an installed qz381 or the one in a build tree";
    return false;
  }
  if (ec || out->modules.empty()) {
    *error = "no modules in " + module_dir.string() +
             ": run an installed qz381 (cmake --install BUILD --prefix DIR, then DIR/bin/qz381) "
             "or the one in a build tree";
    return false;
  }
  return true;
}

std::string ShippedProfile(const Installation& installation) {
  return (fs::path(installation.files_dir) / kProfileName).string();
}

}  // namespace qz381::tool
