#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "IO/settings.h"
#include "gui/signatures/sigtable_edit.h"
#include "macfiles/signatures.h"
#include "support/testkit.h"

namespace fs = std::filesystem;

namespace {

// Leading comments, an interior comment in each section, comments after "#[1]",
// a line end without CR in the French part and no line end at the very end.
const std::string k_english_part =
    "# Signature table\r\n"
    "# kept by hand\r\n"
    "txt,TEXTttxt,Plain text\r\n"
    "# pictures\r\n"
    "gif,GIFfogle,GIF picture\r\n";
const std::string k_french_part =
    "#[1] Section francaise\r\n"
    "# commentaire\r\n"
    "txt,TEXTttxt,Texte brut\n"
    "# images\r\n"
    "gif,GIFfogle,Image GIF";
const std::string k_both = k_english_part + k_french_part;

SigEditor loaded(const std::string& path, int language) {
  SigEditor ed;
  EXPECT_EQ(load_sig_file(ed, path, language), 0);
  return ed;
}

}  // namespace

TEST(SigTable, EachLanguageLoadsItsSection) {
  testkit::TempDir dir;
  testkit::write_text(dir.path() / "t.sig", k_both);
  SigEditor en = loaded(dir.str("t.sig"), 0);
  ASSERT_EQ(en.rows.size(), 2u);
  EXPECT_EQ(en.rows[1].extension, "gif");
  EXPECT_EQ(en.rows[1].type, "GIFf");
  EXPECT_EQ(en.rows[1].creator, "ogle");
  EXPECT_EQ(en.rows[1].comment, "GIF picture");
  SigEditor fr = loaded(dir.str("t.sig"), 10000);
  ASSERT_EQ(fr.rows.size(), 2u);
  EXPECT_EQ(fr.rows[0].comment, "Texte brut");
  EXPECT_EQ(fr.rows[1].comment, "Image GIF");

  // A French interface on a file without "#[1]" reads the whole file.
  testkit::write_text(dir.path() / "one.sig", k_english_part);
  EXPECT_EQ(loaded(dir.str("one.sig"), 10000).rows.size(), 2u);

  // A file that cannot be read leaves the editor as it was.
  SigEditor kept = en;
  EXPECT_EQ(load_sig_file(kept, dir.str("missing.sig"), 0), -1);
  EXPECT_EQ(kept.rows.size(), 2u);
  EXPECT_EQ(kept.path, dir.str("t.sig"));
}

TEST(SigTable, SavingKeepsTheOtherSectionByteForByte) {
  testkit::TempDir dir;
  std::string path = dir.str("t.sig");
  testkit::write_text(path, k_both);

  // English: twice, so the second save reads what the first wrote.
  for (int round = 0; round < 2; ++round) {
    SigEditor en = loaded(path, 0);
    add_sig_row(en, make_sig_row("jpg", "JPEG", "", "JPEG picture"));
    ASSERT_EQ(save_signature_file(en, path, 0), 0);
    EXPECT_FALSE(en.modified);
    EXPECT_TRUE(en.saved_while_open);
  }
  std::string text = testkit::read_text(path);
  ASSERT_GE(text.size(), k_french_part.size());
  EXPECT_EQ(text.substr(text.size() - k_french_part.size()), k_french_part);
  EXPECT_EQ(text.rfind("# Signature table\r\n# kept by hand\r\ntxt,", 0), 0u);
  EXPECT_EQ(loaded(path, 0).rows.size(), 4u);  // two loaded, one added per round; none doubled
  EXPECT_EQ(loaded(path, 10000).rows.size(), 2u);
  // The backup is the version before the last save.
  std::string bak = dir.str("t.bak");
  ASSERT_TRUE(fs::exists(bak));
  EXPECT_EQ(loaded(bak, 0).rows.size(), 3u);

  // French: the English section, with its interior comment, stays as it was.
  testkit::write_text(path, k_both);
  for (int round = 0; round < 2; ++round) {
    SigEditor fr = loaded(path, 10000);
    sort_sig_column(fr, 0);
    ASSERT_EQ(save_signature_file(fr, path, 10000), 0);
  }
  text = testkit::read_text(path);
  EXPECT_EQ(text.substr(0, k_english_part.size()), k_english_part);
  EXPECT_EQ(text.substr(k_english_part.size()),
            "#[1] Section francaise\r\n# commentaire\r\n# images\r\ngif,GIFfogle,Image GIF\r\ntxt,TEXTttxt,Texte brut\n");

  // French without "#[1]": the file is its section, so a save does not write the rows twice.
  testkit::write_text(path, k_english_part);
  SigEditor fr = loaded(path, 10000);
  ASSERT_EQ(save_signature_file(fr, path, 10000), 0);
  ASSERT_EQ(save_signature_file(fr, path, 10000), 0);
  EXPECT_EQ(loaded(path, 10000).rows.size(), 2u);
  EXPECT_EQ(testkit::read_text(path), k_english_part);
}

