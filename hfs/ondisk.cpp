#include "hfs/ondisk.h"

#include <cstring>

#include "IO/bytes.h"

namespace {

template <size_t N>
void read_array(ByteReader& r, std::array<uint32_t, N>& a) {
  for (auto& v : a) v = r.be32();
}
template <size_t N>
void write_array(ByteWriter& w, const std::array<uint32_t, N>& a) {
  for (auto v : a) w.be32(v);
}

void read_extents(ByteReader& r, HfsExtentRecord& rec) {
  for (auto& e : rec) { e.start_block = r.be16(); e.block_count = r.be16(); }
}
void write_extents(ByteWriter& w, const HfsExtentRecord& rec) {
  for (auto& e : rec) { w.be16(e.start_block); w.be16(e.block_count); }
}
void read_extents(ByteReader& r, HfsPlusExtentRecord& rec) {
  for (auto& e : rec) { e.start_block = r.be32(); e.block_count = r.be32(); }
}
void write_extents(ByteWriter& w, const HfsPlusExtentRecord& rec) {
  for (auto& e : rec) { w.be32(e.start_block); w.be32(e.block_count); }
}
void read_fork(ByteReader& r, HfsPlusForkData& f) {
  f.logical_size = r.be64();
  f.clump_size = r.be32();
  f.total_blocks = r.be32();
  read_extents(r, f.extents);
}
void write_fork(ByteWriter& w, const HfsPlusForkData& f) {
  w.be64(f.logical_size);
  w.be32(f.clump_size);
  w.be32(f.total_blocks);
  write_extents(w, f.extents);
}
void read_finfo(ByteReader& r, FileFinderInfo& f) {
  f.type = r.be32();
  f.creator = r.be32();
  f.flags = r.be16();
  f.location_v = r.sbe16();
  f.location_h = r.sbe16();
  f.folder = r.be16();
}
void write_finfo(ByteWriter& w, const FileFinderInfo& f) {
  w.be32(f.type);
  w.be32(f.creator);
  w.be16(f.flags);
  w.be16(uint16_t(f.location_v));
  w.be16(uint16_t(f.location_h));
  w.be16(f.folder);
}
void read_perms(ByteReader& r, HfsPlusPermissions& p) {
  p.owner_id = r.be32();
  p.group_id = r.be32();
  p.admin_flags = r.u8();
  p.owner_flags = r.u8();
  p.file_mode = r.be16();
  p.special = r.be32();
}
void write_perms(ByteWriter& w, const HfsPlusPermissions& p) {
  w.be32(p.owner_id);
  w.be32(p.group_id);
  w.u8(p.admin_flags);
  w.u8(p.owner_flags);
  w.be16(p.file_mode);
  w.be32(p.special);
}

}  // namespace

std::string fixed_field_text(const char* field, size_t n) {
  size_t k = 0;
  while (k < n && field[k]) ++k;
  return std::string(field, k);
}

// --- driver descriptor ---------------------------------------------------------
bool decode(ByteSpan in, DriverDescriptor& out) {
  out = {};
  if (in.size() < DriverDescriptor::k_size) return false;
  ByteReader r(in);
  out.signature = r.be16();
  out.block_size = r.be16();
  out.block_count = r.be32();
  out.device_type = r.be16();
  out.device_id = r.be16();
  out.data = r.be32();
  out.driver_count = r.be16();
  for (auto& d : out.drivers) { d.block = r.be32(); d.size = r.be16(); d.type = r.be16(); }
  return r.ok();
}
bool encode(const DriverDescriptor& v, MutByteSpan out) {
  if (out.size() < DriverDescriptor::k_size) return false;
  ByteWriter w(out);
  w.be16(v.signature);
  w.be16(v.block_size);
  w.be32(v.block_count);
  w.be16(v.device_type);
  w.be16(v.device_id);
  w.be32(v.data);
  w.be16(v.driver_count);
  for (auto& d : v.drivers) { w.be32(d.block); w.be16(d.size); w.be16(d.type); }
  return w.ok();
}

