#include "tools/qz381/render_cmd.h"

#include <cstdio>
#include <filesystem>
#include <ostream>

#include "tools/sim/render/render.h"

namespace qz381::tool {

bool RenderReceipts(std::string_view bytes, const std::string& out_dir, bool two_colour,
                    std::ostream& err, RenderResult* result, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(out_dir, ec);
  if (!fs::is_directory(out_dir, ec)) {
    *error = "cannot make the folder " + out_dir;
    return false;
  }
  *result = RenderResult{};
  bool ok = true;
  auto write = [&](const sim::render::Image& page) {
    if (!ok) return;
    char name[32];
    std::snprintf(name, sizeof name, "receipt-%03zu.png", result->files.size() + 1);
    const std::string path = (fs::path(out_dir) / name).string();
    if (!sim::render::WritePng(page, path, error)) {
      ok = false;
      return;
    }
    result->files.push_back(path);
  };
  sim::render::RenderOptions options;
  options.two_colour = two_colour;
  options.on_page = [&](sim::render::Image page) { write(page); };
  options.on_error = [&](const std::string& what) {
    ++result->not_drawn;
    err << "qz381 render: " << what << "\n";
  };
  sim::render::Renderer renderer(std::move(options));
  renderer.Feed(bytes);
  renderer.FinishStream();
  if (!renderer.Empty()) write(renderer.Snapshot());
  return ok;
}

}  // namespace qz381::tool
