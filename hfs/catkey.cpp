#include "hfs/catkey.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "IO/bigendian.h"
#include "IO/bytes.h"
#include "IO/names.h"
#include "IO/strlib.h"
#include "hfs/btnode.h"
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

// The fields of the catalog key at k, of avail bytes: parent ID and name as
// stored. False when the stated name does not fit the key or its format, or
// the key its bytes; the name is then cut to what fits.
bool read_catalog_key(bool hfsplus, const uint8_t* k, size_t avail, CatalogRecordView& out) {
  out.parent_id = 0;
  out.name = nullptr;
  out.name_length = 0;
  const size_t field = hfsplus ? 2 : 1;  // the key length field
  const size_t unit = hfsplus ? 2 : 1;   // bytes of a name unit
  const size_t max_name = hfsplus ? HfsPlusCatalogKey::k_max_name : HfsCatalogKey::k_max_name;
  // key length, (HFS: a reserved byte,) parent ID, name length
  ByteReader r(k, std::min<size_t>(avail, hfsplus ? 8 : 7));
  size_t key_length = hfsplus ? r.be16() : r.u8();
  if (!hfsplus) r.skip(1);  // reserved
  out.parent_id = r.be32();
  size_t stated = hfsplus ? r.be16() : r.u8();
  if (!r.ok()) return false;
  out.name = k + r.pos();
  // name bytes the key holds after its parent ID and name length
  size_t room = key_length >= 6 ? (key_length + field - r.pos()) / unit : 0;
  out.name_length = uint32_t(std::min({stated, max_name, room}));
  return key_length >= 6 && stated <= max_name && stated <= room && key_length + field <= avail;
}

// A key of the open volume within its own key length, its name cut to what
// the key holds (keys are ordered even when damaged).
CatalogRecordView raw_key(const uint8_t* k) {
  const bool plus = g_volume.is_hfsplus != 0;
  size_t avail = bt_stated_key_size(plus, k);
  CatalogRecordView v;
  read_catalog_key(plus, k, avail, v);
  return v;
}

void load_units(const uint8_t* be, size_t n, uint16_t* out) {
  for (size_t i = 0; i < n; ++i) out[i] = get_be16(be + 2 * i);
}

}  // namespace

// --- catalog keys and records ------------------------------------------------------
bool decode_catalog_key(bool hfsplus, ByteSpan rec, CatalogRecordView& out) {
  return read_catalog_key(hfsplus, rec.data(), rec.size(), out);
}

bool parse_catalog_record(ByteSpan rec, bool leaf, bool hfsplus, CatalogRecordView& out) {
  out = {};
  if (rec.empty() || !decode_catalog_key(hfsplus, rec, out)) return false;
  NodeFormat f;
  f.hfsplus = hfsplus;
  // leaf data starts after the key (padded to even on HFS); an index record's child right after it
  size_t key = bt_key_size(f, rec);
  if (key == 0) return false;
  out.data = leaf ? bt_record_data(f, rec) : rec.subspan(key);
  if (leaf) {
    if (out.data.size() < 2) return false;
    out.type = hfsplus ? int16_t(get_be16(out.data.data())) : int8_t(out.data[0]);
  } else if (out.data.size() < 4) {
    return false;
  }
  return true;
}

bool parse_catalog_record(const uint8_t* node, int i, uint32_t ns, bool hfsplus, CatalogRecordView& out) {
  out = {};
  if (!node || i < 0) return false;
  NodeFormat f;
  f.node_size = ns;
  f.hfsplus = hfsplus;
  return parse_catalog_record(NodeRef(node, f).record(size_t(i)), node_kind(node) == k_node_leaf, hfsplus, out);
}

uint64_t CatalogFork::blocks(uint32_t block_size) const {
  if (hfsplus) return total_blocks;
  return block_size ? physical_size / block_size : 0;
}