// --- partition map entry ----------------------------------------------------------
bool decode(ByteSpan in, ApmEntry& out) {
  out = {};
  if (in.size() < ApmEntry::k_size) return false;
  ByteReader r(in);
  out.signature = r.be16();
  out.sig_pad = r.be16();
  out.map_block_count = r.be32();
  out.start_block = r.be32();
  out.block_count = r.be32();
  r.bytes(out.name.data(), 32);
  r.bytes(out.type.data(), 32);
  out.data_start = r.be32();
  out.data_count = r.be32();
  out.status = r.be32();
  out.boot_start = r.be32();
  out.boot_size = r.be32();
  out.boot_address = r.be32();
  out.boot_address2 = r.be32();
  out.boot_entry = r.be32();
  out.boot_entry2 = r.be32();
  out.boot_checksum = r.be32();
  r.bytes(out.processor.data(), 16);
  return r.ok() && r.pos() == ApmEntry::k_size;
}
bool encode(const ApmEntry& v, MutByteSpan out) {
  if (out.size() < ApmEntry::k_size) return false;
  ByteWriter w(out);
  w.be16(v.signature);
  w.be16(v.sig_pad);
  w.be32(v.map_block_count);
  w.be32(v.start_block);
  w.be32(v.block_count);
  w.bytes(v.name.data(), 32);
  w.bytes(v.type.data(), 32);
  w.be32(v.data_start);
  w.be32(v.data_count);
  w.be32(v.status);
  w.be32(v.boot_start);
  w.be32(v.boot_size);
  w.be32(v.boot_address);
  w.be32(v.boot_address2);
  w.be32(v.boot_entry);
  w.be32(v.boot_entry2);
  w.be32(v.boot_checksum);
  w.bytes(v.processor.data(), 16);
  return w.ok();
}

// --- MBR entry --------------------------------------------------------------------
bool decode(ByteSpan in, MbrEntry& out) {
  out = {};
  if (in.size() < MbrEntry::k_size) return false;
  ByteReader r(in);
  out.status = r.u8();
  r.bytes(out.chs_first.data(), 3);
  out.type = r.u8();
  r.bytes(out.chs_last.data(), 3);
  out.first_lba = r.le32();
  out.sector_count = r.le32();
  return r.ok();
}
bool encode(const MbrEntry& v, MutByteSpan out) {
  if (out.size() < MbrEntry::k_size) return false;
  ByteWriter w(out);
  w.u8(v.status);
  w.bytes(v.chs_first.data(), 3);
  w.u8(v.type);
  w.bytes(v.chs_last.data(), 3);
  w.le32(v.first_lba);
  w.le32(v.sector_count);
  return w.ok();
}
bool has_mbr_signature(ByteSpan sector) {
  return sector.size() >= 512 && sector[510] == 0x55 && sector[511] == 0xAA;
}

// --- extents ------------------------------------------------------------------------
bool decode(ByteSpan in, HfsExtentRecord& out) {
  out = {};
  if (in.size() < k_hfs_extent_record_size) return false;
  ByteReader r(in);
  read_extents(r, out);
  return r.ok();
}
bool encode(const HfsExtentRecord& v, MutByteSpan out) {
  if (out.size() < k_hfs_extent_record_size) return false;
  ByteWriter w(out);
  write_extents(w, v);
  return w.ok();
}
bool decode(ByteSpan in, HfsPlusExtentRecord& out) {
  out = {};
  if (in.size() < k_hfsplus_extent_record_size) return false;
  ByteReader r(in);
  read_extents(r, out);
  return r.ok();
}
bool encode(const HfsPlusExtentRecord& v, MutByteSpan out) {
  if (out.size() < k_hfsplus_extent_record_size) return false;
  ByteWriter w(out);
  write_extents(w, v);
  return w.ok();
}
bool decode(ByteSpan in, HfsPlusForkData& out) {
  out = {};
  if (in.size() < HfsPlusForkData::k_size) return false;
  ByteReader r(in);
  read_fork(r, out);
  return r.ok();
}
bool encode(const HfsPlusForkData& v, MutByteSpan out) {
  if (out.size() < HfsPlusForkData::k_size) return false;
  ByteWriter w(out);
  write_fork(w, v);
  return w.ok();
}

