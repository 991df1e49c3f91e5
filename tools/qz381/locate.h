#pragma once
// Where the modules and installation files of this qz381 are. An installed
// program finds them beside itself: <prefix>/lib/qz381 and
// <prefix>/share/qz381/install. A program run from the build tree finds a list
// of the built modules beside itself (qz381-build-tree.txt, written by the
// build and never installed), so nothing installed points into a build tree.
#include <string>
#include <vector>

namespace qz381::tool {

struct Installation {
  std::vector<std::string> modules;  // module files to copy into an installation
  std::string files_dir;             // setup.inf, posprn.inf, the capability profiles
  bool build_tree = false;
};

// Reads the build tree's list when `program_dir` holds one, else takes the
// installed layout around it. False with `error` saying what is missing and
// how to make it; without `need_modules` only the installation files count.
bool FindInstallation(const std::string& program_dir, Installation* out, std::string* error,
                      bool need_modules = true);

// The build tree's list: "module=PATH" and "files=DIR" lines.
bool ParseBuildTreeList(const std::string& text, Installation* out);

// The model's capability profile among the installation files.
std::string ShippedProfile(const Installation& installation);

}  // namespace qz381::tool
