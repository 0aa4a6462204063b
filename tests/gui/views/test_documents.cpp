// Documents without their windows: backups, refusals, read-only images, Save
// As, new partition images judged by outside tools, the target's checks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "IO/uitext.h"
#include "compiler/project.h"
#include "gui/views/documents.h"
#include "gui/views/volume_view.h"
#include "hfs/alloc.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "platform/filelock.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::quote;
using testkit::run;

TEST(Documents, ProjectOpenMakesItsBackupOnceAndRefusesOtherFiles) {
  testkit::TempDir dir;
  std::string path = dir.str("d.cvpr");
  ProjectDocument doc;
  std::string message;
  ASSERT_EQ(create_project_document(path, 0, false, doc, message), 0) << message;
  close_project_document(doc);
  std::string before = testkit::sha256_of(path);

  recorded_ui().clear();
  ASSERT_EQ(open_project_document(path, false, false, doc, message), 0) << message;
  EXPECT_EQ(doc.backup_path, dir.str("d.bak"));
  // The status bar says the copy is being made, and is emptied once it is.
  EXPECT_EQ(recorded_ui().status, (std::vector<std::string>{ui_text(6107), ""}));
  close_project_document(doc);
  EXPECT_EQ(run("cmp " + quote(path) + " " + quote(dir.str("d.bak"))).rc, 0);
  EXPECT_EQ(testkit::sha256_of(path), before);

  // Opening the backup itself leaves it as it was.
  std::string bak_sum = testkit::sha256_of(dir.str("d.bak"));
  ASSERT_EQ(open_project_document(dir.str("d.bak"), false, false, doc, message), 0) << message;
  EXPECT_TRUE(doc.backup_path.empty());
  close_project_document(doc);
  EXPECT_EQ(testkit::sha256_of(dir.str("d.bak")), bak_sum);

  // No backup when the preference says so.
  std::string other = dir.str("e.cvpr");
  std::filesystem::copy_file(path, other);
  ASSERT_EQ(open_project_document(other, false, true, doc, message), 0);
  close_project_document(doc);
  EXPECT_FALSE(std::filesystem::exists(dir.str("e.bak")));

  // A file that is no project keeps its bytes, and no backup appears.
  std::string fake = dir.str("f.cvpr");
  testkit::write_file(fake, testkit::random_bytes(5000, 7));
  std::string fake_sum = testkit::sha256_of(fake);
  EXPECT_EQ(open_project_document(fake, false, false, doc, message), k_doc_not_project);
  EXPECT_NE(message.find("not recognized as a project"), std::string::npos);
  EXPECT_EQ(open_project_document(fake, true, false, doc, message), k_doc_not_project);
  EXPECT_EQ(testkit::sha256_of(fake), fake_sum);
  EXPECT_FALSE(std::filesystem::exists(dir.str("f.bak")));
  EXPECT_EQ(doc.file, nullptr);
}

// One project, two windows (two users): the second is refused, saying that a
// window has it, since its hold would refuse every change of the first. A
// compile's hold does not keep a window from opening the project; a change
// refused under it says it is a compile's, one under another window's hold
// that it is a window's.
TEST(Documents, AProjectIsOpenInOneWindowAtATime) {
  testkit::TempDir dir;
  std::string path = dir.str("d.cvpr");
  ProjectDocument first, second;
  std::string message;
  ASSERT_EQ(create_project_document(path, 0, false, first, message), 0) << message;
  EXPECT_EQ(open_project_document(path, false, true, second, message), k_doc_in_use);
  EXPECT_EQ(message, ui_text(6605));
  EXPECT_EQ(second.file, nullptr);
  EXPECT_EQ(open_project_read_only(path, false, second, message), k_doc_in_use);
  close_project_document(first);

  FILE* compile = nullptr;
  ASSERT_EQ(open_project_stream(path, "rb", FileLock::shared, false, compile), 0);
  ASSERT_EQ(open_project_document(path, false, true, first, message), 0) << message;
  std::vector<uint8_t> before = testkit::read_file(path);
  recorded_ui().clear();
  begin_project_edit(first.file);
  EXPECT_EQ(end_project_edit(first.file, 0), -1);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(recorded_ui().messages[0], ui_text(6602));
  EXPECT_EQ(close_project_stream(compile), 0);
  // Another window's hold, as a window of an older build keeps it beside this one.
  int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(lock_file(other, FileLock::shared), 0);
  ASSERT_EQ(mark_file(other, FileLock::shared), 0);
  recorded_ui().clear();
  begin_project_edit(first.file);
  EXPECT_EQ(end_project_edit(first.file, 0), -1);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(recorded_ui().messages[0], ui_text(6607));
  ::close(other);
  EXPECT_EQ(testkit::read_file(path), before);
  close_project_document(first);
}