// Save as writes the whole table: the table the program installs, saved
// under a new name, reads back with both sections, as the program's own table
// loader takes each language, and every comment line; unchanged, it is the
// same file byte for byte, and a row changed or gone keeps the comment lines
// around it.
TEST(SigTable, SaveAsWritesTheWholeTable) {
  testkit::TempDir dir;
  const std::string installed = CORVANE_SOURCE_DIR "/gui/default.sig";
  const std::string original = testkit::read_text(installed);
  for (int language : {0, 10000}) {
    SigEditor ed = loaded(installed, language);
    ed.shipped_folder.clear();
    std::string copy = dir.str("copy" + std::to_string(language) + ".sig");
    ASSERT_EQ(save_signature_file(ed, copy, language), 0);
    EXPECT_EQ(ed.path, copy);
    EXPECT_EQ(testkit::read_text(copy), original) << "nothing changed, nothing differs";

    // The first row goes, the jpg row changes, a row is added; saved as another file.
    ed.rows.erase(ed.rows.begin());
    for (SigRow& r : ed.rows)
      if (r.extension == "jpg") r.creator = "prvw";
    add_sig_row(ed, make_sig_row("webp", "WEBP", "prvw", language ? "Image WebP" : "WebP picture"));
    std::string other = dir.str("other" + std::to_string(language) + ".sig");
    ASSERT_EQ(save_signature_file(ed, other, language), 0);
    std::string text = testkit::read_text(other);
    for (const std::string& line : sig_text_lines(original)) {
      if (line[0] != '#') continue;
      EXPECT_NE(text.find(line), std::string::npos) << language << ": " << line;
    }
    EXPECT_EQ(text.find("\r"), std::string::npos) << "the file's own line ends";
    // The loader reads the French rows alone in French, and after the
    // English ones in English.
    for (int reader : {0, 10000}) {
      ASSERT_EQ(load_signature_table(other, "---", reader), 0);
      bool edited = reader == language;
      EXPECT_EQ(type_creator_for_filename("a.jpg"), edited ? "JPEGprvw" : "JPEGogle") << language << reader;
      EXPECT_EQ(type_creator_for_filename("a.webp"), edited || reader == 0 ? "WEBPprvw" : "TEXT????") << language << reader;
      EXPECT_EQ(type_creator_for_filename("a.cpt"), "PACTCPCT");
      EXPECT_EQ(signature_comment("SIT!SITx"), reader ? "Archive StuffIt" : "StuffIt archive");
      // The first row went: in English the French one answers.
      EXPECT_EQ(type_creator_for_filename("a.txt"), edited && reader ? "TEXT????" : "TEXTttxt") << language << reader;
    }
    clear_signature_table();
  }
}

