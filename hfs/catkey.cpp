#include "hfs/catkey.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "IO/bigendian.h"
#include "IO/names.h"
#include "IO/strlib.h"
#include "hfs/btree.h"
#include "hfs/volume.h"

namespace {

// Weight of each Mac Roman byte in the order of HFS catalog names: the order
// other HFS readers search with, so a name is found only where it puts it.
// Bytes of equal weight are one character to the catalog: a-z with A-Z, the
// small and capital accented letters of rows 0x80-0x9F and their capitals
// further up (80/8A, 81/8C, 82/8D, 83/8E, 84/96, 85/9A, 86/9F, 88/CB, 8B/CC,
// 9B/CD, AE/BE, AF/BF, CE/CF), and the no-break space CA with the blank.
// Accented letters sort right after their base letter, the typographic quotes
// after the plain ones; every other byte (the capitals E5-F4 among them) sorts
// by its value among the symbols. ':' is never in a name and keeps its place
// between '9' and ';'. Only NUL weighs 0: no byte is ignored.
constexpr std::array<uint16_t, 256> k_weights = {
      0,   2,   4,   6,   8,  10,  12,  14,  16,  18,  20,  22,  24,  26,  28,  30,  // 0x00
     32,  34,  36,  38,  40,  42,  44,  46,  48,  50,  52,  54,  56,  58,  60,  62,  // 0x10
     64,  66,  68,  78,  80,  82,  84,  86,  92,  94,  96,  98, 100, 102, 104, 106,  // 0x20
    108, 110, 112, 114, 116, 118, 120, 122, 124, 126, 127, 128, 130, 132, 134, 136,  // 0x30
    138, 140, 160, 162, 166, 168, 178, 180, 182, 184, 194, 196, 198, 200, 202, 206,  // 0x40
    224, 226, 228, 230, 234, 236, 246, 248, 250, 252, 256, 258, 260, 262, 264, 266,  // 0x50
    152, 140, 160, 162, 166, 168, 178, 180, 182, 184, 194, 196, 198, 200, 202, 206,  // 0x60
    224, 226, 228, 230, 234, 236, 246, 248, 250, 252, 256, 268, 270, 272, 274, 276,  // 0x70
    144, 148, 164, 170, 204, 208, 238, 154, 142, 156, 144, 146, 148, 164, 170, 172,  // 0x80
    174, 176, 186, 188, 190, 192, 204, 216, 218, 220, 208, 210, 240, 242, 244, 238,  // 0x90
    278, 280, 282, 284, 286, 288, 290, 232, 292, 294, 296, 298, 300, 302, 150, 212,  // 0xA0
    304, 306, 308, 310, 312, 314, 316, 318, 320, 322, 324, 158, 222, 326, 150, 212,  // 0xB0
    328, 330, 332, 334, 336, 338, 340,  74,  76, 342,  64, 142, 146, 210, 214, 214,  // 0xC0
    344, 346,  70,  72,  88,  90, 348, 350, 254, 352, 354, 356, 358, 360, 362, 364,  // 0xD0
    366, 368, 370, 372, 374, 376, 378, 380, 382, 384, 386, 388, 390, 392, 394, 396,  // 0xE0
    398, 400, 402, 404, 406, 408, 410, 412, 414, 416, 418, 420, 422, 424, 426, 428,  // 0xF0
};

struct FoldPage {
  uint8_t high;
  std::array<uint16_t, 256> units;
};
const FoldPage k_fold_pages[] = {
#include "hfs/casefold.inc"
};

const std::array<uint16_t, 256>* fold_page(uint8_t high) {
  static const std::array<const std::array<uint16_t, 256>*, 256> index = [] {
    std::array<const std::array<uint16_t, 256>*, 256> a{};
    for (const FoldPage& p : k_fold_pages) a[p.high] = &p.units;
    return a;
  }();
  return index[high];
}

// Name bytes with trailing blanks and 0xA0 left out (user searches only).
size_t trimmed_length(const uint8_t* name, size_t n) {
  while (n > 0 && (name[n - 1] == ' ' || name[n - 1] == 0xA0)) --n;
  return n;
}

// Search weights: the catalog's, with every Mac Roman capital folded to its
// small letter (the catalog keeps some capitals apart from their small forms).
uint16_t search_weight(uint8_t c) { return k_weights[macroman_lower_char(c)]; }

bool hfs_contains(const uint8_t* hay, size_t nh, const uint8_t* needle, size_t nn) {
  if (nn == 0 || nn > nh) return false;
  for (size_t i = 0; i + nn <= nh; ++i) {
    size_t k = 0;
    while (k < nn && search_weight(hay[i + k]) == search_weight(needle[k])) ++k;
    if (k == nn) return true;
  }
  return false;
}

bool unit_contains(const uint16_t* hay, size_t nh, const uint16_t* needle, size_t nn) {
  if (nn == 0 || nn > nh) return false;
  for (size_t i = 0; i + nn <= nh; ++i) {
    size_t k = 0;
    while (k < nn && hfsplus_fold_unit(hay[i + k]) == hfsplus_fold_unit(needle[k])) ++k;
    if (k == nn) return true;
  }
  return false;
}

struct RawKey {
  uint32_t parent = 0;
  const uint8_t* name = nullptr;
  size_t length = 0;  // bytes (HFS) or units (HFS+)
};

RawKey parse_raw_key(const uint8_t* k) {
  RawKey r;
  if (g_volume.is_hfsplus) {
    uint16_t keylen = get_be16(k);
    r.parent = get_be32(k + 2);
    size_t n = keylen >= 6 ? get_be16(k + 6) : 0;
    n = std::min<size_t>({n, size_t(255), keylen >= 6 ? size_t(keylen - 6) / 2 : size_t(0)});
    r.name = k + 8;
    r.length = n;
  } else {
    uint8_t keylen = k[0];
    r.parent = get_be32(k + 2);
    size_t n = keylen >= 6 ? k[6] : 0;
    n = std::min<size_t>({n, size_t(31), keylen >= 6 ? size_t(keylen - 6) : size_t(0)});
    r.name = k + 7;
    r.length = n;
  }
  return r;
}

void load_units(const uint8_t* be, size_t n, uint16_t* out) {
  for (size_t i = 0; i < n; ++i) out[i] = get_be16(be + 2 * i);
}

}  // namespace