// A damaged project is refused with what is wrong, and may then be opened for
// reading only: its bytes stay as they were, no backup is made of it.
TEST(Documents, DamagedProjectIsToldAndOpensReadOnly) {
  testkit::TempDir dir;
  std::string path = dir.str("d.cvpr");
  ProjectDocument doc;
  std::string message;
  ASSERT_EQ(create_project_document(path, 0, false, doc, message), 0) << message;
  ProjectRecord folder;
  folder.parent_id = 1;
  folder.id = 18;
  folder.long_name = folder.pc_name = folder.hfs_name = "Inner";
  folder.pc_folder = "..";
  set_iso_view(folder, 1);
  set_hfs_view(folder, 1);
  ASSERT_EQ(append_item_record(doc.file, folder), 0);
  ASSERT_TRUE(find_record_by_id(doc.file, folder, 18));
  folder.subfolder_count() = 7;  // counts a folder it does not hold
  ASSERT_TRUE(write_project_record(doc.file, folder));
  close_project_document(doc);
  std::string before = testkit::sha256_of(path);

  EXPECT_EQ(open_project_document(path, false, false, doc, message), k_doc_damaged);
  EXPECT_EQ(doc.file, nullptr);
  FILE* f = std::fopen(path.c_str(), "rb");
  EXPECT_EQ(message, damaged_project_text(scan_project_file(f), path));
  std::fclose(f);
  EXPECT_FALSE(std::filesystem::exists(dir.str("d.bak"))) << "a backup of a damaged project";
  ASSERT_EQ(open_project_read_only(path, false, doc, message), k_doc_ok) << message;
  EXPECT_TRUE(doc.read_only);
  EXPECT_EQ(count_children(doc.file, 1), 1u);
  close_project_document(doc);
  EXPECT_EQ(testkit::sha256_of(path), before);
  // Read-only or not, a file that is no project is still refused.
  std::string fake = dir.str("f.cvpr");
  testkit::write_file(fake, testkit::random_bytes(1512, 3));
  EXPECT_EQ(open_project_read_only(fake, false, doc, message), k_doc_not_project);
}

// A Save dialog never proposes a pattern, and a name with a wildcard is never written.
TEST(Documents, SaveDialogsProposeRealNames) {
  EXPECT_EQ(save_dialog_name("*.cvpr", "", "cvpr"), ui_text(1287) + ".cvpr");
  EXPECT_EQ(save_dialog_name("/cd/*.dmg", "Disc", "dmg"), "/cd/Disc.dmg");
  EXPECT_EQ(save_dialog_name("", "HOLIDAYS", "cvpr"), "HOLIDAYS.cvpr");
  EXPECT_EQ(save_dialog_name("/cd/mine.cvpr", "Disc", "cvpr"), "/cd/mine.cvpr");
  EXPECT_EQ(save_dialog_name("", "a*", "hfs"), ui_text(1287) + ".hfs");
  EXPECT_FALSE(writable_file_name("/cd/*.cvpr"));
  EXPECT_FALSE(writable_file_name("/cd/a?.cvpr"));
  EXPECT_FALSE(writable_file_name("/cd/"));
  EXPECT_TRUE(writable_file_name("/c*d/a.cvpr")) << "a folder's name is the folder's business";
  testkit::TempDir dir;
  std::string path = dir.str("p.cvpr");
  ASSERT_EQ(create_project_file(path, 0), 0);
  FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(project_file_base_name(f), ui_text(1287));
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(f, h));
  h.volume_label = "SUMMER/2026*";
  ASSERT_TRUE(write_project_header(f, h));
  EXPECT_EQ(project_file_base_name(f), "SUMMER_2026_");
  std::fclose(f);
  EXPECT_EQ(project_file_base_name(nullptr), ui_text(1287));
}