// --- master directory block ----------------------------------------------------------
bool decode(ByteSpan in, MasterDirectoryBlock& out) {
  out = {};
  if (in.size() < MasterDirectoryBlock::k_size) return false;
  ByteReader r(in);
  out.signature = r.be16();
  out.create_date = r.be32();
  out.modify_date = r.be32();
  out.attributes = r.be16();
  out.root_files = r.be16();
  out.bitmap_start = r.be16();
  out.alloc_ptr = r.be16();
  out.total_blocks = r.be16();
  out.block_size = r.be32();
  out.clump_size = r.be32();
  out.first_block = r.be16();
  out.next_cnid = r.be32();
  out.free_blocks = r.be16();
  out.name_length = r.u8();
  r.bytes(out.name.data(), 27);
  out.backup_date = r.be32();
  out.sequence = r.be16();
  out.write_count = r.be32();
  out.extents_clump = r.be32();
  out.catalog_clump = r.be32();
  out.root_folders = r.be16();
  out.file_count = r.be32();
  out.folder_count = r.be32();
  read_array(r, out.finder_info);
  out.embed_signature = r.be16();
  out.embed_extent.start_block = r.be16();
  out.embed_extent.block_count = r.be16();
  out.extents_size = r.be32();
  read_extents(r, out.extents_extents);
  out.catalog_size = r.be32();
  read_extents(r, out.catalog_extents);
  return r.ok() && r.pos() == MasterDirectoryBlock::k_size;
}
bool encode(const MasterDirectoryBlock& v, MutByteSpan out) {
  if (out.size() < MasterDirectoryBlock::k_size) return false;
  ByteWriter w(out);
  w.be16(v.signature);
  w.be32(v.create_date);
  w.be32(v.modify_date);
  w.be16(v.attributes);
  w.be16(v.root_files);
  w.be16(v.bitmap_start);
  w.be16(v.alloc_ptr);
  w.be16(v.total_blocks);
  w.be32(v.block_size);
  w.be32(v.clump_size);
  w.be16(v.first_block);
  w.be32(v.next_cnid);
  w.be16(v.free_blocks);
  // drVN holds at most 27 bytes: a longer length would spill into the next fields
  uint8_t n = v.name_length > MasterDirectoryBlock::k_max_name ? MasterDirectoryBlock::k_max_name
                                                                : v.name_length;
  w.u8(n);
  std::array<uint8_t, 27> name{};
  std::memcpy(name.data(), v.name.data(), n);
  w.bytes(name.data(), 27);
  w.be32(v.backup_date);
  w.be16(v.sequence);
  w.be32(v.write_count);
  w.be32(v.extents_clump);
  w.be32(v.catalog_clump);
  w.be16(v.root_folders);
  w.be32(v.file_count);
  w.be32(v.folder_count);
  write_array(w, v.finder_info);
  w.be16(v.embed_signature);
  w.be16(v.embed_extent.start_block);
  w.be16(v.embed_extent.block_count);
  w.be32(v.extents_size);
  write_extents(w, v.extents_extents);
  w.be32(v.catalog_size);
  write_extents(w, v.catalog_extents);
  return w.ok();
}