// --- accessors ------------------------------------------------------------------------
int8_t hfs_record_type(const uint8_t* rec) { return int8_t(*hfs_record_data(rec)); }
const uint8_t* hfs_record_data(const uint8_t* rec) { return rec + ((size_t(rec[0]) + 2) & ~size_t(1)); }
uint8_t* hfs_record_data(uint8_t* rec) { return rec + ((size_t(rec[0]) + 2) & ~size_t(1)); }
int16_t hfsplus_record_type(const uint8_t* rec) { return int16_t(get_be16(hfsplus_record_data(rec))); }
const uint8_t* hfsplus_record_data(const uint8_t* rec) { return rec + hfsplus_index_key_size(rec); }
uint8_t* hfsplus_record_data(uint8_t* rec) { return rec + hfsplus_index_key_size(rec); }
uint32_t hfsplus_index_key_size(const uint8_t* rec) { return 8 + 2 * uint32_t(get_be16(rec + 6)); }
uint32_t hfsplus_index_child(const uint8_t* rec) { return stored_node(rec + hfsplus_index_key_size(rec)); }
uint32_t hfsplus_set_index_child(uint8_t* rec, uint32_t child) {
  uint32_t k = hfsplus_index_key_size(rec);
  put_be32(rec + k, child);
  return k;
}
void hfsplus_copy_catalog_key(uint8_t* dest, const uint8_t* src) {
  std::memmove(dest, src, hfsplus_index_key_size(src));
}
uint32_t hfs_index_child(const uint8_t* rec) { return stored_node(rec + 38); }

bool parse_catalog_record(const uint8_t* node, int i, uint32_t ns, bool hfsplus, CatalogRecordView& out) {
  out = {};
  const uint8_t* rec = btree_record_ptr(node, i, ns);
  uint32_t size = btree_record_size(node, i, ns);
  if (!rec || size == 0 || i >= node_record_count(node)) return false;
  bool leaf = node_kind(node) == k_node_leaf;
  uint32_t data_off;
  if (hfsplus) {
    if (size < 8) return false;
    uint32_t keylen = get_be16(rec);
    uint32_t n = get_be16(rec + 6);
    if (n > 255 || 8 + 2 * n > keylen + 2 || keylen + 2 > size) return false;
    out.parent_id = get_be32(rec + 2);
    out.name = rec + 8;
    out.name_length = n;
    data_off = 8 + 2 * n;
  } else {
    if (size < 7) return false;
    uint32_t keylen = rec[0];
    uint32_t n = rec[6];
    if (keylen < 6 || n > 31 || n + 6 > keylen || keylen + 1 > size) return false;
    out.parent_id = get_be32(rec + 2);
    out.name = rec + 7;
    out.name_length = n;
    data_off = leaf ? ((keylen + 2) & ~1u) : keylen + 1;
  }
  if (data_off > size) return false;
  out.data = std::span<const uint8_t>(rec + data_off, size - data_off);
  if (leaf) {
    if (out.data.size() < 2) return false;
    out.type = hfsplus ? int16_t(get_be16(out.data.data())) : int8_t(out.data[0]);
  } else if (out.data.size() < 4) {
    return false;
  }
  return true;
}

// --- HFS order --------------------------------------------------------------------------
uint16_t hfs_char_weight(uint8_t c) { return k_weights[c]; }