// The table the program ships is never written: its first change goes to a
// copy in the user's data folder, which the setting "Sign" then names; every
// save keeps the mode (and, run as root, the owner) of the file it replaces.
TEST(SigTable, AShippedTableIsCopiedAndModesAreKept) {
  testkit::TempDir dir;
  setenv("CORVANE_CONFIG_DIR", dir.str("cfg").c_str(), 1);
  init_settings_root();
  const std::string shipped_folder = dir.str("share/corvane"), shipped = shipped_folder + "/default.sig";
  fs::create_directories(shipped_folder);
  fs::copy_file(CORVANE_SOURCE_DIR "/gui/default.sig", shipped);
  ASSERT_EQ(::chmod(shipped.c_str(), 0644), 0);
  const std::string original = testkit::read_text(shipped);
  save_signature_table_path(shipped.c_str());
  auto mode_of = [](const std::string& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
  };

  SigEditor ed = loaded(shipped, 0);
  ed.shipped_folder = shipped_folder;
  ed.user_folder = dir.str("data/corvane");  // not made yet
  add_sig_row(ed, make_sig_row("webp", "WEBP", "prvw", "WebP picture"));
  ASSERT_EQ(save_signature_file(ed, shipped, 0), 0);
  const std::string copy = dir.str("data/corvane/default.sig");
  EXPECT_EQ(ed.path, copy);
  EXPECT_EQ(testkit::read_text(shipped), original);
  EXPECT_EQ(mode_of(shipped), 0644u);
  EXPECT_FALSE(fs::exists(shipped_folder + "/default.bak"));
  char buf[256];
  EXPECT_EQ(std::string(read_setting_text("Sign", buf)), copy);
  EXPECT_EQ(mode_of(copy), 0644u) << "readable as the table it copies";
  ASSERT_EQ(load_signature_table(copy, "TXT", 10000), 0);
  EXPECT_EQ(signature_comment("SIT!SITx"), "Archive StuffIt");
  ASSERT_EQ(load_signature_table(copy, "TXT", 0), 0);
  EXPECT_EQ(type_creator_for_filename("x.webp"), "WEBPprvw");
  clear_signature_table();

  // The copy is the user's: saved in place from now on, its mode kept, and
  // its owner when root saves it.
  ASSERT_EQ(::chmod(copy.c_str(), 0640), 0);
  bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(copy.c_str(), 4321, 4321), 0);
  }
  add_sig_row(ed, make_sig_row("avif", "AVIF", "prvw", "AVIF picture"));
  ASSERT_EQ(save_signature_file(ed, ed.path, 0), 0);
  EXPECT_EQ(ed.path, copy);
  EXPECT_EQ(mode_of(copy), 0640u);
  EXPECT_EQ(mode_of(dir.str("data/corvane/default.bak")), 0640u);
  if (root) {
    struct stat st {};
    ASSERT_EQ(::stat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4321u);
  }
  EXPECT_EQ(testkit::read_text(shipped), original);
  save_signature_table_path("");
  unsetenv("CORVANE_CONFIG_DIR");
}

TEST(SigTable, WhatTheEditorSavesTheTableLoaderReads) {
  testkit::TempDir dir;
  std::string path = dir.str("t.sig");
  SigEditor ed;
  add_sig_row(ed, make_sig_row("HTML5", "ab", "", "a comment that is long enough"));
  add_sig_row(ed, make_sig_row("pdf", "PDF ", "CARO", "Acrobat"));
  ASSERT_EQ(save_signature_file(ed, path, 0), 0);
  EXPECT_EQ(testkit::read_text(path), "HTML,ab  ????,a comment that is long enough\r\npdf,PDF CARO,Acrobat\r\n");
  ASSERT_EQ(load_signature_table(path, "TXT", 0), 0);
  EXPECT_EQ(type_creator_for_filename("x.pdf"), "PDF CARO");
  EXPECT_EQ(type_creator_for_filename("page.html"), "ab  ????");
  clear_signature_table();
}

// A save that cannot be written whole leaves the old file and its backup as
// they were, and no temporary file behind.
TEST(SigTable, AFailedSaveLeavesTheOriginal) {
  testkit::TempDir dir;
  std::string path = dir.str("t.sig");
  testkit::write_text(path, k_both);
  testkit::write_text(dir.path() / "t.bak", "older");
  SigEditor ed = loaded(path, 0);
  for (int i = 0; i < 200; ++i) add_sig_row(ed, make_sig_row("e", "TYPE", "CREA", std::string(60, 'x')));

  std::string message;
  int rc = 0;
  {
    testkit::FileSizeLimit full(1024);
    rc = save_signature_file(ed, path, 0, &message);
  }

  EXPECT_EQ(rc, -1);
  EXPECT_FALSE(message.empty());
  EXPECT_TRUE(ed.modified);
  EXPECT_EQ(testkit::read_text(path), k_both);
  EXPECT_EQ(testkit::read_text(dir.path() / "t.bak"), "older");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

  // A folder that does not exist: nothing is made.
  EXPECT_EQ(save_signature_file(ed, dir.str("none/t.sig"), 0, &message), -1);
}