// --- volume header ---------------------------------------------------------------------
bool decode(ByteSpan in, HfsPlusVolumeHeader& out) {
  out = {};
  if (in.size() < HfsPlusVolumeHeader::k_size) return false;
  ByteReader r(in);
  out.signature = r.be16();
  out.version = r.be16();
  out.attributes = r.be32();
  out.last_mounted_version = r.be32();
  out.journal_info_block = r.be32();
  out.create_date = r.be32();
  out.modify_date = r.be32();
  out.backup_date = r.be32();
  out.checked_date = r.be32();
  out.file_count = r.be32();
  out.folder_count = r.be32();
  out.block_size = r.be32();
  out.total_blocks = r.be32();
  out.free_blocks = r.be32();
  out.next_allocation = r.be32();
  out.rsrc_clump_size = r.be32();
  out.data_clump_size = r.be32();
  out.next_catalog_id = r.be32();
  out.write_count = r.be32();
  out.encodings_bitmap = r.be64();
  read_array(r, out.finder_info);
  read_fork(r, out.allocation_file);
  read_fork(r, out.extents_file);
  read_fork(r, out.catalog_file);
  read_fork(r, out.attributes_file);
  read_fork(r, out.startup_file);
  return r.ok() && r.pos() == HfsPlusVolumeHeader::k_size;
}
bool encode(const HfsPlusVolumeHeader& v, MutByteSpan out) {
  if (out.size() < HfsPlusVolumeHeader::k_size) return false;
  ByteWriter w(out);
  w.be16(v.signature);
  w.be16(v.version);
  w.be32(v.attributes);
  w.be32(v.last_mounted_version);
  w.be32(v.journal_info_block);
  w.be32(v.create_date);
  w.be32(v.modify_date);
  w.be32(v.backup_date);
  w.be32(v.checked_date);
  w.be32(v.file_count);
  w.be32(v.folder_count);
  w.be32(v.block_size);
  w.be32(v.total_blocks);
  w.be32(v.free_blocks);
  w.be32(v.next_allocation);
  w.be32(v.rsrc_clump_size);
  w.be32(v.data_clump_size);
  w.be32(v.next_catalog_id);
  w.be32(v.write_count);
  w.be64(v.encodings_bitmap);
  write_array(w, v.finder_info);
  write_fork(w, v.allocation_file);
  write_fork(w, v.extents_file);
  write_fork(w, v.catalog_file);
  write_fork(w, v.attributes_file);
  write_fork(w, v.startup_file);
  return w.ok();
}

// --- B-tree node descriptor and header ----------------------------------------------------
bool decode(ByteSpan in, BTNodeDescriptor& out) {
  out = {};
  if (in.size() < BTNodeDescriptor::k_size) return false;
  ByteReader r(in);
  out.forward_link = r.be32();
  out.backward_link = r.be32();
  out.kind = int8_t(r.u8());
  out.height = r.u8();
  out.num_records = r.be16();
  out.reserved = r.be16();
  return r.ok();
}
bool encode(const BTNodeDescriptor& v, MutByteSpan out) {
  if (out.size() < BTNodeDescriptor::k_size) return false;
  ByteWriter w(out);
  w.be32(v.forward_link);
  w.be32(v.backward_link);
  w.u8(uint8_t(v.kind));
  w.u8(v.height);
  w.be16(v.num_records);
  w.be16(v.reserved);
  return w.ok();
}
bool decode(ByteSpan in, BTHeaderRec& out) {
  out = {};
  if (in.size() < BTHeaderRec::k_size) return false;
  ByteReader r(in);
  out.tree_depth = r.be16();
  out.root_node = r.be32();
  out.leaf_records = r.be32();
  out.first_leaf_node = r.be32();
  out.last_leaf_node = r.be32();
  out.node_size = r.be16();
  out.max_key_length = r.be16();
  out.total_nodes = r.be32();
  out.free_nodes = r.be32();
  out.reserved1 = r.be16();
  out.clump_size = r.be32();
  out.btree_type = r.u8();
  out.key_compare_type = r.u8();
  out.attributes = r.be32();
  for (uint8_t& b : out.reserved3) b = r.u8();
  return r.ok() && r.pos() == BTHeaderRec::k_size;
}
bool encode(const BTHeaderRec& v, MutByteSpan out) {
  if (out.size() < BTHeaderRec::k_size) return false;
  ByteWriter w(out);
  w.be16(v.tree_depth);
  w.be32(v.root_node);
  w.be32(v.leaf_records);
  w.be32(v.first_leaf_node);
  w.be32(v.last_leaf_node);
  w.be16(v.node_size);
  w.be16(v.max_key_length);
  w.be32(v.total_nodes);
  w.be32(v.free_nodes);
  w.be16(v.reserved1);
  w.be32(v.clump_size);
  w.u8(v.btree_type);
  w.u8(v.key_compare_type);
  w.be32(v.attributes);
  for (uint8_t b : v.reserved3) w.u8(b);
  return w.ok();
}