namespace {

CatalogFork hfs_fork(uint32_t logical, uint32_t physical, const HfsExtentRecord& extents) {
  CatalogFork f;
  f.logical_size = logical;
  f.physical_size = physical;
  encode(extents, MutByteSpan(f.first_extents.data(), k_hfs_extent_record_size));
  f.first_start_block = extents[0].start_block;
  return f;
}

CatalogFork hfsplus_fork(const HfsPlusForkData& d) {
  CatalogFork f;
  f.hfsplus = true;
  f.logical_size = d.logical_size;
  f.total_blocks = d.total_blocks;
  encode(d.extents, MutByteSpan(f.first_extents.data(), k_hfsplus_extent_record_size));
  f.first_start_block = d.extents[0].start_block;
  return f;
}

// What each record of either format gives the decoded record.
void take_own(const HfsCatalogFolder& f, CatalogRecord& out) { out.modify_date = f.modify_date; }
void take_own(const HfsPlusCatalogFolder& f, CatalogRecord& out) {
  out.modify_date = f.content_mod_date;
  out.permissions = f.permissions;
}
void take_own(const HfsCatalogFile& f, CatalogRecord& out) {
  out.data_fork = hfs_fork(f.data_logical_size, f.data_physical_size, f.data_extents);
  out.rsrc_fork = hfs_fork(f.rsrc_logical_size, f.rsrc_physical_size, f.rsrc_extents);
  out.modify_date = f.modify_date;
}
void take_own(const HfsPlusCatalogFile& f, CatalogRecord& out) {
  out.data_fork = hfsplus_fork(f.data_fork);
  out.rsrc_fork = hfsplus_fork(f.resource_fork);
  out.modify_date = f.content_mod_date;
  out.permissions = f.permissions;
}
// A folder or file record of either format: the fields both formats have, then its own.
template <typename Item>
void take(const Item& f, CatalogRecord& out) {
  out.flags = f.flags;
  out.create_date = f.create_date;
  if constexpr (requires { f.valence; }) {
    out.id = f.folder_id;
    out.valence = f.valence;
  } else {
    out.id = f.file_id;
    out.user_info = f.user_info;
  }
  take_own(f, out);
}
void take(const HfsCatalogThread& t, CatalogRecord& out) {
  out.thread_parent = t.parent_id;
  out.thread_name_length = t.name_length;
  std::copy(t.name.begin(), t.name.begin() + t.name_length, out.thread_name.begin());
}
void take(const HfsPlusCatalogThread& t, CatalogRecord& out) {
  out.thread_parent = t.parent_id;
  out.thread_name_length = t.name_length;
  for (size_t i = 0; i < t.name_length; ++i) put_be16(out.thread_name.data() + 2 * i, t.name[i]);
}

template <typename Record>
bool decode_as(ByteSpan data, CatalogRecord& out) {
  Record r;
  if (!decode(data, r)) return false;
  take(r, out);
  return true;
}

}  // namespace

bool decode_catalog_record(bool hfsplus, ByteSpan data, CatalogRecord& out) {
  out = {};
  if (data.size() < 2) return false;
  // the record type leads the data: a byte on HFS (then a reserved byte), a u16 on HFS+
  int type = hfsplus ? int16_t(get_be16(data.data())) : int8_t(data[0]);
  if (type < k_rec_folder || type > k_rec_file_thread) return false;
  out.type = type;
  bool ok;
  if (type == k_rec_folder)
    ok = hfsplus ? decode_as<HfsPlusCatalogFolder>(data, out) : decode_as<HfsCatalogFolder>(data, out);
  else if (type == k_rec_file)
    ok = hfsplus ? decode_as<HfsPlusCatalogFile>(data, out) : decode_as<HfsCatalogFile>(data, out);
  else
    ok = hfsplus ? decode_as<HfsPlusCatalogThread>(data, out) : decode_as<HfsCatalogThread>(data, out);
  if (!ok) out = {};
  return ok;
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
  CatalogRecordView k = raw_key(raw);
  if (k.parent_id != parent) return k.parent_id < parent ? -1 : 1;
  if (g_volume.is_hfsplus) {
    uint16_t units[255];
    load_units(k.name, k.name_length, units);
    return hfsplus_compare_volume_names(units, k.name_length, static_cast<const uint16_t*>(name), name_length);
  }
  int r = hfs_compare_name_bytes(k.name, k.name_length, static_cast<const uint8_t*>(name), name_length);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int compare_catalog_keys(const uint8_t* a, const uint8_t* b) {
  CatalogRecordView kb = raw_key(b);
  if (g_volume.is_hfsplus) {
    uint16_t units[255];
    load_units(kb.name, kb.name_length, units);
    return compare_key_to(a, kb.parent_id, units, kb.name_length);
  }
  return compare_key_to(a, kb.parent_id, kb.name, kb.name_length);
}


int hfsplus_match_name(const char* pattern, const uint16_t* name, size_t nn) {
  HFSUniStr255 p;
  ansi_to_unistr(&p, pattern);
  return hfsplus_match_unicode_name(reinterpret_cast<const uint16_t*>(p.unicode), p.length, name, nn);
}