int hfs_compare_name_bytes(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
  size_t n = std::min(na, nb);
  for (size_t i = 0; i < n; ++i) {
    int d = int(k_weights[a[i]]) - int(k_weights[b[i]]);
    if (d) return d;
  }
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

int hfs_compare_names(const char* a, const char* b) {
  return hfs_compare_name_bytes(reinterpret_cast<const uint8_t*>(a), std::strlen(a),
                                reinterpret_cast<const uint8_t*>(b), std::strlen(b));
}

int hfs_compare_names_n(const char* a, const char* b, size_t n) {
  size_t na = strnlen(a, n), nb = strnlen(b, n);
  return hfs_compare_name_bytes(reinterpret_cast<const uint8_t*>(a), na, reinterpret_cast<const uint8_t*>(b), nb);
}

int hfs_match_name(const char* pattern, const uint8_t* name, size_t name_length) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(pattern);
  size_t np = std::strlen(pattern);
  size_t nn = trimmed_length(name, std::min<size_t>(name_length, 255));
  if (np == 1 && p[0] == '*') return 0;
  const uint8_t* star = static_cast<const uint8_t*>(std::memchr(p, '*', np));
  if (!star || std::memchr(name, '*', nn)) return hfs_compare_name_bytes(p, np, name, nn);
  size_t before = size_t(star - p);
  size_t after = np - before - 1;
  if (before && hfs_contains(name, nn, p, before)) return 0;
  if (after && hfs_contains(name, nn, star + 1, after)) return 0;
  int r = hfs_compare_name_bytes(p, np, name, std::min(nn, np));
  return r ? r : 1;
}

// --- HFS+ order --------------------------------------------------------------------------
uint16_t hfsplus_fold_unit(uint16_t u) {
  const std::array<uint16_t, 256>* page = fold_page(uint8_t(u >> 8));
  return page ? (*page)[u & 0xFF] : u;
}

int hfsplus_compare_names(const uint16_t* a, size_t na, const uint16_t* b, size_t nb) {
  // The units may stand at any address inside a node: read them bytewise.
  auto unit = [](const uint16_t*& p) {
    uint16_t v;
    std::memcpy(&v, p++, sizeof v);
    return v;
  };
  for (;;) {
    uint16_t c1 = 0, c2 = 0;
    while (na && c1 == 0) { c1 = hfsplus_fold_unit(unit(a)); --na; }
    while (nb && c2 == 0) { c2 = hfsplus_fold_unit(unit(b)); --nb; }
    if (c1 != c2) return c1 < c2 ? -1 : 1;
    if (c1 == 0) return 0;
  }
}

int hfsplus_compare_names_binary(const uint16_t* a, size_t na, const uint16_t* b, size_t nb) {
  size_t n = std::min(na, nb);
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

int hfsplus_compare_volume_names(const uint16_t* a, size_t na, const uint16_t* b, size_t nb) {
  return g_volume.catalog_binary_compare ? hfsplus_compare_names_binary(a, na, b, nb)
                                         : hfsplus_compare_names(a, na, b, nb);
}

int hfsplus_match_unicode_name(const uint16_t* p, size_t np, const uint16_t* name, size_t nn) {
  if (np == 1 && p[0] == '*') return 0;
  const uint16_t* star = std::find(p, p + np, uint16_t('*'));
  bool has_star = star != p + np;
  if (!has_star || std::find(name, name + nn, uint16_t('*')) != name + nn)
    return hfsplus_compare_volume_names(p, np, name, nn);
  size_t before = size_t(star - p);
  size_t after = np - before - 1;
  if (before && unit_contains(name, nn, p, before)) return 0;
  if (after && unit_contains(name, nn, star + 1, after)) return 0;
  int r = hfsplus_compare_volume_names(p, np, name, nn);
  return r ? r : 1;
}

// --- keys ----------------------------------------------------------------------------------
int compare_key_to(const uint8_t* raw, uint32_t parent, const void* name, size_t name_length) {
  RawKey k = parse_raw_key(raw);
  if (k.parent != parent) return k.parent < parent ? -1 : 1;
  if (g_volume.is_hfsplus) {
    uint16_t units[255];
    load_units(k.name, k.length, units);
    return hfsplus_compare_volume_names(units, k.length, static_cast<const uint16_t*>(name), name_length);
  }
  int r = hfs_compare_name_bytes(k.name, k.length, static_cast<const uint8_t*>(name), name_length);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int compare_catalog_keys(const uint8_t* a, const uint8_t* b) {
  RawKey kb = parse_raw_key(b);
  if (g_volume.is_hfsplus) {
    uint16_t units[255];
    load_units(kb.name, kb.length, units);
    return compare_key_to(a, kb.parent, units, kb.length);
  }
  return compare_key_to(a, kb.parent, kb.name, kb.length);
}


int hfsplus_match_name(const char* pattern, const uint16_t* name, size_t nn) {
  HFSUniStr255 p;
  ansi_to_unistr(&p, pattern);
  return hfsplus_match_unicode_name(reinterpret_cast<const uint16_t*>(p.unicode), p.length, name, nn);
}