TEST(Documents, NewPartitionImagesAreReadByOutsideTools) {
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("fsstat");
  testkit::TempDir dir;
  std::string message;
  std::string hfs = dir.str("small.hfs"), plus = dir.str("ten.hfs");
  ASSERT_EQ(new_partition_image(hfs, false, 2, "Small One", message), 0) << message;
  ASSERT_EQ(new_partition_image(plus, true, 10, "Ten Plus", message), 0) << message;
  EXPECT_EQ(new_partition_image(dir.str("huge.hfs"), false, 4000, "x", message), k_doc_write_failed);
  EXPECT_FALSE(std::filesystem::exists(dir.str("huge.hfs")));

  for (const std::string& img : {hfs, plus}) {
    auto m = run("mmls -t mac " + quote(img));
    EXPECT_EQ(m.rc, 0) << m.err;
    EXPECT_NE(m.out.find("Apple_HFS"), std::string::npos) << m.out;
  }
  auto v = run("hmount " + quote(hfs) + " 1 >/dev/null && hvol && hls -la");
  EXPECT_EQ(v.rc, 0) << v.err;
  EXPECT_NE(v.out.find("Small One"), std::string::npos) << v.out;
  auto s = run("fsstat -f hfsp -o 64 " + quote(plus));
  EXPECT_EQ(s.rc, 0) << s.err;
  EXPECT_NE(s.out.find("Ten Plus"), std::string::npos) << s.out;
  EXPECT_GE(std::filesystem::file_size(plus), 10u << 20);

  // Both open as writable documents with an empty root.
  for (const std::string& img : {hfs, plus}) {
    ImageDocument doc;
    ASSERT_EQ(open_image_document(img, 0, doc, message), 0) << message;
    EXPECT_FALSE(doc.read_only);
    EXPECT_EQ(doc.partitions.size(), 1u);
    VolumeListing l;
    EXPECT_EQ(fill_volume_file_table(2, l), 0) << l.message;
    EXPECT_TRUE(l.entries.empty());
    close_image_document(doc);
  }
}

TEST(Documents, SaveAsCopiesAndNeverOverwritesTheOpenImage) {
  testkit::TempDir dir;
  std::string message;
  std::string img = dir.str("a.hfs");
  ASSERT_EQ(new_partition_image(img, true, 3, "Copied", message), 0) << message;
  std::string sum = testkit::sha256_of(img);
  ImageDocument doc;
  ASSERT_EQ(open_image_document(img, 0, doc, message), 0) << message;
  EXPECT_EQ(save_image_as(doc, dir.str("b.hfs"), message), 0) << message;
  EXPECT_EQ(run("cmp " + quote(img) + " " + quote(dir.str("b.hfs"))).rc, 0);
  EXPECT_EQ(save_image_as(doc, img, message), k_doc_same_file);
  // The same file by another name.
  ASSERT_EQ(::symlink(img.c_str(), dir.str("link.hfs").c_str()), 0);
  EXPECT_EQ(save_image_as(doc, dir.str("link.hfs"), message), k_doc_same_file);
  close_image_document(doc);
  EXPECT_EQ(testkit::sha256_of(img), sum);
  // No temporary file is left beside the targets.
  size_t n = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) n += e.path().filename().string()[0] == '.';
  EXPECT_EQ(n, 0u);
}

