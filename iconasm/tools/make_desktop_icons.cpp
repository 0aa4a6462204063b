// Writes the programs' and the document kinds' icons as an icon theme's
// folders: make_desktop_icons OUT makes OUT/hicolor/<n>x<n>/<context>/<name>.png
// at every usual size, through the icon program's own PNG writer.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "iconasm/core/desktop_icons.h"
#include "iconasm/core/pictures.h"

namespace {

bool make_folders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i != path.size() && path[i] != '/') continue;
    if (mkdir(path.substr(0, i).c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string tmp = path + ".new";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_desktop_icons OUTPUT_FOLDER\n");
    return 2;
  }
  for (int size : desktop_icon_sizes())
    for (const DesktopIconName& n : desktop_icon_names()) {
      std::string folder = std::string(argv[1]) + "/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                           "/" + n.context;
      std::string path = folder + "/" + n.name + ".png";
      if (!make_folders(folder) || !write_file(path, encode_png(draw_desktop_icon(n.icon, size)))) {
        std::fprintf(stderr, "make_desktop_icons: cannot write %s\n", path.c_str());
        return 1;
      }
    }
  return 0;
}
