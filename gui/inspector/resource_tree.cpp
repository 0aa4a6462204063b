#include "gui/inspector/resource_tree.h"

#include <cstdio>
#include <unistd.h>

#include "IO/charsets.h"
#include "IO/uitext.h"
#include "IO/hexdump.h"
#include "IO/strlib.h"
#include "macfiles/applesingle.h"
#include "macfiles/resfork.h"

namespace {
const char k_forbidden[] = "/\\|:<>*?\"";

std::string pc_safe(const std::string& s) {
  std::string out = replace_forbidden_chars(s, k_forbidden);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32) c = '_';
  return out;
}

std::string type_text(const std::array<uint8_t, 4>& t) {
  return macroman_to_utf8(std::string_view(reinterpret_cast<const char*>(t.data()), 4));
}

int write_whole(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return -1;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) ::unlink(path.c_str());
  return ok ? 0 : -1;
}

std::span<const uint8_t> resource_data(std::span<const uint8_t> fork, const ResourceEntry& e) {
  if (e.offset + 4 > fork.size() || e.length > fork.size() - e.offset - 4) return {};
  return fork.subspan(size_t(e.offset) + 4, e.length);
}
}  // namespace

int load_fork_bytes(const ForkMap& map, const SectorReader& medium, std::vector<uint8_t>& out) {
  out.clear();
  if (map.length > k_max_resource_fork) return -1;
  out.resize(size_t(map.length));
  if (read_fork_bytes(map, medium, 0, map.length, out.data()) != 0) {
    out.clear();
    return k_sector_unreadable;
  }
  return 0;
}

std::string resource_node_text(const ResourceEntry& e) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "id=0x%04x, lg=%u", unsigned(uint16_t(e.id)), e.length);
  return buf;
}

int build_resource_tree(std::span<const uint8_t> fork, const std::string& file_name, ResourceTree& out) {
  out = ResourceTree{};
  out.tree.push_back(ViewTreeNode{file_name, -1, {}});
  std::span<const uint8_t> res = fork;
  if (is_appledouble_header(fork)) {
    AppleSingleHeader h;
    const AppleEntryDescriptor* e = nullptr;
    if (decode_apple_header(fork, fork.size(), h) == 0) e = find_apple_entry(h, k_entry_resource_fork);
    if (!e) {
      out.messages.push_back(ui_text(6535));
      return k_not_this_format;
    }
    out.base = e->offset;
    res = fork.subspan(e->offset, e->length);
  }
  ResourceMap map;
  int rc = decode_resource_fork(res, map);
  if (rc == k_not_this_format) {
    out.messages.push_back(ui_text(6536));
    return rc;
  }
  if (rc != 0) {
    out.messages.push_back(ui_text(6537));
    return k_format_damaged;
  }
  for (const ResourceType& t : map.types) {
    ViewTreeNode tn{type_text(t.type), -1, {}};
    for (const ResourceRef& r : t.refs) {
      ResourceEntry e;
      e.type = t.type;
      e.id = r.id;
      e.has_name = r.has_name;
      e.name = macroman_to_utf8(r.name);
      e.offset = out.base + r.data_offset - 4;
      e.length = r.length;
      tn.children.push_back(ViewTreeNode{resource_node_text(e), -1, {}});
      out.entries.push_back(std::move(e));
    }
    out.tree[0].children.push_back(std::move(tn));
  }
  return 0;
}

std::vector<std::string> resource_dump_lines(std::span<const uint8_t> fork, const ResourceEntry& e) {
  std::vector<std::string> lines;
  if (e.offset > fork.size() || uint64_t(e.length) + 4 > fork.size() - e.offset) return lines;
  uint64_t total = uint64_t(e.length) + 4;
  char line[k_dump_line_capacity];
  for (uint64_t i = 0; i * 16 < total; ++i) {
    uint8_t b[16] = {};
    uint64_t at = i * 16;
    size_t n = size_t(std::min<uint64_t>(16, total - at));
    std::copy_n(fork.data() + e.offset + at, n, b);
    lines.emplace_back(format_dump_line(line, b, e.offset + at));
    if (i % 16 == 15) lines.emplace_back();
  }
  return lines;
}

std::string resource_description(const std::string& file_name, const ResourceEntry& e) {
  return pc_safe(file_name) + "." + pc_safe(type_text(e.type)) + ", " + resource_node_text(e);
}

std::string resource_export_name(const std::string& description, const std::string& ext) {
  size_t cut = description.rfind(", id=");
  return pc_safe(description.substr(0, cut)) + "." + ext;
}

int save_resource_binary(const std::string& path, std::span<const uint8_t> fork, const ResourceEntry& e) {
  std::span<const uint8_t> d = resource_data(fork, e);
  if (d.size() != e.length) return -1;
  return write_whole(path, std::string(d.begin(), d.end()));
}

int save_resource_hex(const std::string& path, const std::string& description, std::span<const uint8_t> fork,
                      const ResourceEntry& e) {
  std::span<const uint8_t> d = resource_data(fork, e);
  if (d.size() != e.length) return -1;
  std::string text = description + "\r\n";
  char hex[64];
  for (size_t at = 0; at < d.size(); at += 16) {
    uint8_t b[16] = {};
    std::copy_n(d.data() + at, std::min<size_t>(16, d.size() - at), b);
    text += format_hex_bytes(hex, b);
    text += "\r\n";
  }
  return write_whole(path, text);
}