// Leaving a modified table: a cancelled Save dialog or a failed save stops the
// command with the edits kept; a save lets it go on and sets the window's result.
TEST(SigTable, LeavingAModifiedTable) {
  testkit::TempDir dir;
  SigEditor ed;
  add_sig_row(ed, make_sig_row("txt", "TEXT", "ttxt", ""));
  EXPECT_FALSE(sig_prepare_to_leave(ed, true, "", 0));
  EXPECT_FALSE(sig_prepare_to_leave(ed, true, dir.str("none/t.sig"), 0));
  EXPECT_TRUE(ed.modified);
  EXPECT_EQ(sig_editor_result(ed), 0);
  EXPECT_TRUE(sig_prepare_to_leave(ed, false, "", 0));  // "No": the edits go
  EXPECT_TRUE(sig_prepare_to_leave(ed, true, dir.str("t.sig"), 0));
  EXPECT_EQ(sig_editor_result(ed), -1);
  EXPECT_EQ(sig_editor_caption(ed), "Signature Editor " + dir.str("t.sig"));
  clear_sig_editor(ed);
  EXPECT_EQ(sig_editor_result(ed), -1);  // the result lives as long as the window
  EXPECT_FALSE(sig_menu_state(ed, true, false).cut);
}

TEST(SigTable, ClipboardMovesAndSorting) {
  SigEditor ed;
  add_sig_row(ed, make_sig_row("b", "TEXT", "ttxt", "second"));
  add_sig_row(ed, make_sig_row("A", "GIFf", "ogle", "first"));
  add_sig_row(ed, make_sig_row("c", "PDF ", "CARO", "third"));
  ed.modified = false;

  std::string clip = sig_rows_to_clipboard(ed, {0, 1});
  EXPECT_EQ(clip, "b\r\nTEXT\r\nttxt\r\nsecond\r\n\r\nA\r\nGIFf\r\nogle\r\nfirst\r\n\r\n");
  EXPECT_EQ(paste_sig_rows(ed, clip), 2);
  ASSERT_EQ(ed.rows.size(), 5u);
  EXPECT_EQ(ed.rows[3].comment, "second");
  EXPECT_EQ(ed.rows[4].extension, "A");
  // Pasted fields get the dialog's limits; a "," cannot enter an extension.
  EXPECT_EQ(paste_sig_rows(ed, "x,yz\nLONGTYPE\n\n" + std::string(100, 'k')), 2);
  EXPECT_EQ(ed.rows[5].extension, "x");
  EXPECT_EQ(ed.rows[5].type, "LONG");
  EXPECT_EQ(ed.rows[5].creator, "????");
  EXPECT_EQ(ed.rows[6].extension, "kkkk");
  EXPECT_EQ(cut_sig_rows(ed, {6, 5, 4, 3}).empty(), false);
  EXPECT_EQ(ed.rows.size(), 3u);

  EXPECT_FALSE(move_sig_row_up(ed, 0));
  EXPECT_FALSE(move_sig_row_down(ed, 2));
  EXPECT_TRUE(move_sig_row_down(ed, 0));
  EXPECT_EQ(ed.rows[1].extension, "b");

  // Column 0 ignores case; the second click on it sorts descending.
  sort_sig_column(ed, 0);
  EXPECT_EQ(ed.rows[0].extension, "A");
  EXPECT_EQ(ed.rows[2].extension, "c");
  sort_sig_column(ed, 0);
  EXPECT_EQ(ed.sort_key, -1);
  EXPECT_EQ(ed.rows[0].extension, "c");
  sort_sig_column(ed, 1);  // another column: ascending again, by case
  EXPECT_EQ(ed.sort_state[0], 0);
  EXPECT_EQ(ed.rows[0].type, "GIFf");

  auto lines = sig_print_lines(ed);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "A       GIFf    ogle    first");
}

TEST(SigTable, RegisteringStoresThePath) {
  testkit::TempDir dir;
  setenv("CORVANE_CONFIG_DIR", dir.str("cfg").c_str(), 1);
  init_settings_root();
  SigEditor ed;
  ed.path = dir.str("my.sig");
  EXPECT_EQ(register_sig_file(ed), 0);
  SigRegistryTexts t = sig_registry_texts(ed);
  EXPECT_EQ(t.current_value, ed.path);
  EXPECT_NE(t.key_path.find("\\Sign"), std::string::npos);
  SigEditor untitled;
  EXPECT_EQ(register_sig_file(untitled), -1);
  unsetenv("CORVANE_CONFIG_DIR");
}
