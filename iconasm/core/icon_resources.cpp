#include "iconasm/core/icon_resources.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "IO/bigendian.h"
#include "hfs/macdate.h"
#include "iconasm/core/icns.h"
#include "iconasm/core/icon_texts.h"

namespace {

// One classic icon resource (element data without its header) into the slots.
void read_icon_resource(IconFamily& f, int index, std::span<const uint8_t> data) {
  const IconElementType& t = icon_element_types()[size_t(index)];
  std::vector<uint8_t> element(8);
  std::memcpy(element.data(), t.type, 4);
  put_be32(element.data() + 4, uint32_t(data.size() + 8));
  element.insert(element.end(), data.begin(), data.end());
  (void)read_icns_elements(f, element, 0, element.size());  // what it meets goes into f.report
}

// An icon resource of the map: its type's index, id, attributes and data.
struct IconResourceRef {
  int index;
  int16_t id;
  uint8_t attributes;
  size_t at;  // data, in the file
  uint32_t length;
};

constexpr uint8_t k_resource_compressed = 0x01;  // the attribute of a System 7 compressed resource
constexpr uint32_t k_compressed_magic = 0xA89F6572;  // what such a resource's data begins with

// The icon resources of a fork, each checked against the fork. false: the map is damaged.
bool list_icon_resources(std::span<const uint8_t> file, size_t start, size_t length,
                         std::vector<IconResourceRef>& out, IconReadReport& report) {
  if (start > file.size() || length > file.size() - start || length < 16) return false;
  std::span<const uint8_t> fork = file.subspan(start, length);
  uint32_t data_off = get_be32(fork.data()), map_off = get_be32(fork.data() + 4),
           data_len = get_be32(fork.data() + 8), map_len = get_be32(fork.data() + 12);
  if (data_off > length || data_len > length - data_off || map_off > length || map_len > length - map_off ||
      map_len < 30)
    return false;
  std::span<const uint8_t> map = fork.subspan(map_off, map_len);
  std::span<const uint8_t> rdata = fork.subspan(data_off, data_len);
  uint16_t type_list = get_be16(map.data() + 24);
  if (size_t(type_list) + 2 > map.size()) return false;
  int types = get_be16(map.data() + type_list) + 1;
  if (types == 0x10000) types = 0;  // 0xFFFF: an empty map
  for (int ti = 0; ti < types; ++ti) {
    size_t entry = size_t(type_list) + 2 + size_t(ti) * 8;
    if (entry + 8 > map.size()) return false;
    const uint8_t* te = map.data() + entry;
    int index = icon_element_index(te);
    if (index < 0 || !icon_element_types()[size_t(index)].in_resources) continue;
    int count = get_be16(te + 4) + 1;
    size_t refs = size_t(type_list) + get_be16(te + 6);
    if (refs > map.size() || size_t(count) * 12 > map.size() - refs) return false;
    for (int k = 0; k < count; ++k) {
      const uint8_t* ref = map.data() + refs + size_t(k) * 12;
      uint32_t off = get_be32(ref + 4) & 0xFFFFFF;
      if (off > rdata.size() || rdata.size() - off < 4 || get_be32(rdata.data() + off) > rdata.size() - off - 4) {
        ++report.damaged;
        continue;
      }
      out.push_back({index, int16_t(get_be16(ref)), ref[4], start + data_off + off + 4, get_be32(rdata.data() + off)});
    }
  }
  return true;
}

}  // namespace

int read_resource_fork_icons(IconFamily& f, std::span<const uint8_t> file, size_t start, size_t length) {
  std::vector<IconResourceRef> refs;
  if (!list_icon_resources(file, start, length, refs, f.report)) {
    f.report.frame_damaged = true;
    return k_icon_damaged;
  }
  if (refs.empty()) return 0;
  // One family: the resources of the lowest id (a fork may hold the icons of
  // an application and of each of its documents, or a whole desktop's).
  std::vector<int16_t> ids;
  for (const IconResourceRef& r : refs) ids.push_back(r.id);
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  f.report.families += int(ids.size());
  f.report.family_id = ids[0];
  for (const IconResourceRef& r : refs) {
    if (r.id != ids[0]) continue;
    std::span<const uint8_t> data = file.subspan(r.at, r.length);
    if ((r.attributes & k_resource_compressed) || (data.size() >= 4 && get_be32(data.data()) == k_compressed_magic)) {
      ++f.report.compressed;
      continue;
    }
    if (r.index == 0)
      (void)read_icns_elements(f, file, r.at, r.length);  // what it meets goes into f.report
    else
      read_icon_resource(f, r.index, data);
  }
  return 0;
}