// --- extents-overflow keys -------------------------------------------------------------
bool decode(ByteSpan in, HfsExtentKey& out) {
  out = {};
  if (in.size() < HfsExtentKey::k_size) return false;
  ByteReader r(in);
  out.key_length = r.u8();
  out.fork_type = r.u8();
  out.file_id = r.be32();
  out.start_block = r.be16();
  return r.ok() && out.key_length >= 7;
}
bool encode(const HfsExtentKey& v, MutByteSpan out) {
  if (out.size() < HfsExtentKey::k_size) return false;
  ByteWriter w(out);
  w.u8(7);
  w.u8(v.fork_type);
  w.be32(v.file_id);
  w.be16(v.start_block);
  return w.ok();
}
bool decode(ByteSpan in, HfsPlusExtentKey& out) {
  out = {};
  if (in.size() < HfsPlusExtentKey::k_size) return false;
  ByteReader r(in);
  out.key_length = r.be16();
  out.fork_type = r.u8();
  out.pad = r.u8();
  out.file_id = r.be32();
  out.start_block = r.be32();
  return r.ok() && out.key_length >= 10;
}
bool encode(const HfsPlusExtentKey& v, MutByteSpan out) {
  if (out.size() < HfsPlusExtentKey::k_size) return false;
  ByteWriter w(out);
  w.be16(10);
  w.u8(v.fork_type);
  w.u8(0);
  w.be32(v.file_id);
  w.be32(v.start_block);
  return w.ok();
}

// --- catalog keys -------------------------------------------------------------------------
bool decode(ByteSpan in, HfsCatalogKey& out) {
  out = {};
  if (in.size() < 7) return false;
  ByteReader r(in);
  out.key_length = r.u8();
  out.reserved = r.u8();
  out.parent_id = r.be32();
  out.name_length = r.u8();
  // the name must lie inside the key and the key inside the span
  if (out.key_length < 6 || out.name_length > HfsCatalogKey::k_max_name ||
      size_t(out.name_length) + 6 > out.key_length || out.size() > in.size()) {
    out = {};
    return false;
  }
  r.bytes(out.name.data(), out.name_length);
  return r.ok();
}
bool encode(const HfsCatalogKey& v, MutByteSpan out) {
  if (v.name_length > HfsCatalogKey::k_max_name || v.key_length < size_t(v.name_length) + 6 ||
      out.size() < v.size())
    return false;
  ByteWriter w(out.first(v.size()));
  w.u8(v.key_length);
  w.u8(v.reserved);
  w.be32(v.parent_id);
  w.u8(v.name_length);
  w.bytes(v.name.data(), v.name_length);
  w.zeros(w.remaining());  // index keys pad the name to 32 bytes
  return w.ok();
}
bool decode(ByteSpan in, HfsPlusCatalogKey& out) {
  out = {};
  if (in.size() < 8) return false;
  ByteReader r(in);
  out.key_length = r.be16();
  out.parent_id = r.be32();
  out.name_length = r.be16();
  if (out.name_length > HfsPlusCatalogKey::k_max_name || out.key_length < 6 ||
      out.size() > size_t(out.key_length) + 2 || out.size() > in.size()) {
    out = {};
    return false;
  }
  for (uint16_t i = 0; i < out.name_length; ++i) out.name[i] = r.be16();
  return r.ok();
}
bool encode(const HfsPlusCatalogKey& v, MutByteSpan out) {
  if (v.name_length > HfsPlusCatalogKey::k_max_name || out.size() < v.size()) return false;
  ByteWriter w(out);
  w.be16(uint16_t(6 + 2 * v.name_length));
  w.be32(v.parent_id);
  w.be16(v.name_length);
  for (uint16_t i = 0; i < v.name_length; ++i) w.be16(v.name[i]);
  return w.ok();
}

// --- catalog records ------------------------------------------------------------------------
bool decode(ByteSpan in, FileFinderInfo& out) {
  out = {};
  if (in.size() < 16) return false;
  ByteReader r(in);
  read_finfo(r, out);
  return r.ok();
}
bool encode(const FileFinderInfo& v, MutByteSpan out) {
  if (out.size() < 16) return false;
  ByteWriter w(out);
  write_finfo(w, v);
  return w.ok();
}