// Save writes back what an edit left in memory and forces it to disk; a
// write the file refuses is said, naming the image, where it used to pass in
// silence (the allocation structures and the header then never reached it).
TEST(Documents, SaveWritesTheEditOrSaysItCouldNot) {
  REQUIRE_TOOL("hls");
  testkit::TempDir dir;
  std::string message, img = dir.str("s.hfs");
  ASSERT_EQ(new_partition_image(img, false, 2, "Saved", message), 0) << message;
  ImageDocument doc;
  ASSERT_EQ(open_image_document(img, 0, doc, message), 0) << message;
  ASSERT_EQ(load_allocation_bitmap(), 0);
  ASSERT_GT(hfs_create_folder("Kept", 2), 0);
  EXPECT_EQ(save_image_document(doc, message), k_doc_ok);
  auto r = run("hmount " + quote(img) + " 1 >/dev/null && hls; rc=$?; humount >/dev/null; exit $rc");
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Kept"), std::string::npos) << r.out;
  free_allocation_bitmap();
  ASSERT_EQ(load_allocation_bitmap(), 0);
  ASSERT_GT(hfs_create_folder("Lost", 2), 0);
  // The descriptor the volume writes through now takes no write, as a file opened for reading.
  int reader = ::open(img.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(::dup2(reader, doc.fd), doc.fd);
  ::close(reader);
  EXPECT_EQ(save_image_document(doc, message), k_doc_write_failed);
  EXPECT_EQ(message, format_text(ui_text(6118).c_str(), img.c_str()));
  message.clear();
  EXPECT_EQ(write_back_image(doc, message), k_doc_write_failed);  // Close, Save As and Hybridise say it too
  EXPECT_FALSE(message.empty());
  free_allocation_bitmap();
  close_image_document(doc);
}

TEST(Documents, AnImageTheUserCannotWriteOpensReadOnly) {
  testkit::TempDir dir;
  std::string message;
  std::string img = dir.str("ro.hfs");
  ASSERT_EQ(new_partition_image(img, false, 2, "Locked", message), 0) << message;
  ASSERT_EQ(::chmod(img.c_str(), 0444), 0);
  ::chmod(dir.str().c_str(), 0755);
  std::string sum = testkit::sha256_of(img);
  // As another user when run as root, who may write any file.
  std::string as_user;
  if (::geteuid() == 0) {
    REQUIRE_TOOL("setpriv");
    as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  auto r = run(as_user + quote(VIEW_FOLDER_PATH) + " " + quote(img));
  EXPECT_EQ(r.rc, 0) << r.out << r.err;
  EXPECT_EQ(r.out.substr(0, 10), "read-only\n") << r.out << r.err;
  if (::geteuid() != 0) {
    ImageDocument doc;
    ASSERT_EQ(open_image_document(img, 0, doc, message), 0) << message;
    EXPECT_TRUE(doc.read_only);
    EXPECT_EQ(g_volume.read_only, 1u);
    close_image_document(doc);
  }
  EXPECT_EQ(testkit::sha256_of(img), sum);
}

// A bare HFS volume (hformat's, no partition map, as hmount finds) is mounted
// with the status bar saying so, and opens read-only for that reason.
TEST(Documents, ABareVolumeOpensReadOnlyAndSaysWhy) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = dir.str("bare.hfs");
  std::string home = "HOME=" + quote(dir.str()) + " ";
  ASSERT_EQ(run("truncate -s 4M " + quote(img) + " && " + home + "hformat -l Bare " + quote(img)).rc, 0);
  auto map = run(home + "hmount " + quote(img) + " 1");
  EXPECT_NE(map.rc, 0) << "hmount found a partition map: " << map.out;
  std::string sum = testkit::sha256_of(img);
  recorded_ui().clear();
  ImageDocument doc;
  std::string message;
  ASSERT_EQ(open_image_document(img, 0, doc, message), 0) << message;
  EXPECT_EQ(recorded_ui().status, (std::vector<std::string>{ui_text(2112) + " " + ui_text(1059)}));
  EXPECT_TRUE(doc.read_only);
  EXPECT_EQ(g_volume.read_only_reason, uint32_t(k_read_only_bare_volume));
  close_image_document(doc);
  EXPECT_EQ(testkit::sha256_of(img), sum);
  // A volume in a partition map is opened to be changed.
  std::string mapped = dir.str("mapped.hfs");
  ASSERT_EQ(new_partition_image(mapped, false, 2, "Mapped", message), 0) << message;
  ASSERT_EQ(open_image_document(mapped, 0, doc, message), 0) << message;
  EXPECT_FALSE(doc.read_only);
  EXPECT_EQ(g_volume.read_only_reason, uint32_t(k_read_only_unknown));
  close_image_document(doc);
}

TEST(Documents, TargetChecksAndTheSplitter) {
  testkit::TempDir dir;
  std::string message;
  EXPECT_EQ(check_target_image(dir.str("t.iso"), 1 << 20, message), 0);
  EXPECT_EQ(check_target_image(dir.str("t.iso"), uint64_t(1) << 60, message), k_doc_no_space);
  EXPECT_NE(message.find("Not enough free space"), std::string::npos);

  EXPECT_TRUE(splitter_can_resize(350, 701));
  EXPECT_FALSE(splitter_can_resize(351, 701));
}

TEST(Documents, InPlaceRenameOnTheVolume) {
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("fls");
  testkit::TempDir dir;
  std::string message;
  std::string hfs = dir.str("r.hfs"), plus = dir.str("r.hfsp");
  ASSERT_EQ(new_partition_image(hfs, false, 2, "Ren", message), 0) << message;
  ASSERT_EQ(new_partition_image(plus, true, 3, "RenPlus", message), 0) << message;
  ASSERT_EQ(run("hmount " + quote(hfs) + " 1 >/dev/null && hmkdir :Old && humount").rc, 0);
  {
    ImageDocument doc;
    ASSERT_EQ(open_image_document(hfs, 0, doc, message), 0) << message;
    VolumeListing l;
    ASSERT_EQ(fill_volume_file_table(2, l), 0);
    ASSERT_EQ(l.entries.size(), 1u);
    FileTableEntry& e = l.entries[0];
    EXPECT_EQ(rename_volume_entry(e, 2, "Old", message), 0);
    EXPECT_EQ(rename_volume_entry(e, 2, "   ", message), -2);
    // Cut to 31 bytes of Mac Roman, the blanks then at its end removed.
    std::string long_name = "Caf\xc3\xa9 name that runs on          past thirty-one";
    EXPECT_EQ(rename_volume_entry(e, 2, long_name, message), 1) << message;
    EXPECT_EQ(e.name, "Caf\x8e name that runs on");
    close_image_document(doc);
  }
  auto r = run("hmount " + quote(hfs) + " 1 >/dev/null && hls -N");
  EXPECT_EQ(r.out, "Caf\x8e name that runs on\n");
  {
    ImageDocument doc;
    ASSERT_EQ(open_image_document(plus, 0, doc, message), 0) << message;
    ASSERT_EQ(load_allocation_bitmap(), 0);
    ASSERT_GT(hfsplus_create_folder("Old", 2), 0u);
    EXPECT_EQ(flush_volume_structures(), 0);
    free_allocation_bitmap();
    VolumeListing l;
    ASSERT_EQ(fill_volume_file_table(2, l), 0);
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(rename_volume_entry(l.entries[0], 2, "New \xc3\xa9t\xc3\xa9", message), 1) << message;
    EXPECT_EQ(display_name(l.entries[0]), "New \xc3\xa9t\xc3\xa9");
    close_image_document(doc);
  }
  auto f = run("fls -f hfsp -o 64 " + quote(plus));
  EXPECT_NE(f.out.find("\tNew e\xcc\x81te\xcc\x81\n"), std::string::npos) << f.out;
  // A volume browsed only refuses, and keeps its bytes.
  std::string bare = dir.str("bare.hfs");
  ASSERT_EQ(run("truncate -s 1M " + quote(bare) + " && hformat -l B " + quote(bare) + " >/dev/null && hmount " +
                quote(bare) + " >/dev/null && hmkdir :Kept && humount").rc, 0);
  std::string sum = testkit::sha256_of(bare);
  {
    ImageDocument doc;
    ASSERT_EQ(open_image_document(bare, 0, doc, message), 0) << message;
    EXPECT_TRUE(doc.read_only);
    VolumeListing l;
    ASSERT_EQ(fill_volume_file_table(2, l), 0);
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(rename_volume_entry(l.entries[0], 2, "Changed", message), -1);
    close_image_document(doc);
  }
  EXPECT_EQ(testkit::sha256_of(bare), sum);
}