int read_macbinary_icons(IconFamily& f, std::span<const uint8_t> file, const std::string&) {
  if (file.size() < 128) {
    f.report.frame_damaged = true;
    return k_icon_damaged;
  }
  uint32_t dlen = get_be32(file.data() + 83), rlen = get_be32(file.data() + 87);
  uint64_t rsrc_at = 128 + (uint64_t(dlen) + 127) / 128 * 128;
  if (dlen > file.size() - 128 || (rlen && (rsrc_at > file.size() || rlen > file.size() - rsrc_at))) {
    f.report.frame_damaged = true;
    return k_icon_damaged;
  }
  int rc = 0;
  if (rlen) rc = read_resource_fork_icons(f, file, size_t(rsrc_at), rlen);
  if (dlen) {
    if (dlen >= 8 && std::memcmp(file.data() + 128, "icns", 4) == 0) {
      if (read_icns_elements(f, file, 128, dlen) != 0) rc = k_icon_damaged;
    } else if (!rlen) {
      f.report.no_resources = true;
      return 1;
    }
  }
  return rc;
}

int read_applesingle_icons(IconFamily& f, std::span<const uint8_t> file, const std::string&) {
  if (file.size() < 26) {
    f.report.frame_damaged = true;
    return k_icon_damaged;
  }
  size_t limit = file.size() < 512 ? file.size() : 512;
  int count = get_be16(file.data() + 24);
  bool found = false;
  uint32_t last_len = 0;
  int rc = 0;
  for (int i = 0; i < count && i < 40; ++i) {
    size_t e = 26 + size_t(i) * 12;
    if (e + 12 > limit) break;
    uint32_t id = get_be32(file.data() + e), off = get_be32(file.data() + e + 4),
             len = get_be32(file.data() + e + 8);
    if (id != 2) continue;  // only the resource fork holds a resource map
    found = true;
    last_len = len;
    if (len == 0) continue;
    if (off > file.size() || len > file.size() - off) {
      f.report.frame_damaged = true;
      return k_icon_damaged;
    }
    if (read_resource_fork_icons(f, file, off, len) != 0) rc = k_icon_damaged;
  }
  if (!found || last_len == 0) {
    f.report.no_resources = true;
    return 1;
  }
  return rc;
}

std::vector<uint8_t> build_resource_fork(const std::vector<ForkResource>& res) {
  size_t types = res.size();
  size_t data_len = 0;
  for (const ForkResource& r : res) data_len += 4 + r.data.size();
  uint32_t map_len = uint32_t(30 + 20 * types);
  std::vector<uint8_t> out(256 + data_len + map_len, 0);
  uint8_t* h = out.data();
  put_be32(h, 256);
  put_be32(h + 4, uint32_t(256 + data_len));
  put_be32(h + 8, uint32_t(data_len));
  put_be32(h + 12, map_len);
  size_t pos = 256;
  std::vector<uint32_t> offsets;
  for (const ForkResource& r : res) {
    offsets.push_back(uint32_t(pos - 256));
    put_be32(out.data() + pos, uint32_t(r.data.size()));
    if (!r.data.empty()) std::memcpy(out.data() + pos + 4, r.data.data(), r.data.size());
    pos += 4 + r.data.size();
  }
  uint8_t* m = out.data() + pos;
  std::memcpy(m, h, 16);
  put_be16(m + 24, 28);
  put_be16(m + 26, uint16_t(map_len));
  put_be16(m + 28, uint16_t(types - 1));
  for (size_t k = 0; k < types; ++k) {
    uint8_t* te = m + 30 + k * 8;
    std::memcpy(te, res[k].type, 4);
    put_be16(te + 4, 0);
    put_be16(te + 6, uint16_t(2 + 8 * types + 12 * k));
    uint8_t* ref = m + 28 + 2 + 8 * types + 12 * k;
    put_be16(ref, uint16_t(k_custom_icon_resource_id));
    put_be16(ref + 2, 0xFFFF);
    put_be32(ref + 4, offsets[k] & 0xFFFFFF);  // attributes 0, then the 24-bit offset
  }
  return out;
}