bool decode(ByteSpan in, HfsCatalogFolder& out) {
  out = {};
  if (in.size() < HfsCatalogFolder::k_size || int8_t(in[0]) != k_rec_folder) return false;
  ByteReader r(in);
  r.skip(2);
  out.flags = r.be16();
  out.valence = r.be16();
  out.folder_id = r.be32();
  out.create_date = r.be32();
  out.modify_date = r.be32();
  out.backup_date = r.be32();
  r.bytes(out.user_info.data(), 16);
  r.bytes(out.finder_info.data(), 16);
  read_array(r, out.reserved);
  return r.ok() && r.pos() == HfsCatalogFolder::k_size;
}
bool encode(const HfsCatalogFolder& v, MutByteSpan out) {
  if (out.size() < HfsCatalogFolder::k_size) return false;
  ByteWriter w(out);
  w.u8(k_rec_folder);
  w.u8(0);
  w.be16(v.flags);
  w.be16(v.valence);
  w.be32(v.folder_id);
  w.be32(v.create_date);
  w.be32(v.modify_date);
  w.be32(v.backup_date);
  w.bytes(v.user_info.data(), 16);
  w.bytes(v.finder_info.data(), 16);
  write_array(w, v.reserved);
  return w.ok();
}

bool decode(ByteSpan in, HfsCatalogFile& out) {
  out = {};
  if (in.size() < HfsCatalogFile::k_size || int8_t(in[0]) != k_rec_file) return false;
  ByteReader r(in);
  r.skip(2);
  out.flags = r.u8();
  out.file_type = r.u8();
  read_finfo(r, out.user_info);
  out.file_id = r.be32();
  out.data_start_block = r.be16();
  out.data_logical_size = r.be32();
  out.data_physical_size = r.be32();
  out.rsrc_start_block = r.be16();
  out.rsrc_logical_size = r.be32();
  out.rsrc_physical_size = r.be32();
  out.create_date = r.be32();
  out.modify_date = r.be32();
  out.backup_date = r.be32();
  r.bytes(out.finder_info.data(), 16);
  out.clump_size = r.be16();
  read_extents(r, out.data_extents);
  read_extents(r, out.rsrc_extents);
  out.reserved = r.be32();
  return r.ok() && r.pos() == HfsCatalogFile::k_size;
}
bool encode(const HfsCatalogFile& v, MutByteSpan out) {
  if (out.size() < HfsCatalogFile::k_size) return false;
  ByteWriter w(out);
  w.u8(k_rec_file);
  w.u8(0);
  w.u8(v.flags);
  w.u8(v.file_type);
  write_finfo(w, v.user_info);
  w.be32(v.file_id);
  w.be16(v.data_start_block);
  w.be32(v.data_logical_size);
  w.be32(v.data_physical_size);
  w.be16(v.rsrc_start_block);
  w.be32(v.rsrc_logical_size);
  w.be32(v.rsrc_physical_size);
  w.be32(v.create_date);
  w.be32(v.modify_date);
  w.be32(v.backup_date);
  w.bytes(v.finder_info.data(), 16);
  w.be16(v.clump_size);
  write_extents(w, v.data_extents);
  write_extents(w, v.rsrc_extents);
  w.be32(v.reserved);
  return w.ok();
}

bool decode(ByteSpan in, HfsCatalogThread& out) {
  out = {};
  if (in.size() < HfsCatalogThread::k_size) return false;
  ByteReader r(in);
  out.record_type = int8_t(r.u8());
  if (out.record_type != k_rec_folder_thread && out.record_type != k_rec_file_thread) return false;
  r.skip(1);
  read_array(r, out.reserved);
  out.parent_id = r.be32();
  out.name_length = r.u8();
  if (out.name_length > 31) { out = {}; return false; }
  r.bytes(out.name.data(), 31);
  return r.ok() && r.pos() == HfsCatalogThread::k_size;
}
bool encode(const HfsCatalogThread& v, MutByteSpan out) {
  if (out.size() < HfsCatalogThread::k_size || v.name_length > 31) return false;
  ByteWriter w(out);
  w.u8(uint8_t(v.record_type));
  w.u8(0);
  write_array(w, v.reserved);
  w.be32(v.parent_id);
  w.u8(v.name_length);
  std::array<uint8_t, 31> name{};
  std::memcpy(name.data(), v.name.data(), v.name_length);
  w.bytes(name.data(), 31);
  return w.ok();
}

