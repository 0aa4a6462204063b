// The room a PC file takes on a volume, measured from whatever its header
// says; the list of mounted volumes and the browser's placement text read from
// any text; typed names cut to what a volume stores.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "IO/charsets.h"
#include "IO/names.h"
#include "gui/browser/pc_browser.h"
#include "gui/volume/volume_properties.h"
#include "macfiles/importsize.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    const char* t = std::getenv("TMPDIR");
    std::string p = std::string(t && *t ? t : "/tmp") + "/fuzz_import_size.XXXXXX";
    int fd = mkstemp(p.data());
    if (fd >= 0) ::close(fd);
    return p;
  }();
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
  if (fd < 0) return 0;
  if (size && ::write(fd, data, size) != ssize_t(size)) std::abort();
  ::close(fd);
  for (uint32_t block : {512u, 4096u}) {
    uint64_t room = import_allocation(path, block);
    if (room % block != 0) std::abort();
  }
  std::string text(reinterpret_cast<const char*>(data), size);
  for (const PcBrowserEntry& e : pc_browser_roots(text))
    if (e.path.empty()) std::abort();
  int l, t, w, h;
  if (parse_vlv_layout(text, l, t, w, h) && (l < 1 || l > 2000 || t < 1 || t > 2000 || w < 0 || w > 2000 || h < 0 || h > 2000))
    std::abort();
  if (utf8_to_macroman(volume_name_to_store(text, false)).size() > 27) std::abort();
  if (utf8_to_macroman(item_name_to_store(text, false)).size() > 31) std::abort();
  if (utf8_to_unistr(item_name_to_store(text, true)).length > 255) std::abort();
  return 0;
}