std::vector<uint8_t> build_icn_element(IconFamily& f) {
  Slot& mask = f.slots[k_im32];
  int icon = writer_slot_for_size(f, 32);
  if (icon == k_no_slot && !mask.filled()) {
    icon_message(icon_text(k_txt_no_32_icon));
    return {};
  }
  bool masked = false;
  IconImage pic;
  if (icon != k_no_slot) pic = picture_with_mask(f, icon, &masked);
  std::vector<uint8_t> op;
  if (masked) {
    for (size_t i = 0; i < 1024; ++i) op.push_back(pic.rgba[i * 4 + 3]);
  } else {
    if (!mask.filled()) {
      // No mask anywhere: the mask of the icon, black where it is not white.
      Picture m;
      m.code = k_code_1bit;
      m.image = make_image(32, 32, 0xFFFFFFFF);
      for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
          const uint8_t* p = pic.at(x, y);
          if (!(p[0] == 255 && p[1] == 255 && p[2] == 255) && p[3]) set_pixel(m.image, x, y, 0x000000);
        }
      draw_into_slot(f, k_im32, std::move(m));
    }
    op = mask_opacity(mask);
  }
  uint8_t bits[128] = {};
  bool any = false;
  for (size_t i = 0; i < 1024 && i < op.size(); ++i)
    if (op[i] >= 128) {
      bits[i / 8] |= uint8_t(0x80 >> (i % 8));
      any = true;
    }
  if (!any) std::memset(bits, 0xFF, sizeof bits);
  std::vector<uint8_t> out = {'I', 'C', 'N', '#', 0, 0, 0x01, 0x08};
  out.insert(out.end(), bits, bits + 128);
  out.insert(out.end(), bits, bits + 128);
  return out;
}

std::vector<uint8_t> build_icl8_element(const IconFamily& f) {
  std::vector<uint8_t> out;
  if (f.slots[k_ic32].filled()) write_indexed_element(out, f.slots[k_ic32].picture, 32);
  return out;
}

std::vector<uint8_t> build_custom_icns(IconFamily& f) {
  // Taken before the "ICN#" may draw a mask of its own into im32: that mask,
  // made just now from the icon, says no more than the icon itself.
  IconImage p32 = picture_with_mask(f, k_ic32);
  std::vector<uint8_t> icn = build_icn_element(f);
  if (icn.empty()) return {};
  std::vector<uint8_t> out(8);
  out.insert(out.end(), icn.begin(), icn.end());
  std::vector<uint8_t> icl8 = build_icl8_element(f);
  out.insert(out.end(), icl8.begin(), icl8.end());
  if (f.slots[k_ic32].filled()) write_size_elements(out, p32, 32);
  if (f.slots[k_ic48].filled()) write_size_elements(out, picture_with_mask(f, k_ic48), 48);
  finish_icns(out);
  return out;
}

uint32_t mac_now() { return unix_to_mac_date(int64_t(std::time(nullptr)), true); }

std::vector<uint8_t> build_icon_macbinary(const std::vector<uint8_t>& data, const std::vector<uint8_t>& rsrc,
                                          uint32_t date) {
  std::vector<uint8_t> out(128, 0);
  out[1] = 5;
  std::memcpy(out.data() + 2, "Icon\r", 5);
  std::memcpy(out.data() + 65, "ICNSMACS", 8);
  out[73] = 0x40;
  put_be32(out.data() + 83, uint32_t(data.size()));
  put_be32(out.data() + 87, uint32_t(rsrc.size()));
  put_be32(out.data() + 91, date);
  put_be32(out.data() + 95, date);
  // MacBinary II marks and header CRC: readers that take only II accept it,
  // MacBinary I readers pass over them.
  out[122] = 129;
  out[123] = 129;
  put_be16(out.data() + 124, crc16_bytes(out.data(), 124));
  out.insert(out.end(), data.begin(), data.end());
  out.resize(128 + (data.size() + 127) / 128 * 128, 0);
  out.insert(out.end(), rsrc.begin(), rsrc.end());
  out.resize(out.size() + (128 - rsrc.size() % 128) % 128, 0);
  return out;
}

namespace {
std::vector<uint8_t> fork_icns(const std::vector<uint8_t>& icns) {
  return build_resource_fork({ForkResource{"icns", icns}});
}
}  // namespace

std::vector<uint8_t> build_resource_only_file(const IconFamily& f) {
  return build_icon_macbinary({}, fork_icns(build_icns(f)), mac_now());
}

std::vector<uint8_t> build_both_forks_file(const IconFamily& f) {
  std::vector<uint8_t> icns = build_icns(f);
  return build_icon_macbinary(icns, fork_icns(icns), mac_now());
}

std::vector<uint8_t> build_single_resource_file(const IconImage& picture) {
  std::vector<uint8_t> icns = build_single_icns(picture);
  if (icns.empty()) return {};
  return build_icon_macbinary({}, fork_icns(icns), mac_now());
}

std::vector<uint8_t> build_custom_icon_file(IconFamily& f) {
  std::vector<uint8_t> icns = build_custom_icns(f);
  if (icns.empty()) return {};
  std::vector<uint8_t> icn = build_icn_element(f), icl8 = build_icl8_element(f);
  std::vector<ForkResource> res;
  res.push_back({"icl8", std::vector<uint8_t>(icl8.begin() + (icl8.size() >= 8 ? 8 : 0), icl8.end())});
  res.push_back({"ICN#", std::vector<uint8_t>(icn.begin() + 8, icn.end())});
  res.push_back({"icns", icns});
  return build_icon_macbinary(icns, build_resource_fork(res), mac_now());
}