bool decode(ByteSpan in, HfsPlusCatalogFolder& out) {
  out = {};
  if (in.size() < HfsPlusCatalogFolder::k_size || get_be16(in.data()) != k_rec_folder) return false;
  ByteReader r(in);
  r.skip(2);
  out.flags = r.be16();
  out.valence = r.be32();
  out.folder_id = r.be32();
  out.create_date = r.be32();
  out.content_mod_date = r.be32();
  out.attribute_mod_date = r.be32();
  out.access_date = r.be32();
  out.backup_date = r.be32();
  read_perms(r, out.permissions);
  r.bytes(out.user_info.data(), 16);
  r.bytes(out.finder_info.data(), 16);
  out.text_encoding = r.be32();
  out.reserved = r.be32();
  return r.ok() && r.pos() == HfsPlusCatalogFolder::k_size;
}
bool encode(const HfsPlusCatalogFolder& v, MutByteSpan out) {
  if (out.size() < HfsPlusCatalogFolder::k_size) return false;
  ByteWriter w(out);
  w.be16(k_rec_folder);
  w.be16(v.flags);
  w.be32(v.valence);
  w.be32(v.folder_id);
  w.be32(v.create_date);
  w.be32(v.content_mod_date);
  w.be32(v.attribute_mod_date);
  w.be32(v.access_date);
  w.be32(v.backup_date);
  write_perms(w, v.permissions);
  w.bytes(v.user_info.data(), 16);
  w.bytes(v.finder_info.data(), 16);
  w.be32(v.text_encoding);
  w.be32(v.reserved);
  return w.ok();
}

bool decode(ByteSpan in, HfsPlusCatalogFile& out) {
  out = {};
  if (in.size() < HfsPlusCatalogFile::k_size || get_be16(in.data()) != k_rec_file) return false;
  ByteReader r(in);
  r.skip(2);
  out.flags = r.be16();
  out.reserved1 = r.be32();
  out.file_id = r.be32();
  out.create_date = r.be32();
  out.content_mod_date = r.be32();
  out.attribute_mod_date = r.be32();
  out.access_date = r.be32();
  out.backup_date = r.be32();
  read_perms(r, out.permissions);
  read_finfo(r, out.user_info);
  r.bytes(out.finder_info.data(), 16);
  out.text_encoding = r.be32();
  out.reserved2 = r.be32();
  read_fork(r, out.data_fork);
  read_fork(r, out.resource_fork);
  return r.ok() && r.pos() == HfsPlusCatalogFile::k_size;
}
bool encode(const HfsPlusCatalogFile& v, MutByteSpan out) {
  if (out.size() < HfsPlusCatalogFile::k_size) return false;
  ByteWriter w(out);
  w.be16(k_rec_file);
  w.be16(v.flags);
  w.be32(v.reserved1);
  w.be32(v.file_id);
  w.be32(v.create_date);
  w.be32(v.content_mod_date);
  w.be32(v.attribute_mod_date);
  w.be32(v.access_date);
  w.be32(v.backup_date);
  write_perms(w, v.permissions);
  write_finfo(w, v.user_info);
  w.bytes(v.finder_info.data(), 16);
  w.be32(v.text_encoding);
  w.be32(v.reserved2);
  write_fork(w, v.data_fork);
  write_fork(w, v.resource_fork);
  return w.ok();
}

bool decode(ByteSpan in, HfsPlusCatalogThread& out) {
  out = {};
  if (in.size() < HfsPlusCatalogThread::k_min_size) return false;
  ByteReader r(in);
  out.record_type = r.sbe16();
  if (out.record_type != k_rec_folder_thread && out.record_type != k_rec_file_thread) return false;
  out.reserved = r.sbe16();
  out.parent_id = r.be32();
  out.name_length = r.be16();
  if (out.name_length > 255 || out.size() > in.size()) { out = {}; return false; }
  for (uint16_t i = 0; i < out.name_length; ++i) out.name[i] = r.be16();
  return r.ok();
}
bool encode(const HfsPlusCatalogThread& v, MutByteSpan out) {
  if (v.name_length > 255 || out.size() < v.size()) return false;
  ByteWriter w(out);
  w.be16(uint16_t(v.record_type));
  w.be16(0);
  w.be32(v.parent_id);
  w.be16(v.name_length);
  for (uint16_t i = 0; i < v.name_length; ++i) w.be16(v.name[i]);
  return w.ok();
}
