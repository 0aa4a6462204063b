// The compile's per-file writers: forks at the cursor, then the catalog entry.
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/forkwrite.h"
#include "hfs/catinsert.h"
#include "hfs/ondisk.h"
#include "hfs/volume.h"

namespace {

constexpr uint32_t k_root_cnid = 2;

int report_catalog_failure(const ProjectRecord& r, int rc) {
  show_message(format_text(ui_text(4712).c_str(), (r.pc_folder + r.pc_name).c_str()).c_str());
  return rc < 0 ? rc : -1;
}

}  // namespace

int write_file_hfs(const ProjectRecord& r, uint32_t parent_id, const ForkExtent* iso_data) {
  MasterDirectoryBlock mdb;
  if (!load_mdb(mdb)) return -1;
  WrittenForks forks;
  int rc = write_file_forks(r, iso_data, forks);
  if (rc != 0) return rc > 0 ? 0 : rc;
  HfsFileEntry entry;
  if (build_hfs_file_entry(r, parent_id, mdb.next_cnid, forks, g_volume.block_size, entry) != 0)
    return report_catalog_failure(r, -1);
  rc = hfs_insert_catalog_record(entry.key, entry.data);
  if (rc != 0) return report_catalog_failure(r, rc);
  catalog_add_leaf_records(1);
  // The insert may have grown the catalog, which changes the MDB: read it again.
  if (!load_mdb(mdb)) return -1;
  ++mdb.next_cnid;
  ++mdb.file_count;
  if (parent_id == k_root_cnid) ++mdb.root_files;
  store_mdb(mdb);
  return 1;
}

int write_file_hfsplus(const ProjectRecord& r, uint32_t parent_id, const ForkExtent* iso_data) {
  HfsPlusVolumeHeader vh;
  if (!load_volume_header(vh)) return -1;
  WrittenForks forks;
  int rc = write_file_forks(r, iso_data, forks);
  if (rc != 0) return rc > 0 ? 0 : rc;
  HfsPlusFileEntry entry;
  if (build_hfsplus_file_entry(r, parent_id, vh.next_catalog_id, forks, g_volume.block_size, entry) != 0)
    return report_catalog_failure(r, -1);
  rc = hfsplus_insert_catalog_record(entry.key, entry.data);
  if (rc == 0) {
    catalog_add_leaf_records(1);
    rc = hfsplus_append_thread_record(entry.thread_key, entry.thread);
    if (rc == 0) {
      catalog_add_leaf_records(1);
    } else if (hfsplus_delete_catalog_record(entry.key) == 0) {  // no record without its thread
      catalog_add_leaf_records(-1);
    }
  }
  if (rc != 0) return report_catalog_failure(r, rc);
  if (!load_volume_header(vh)) return -1;
  ++vh.next_catalog_id;
  ++vh.file_count;
  store_volume_header(vh);
  return 1;
}
