// The GUI program's decisions, without a window: arguments, the hand-over,
// captions, menus, recent lists, column settings and progress texts.
#include <gtest/gtest.h>

#include <cstdlib>

#include "IO/settings.h"
#include "IO/uitext.h"
#include "gui/commandline.h"
#include "gui/compile/progresslogic.h"
#include "gui/menumodel.h"
#include "gui/recent.h"
#include "gui/special/about.h"
#include "macfiles/extract.h"
#include "platform/settings_store.h"
#include "support/testkit.h"

namespace {

bool exists_fake(const std::string& p) { return p == "/c" || p == "/tmp"; }

}  // namespace

TEST(GuiArguments, OptionsAreWordsAndAbsolutePathsAreDocuments) {
  EXPECT_EQ(classify_argument("-c", exists_fake), ArgumentKind::command);
  EXPECT_EQ(classify_argument("-rj", exists_fake), ArgumentKind::command);
  EXPECT_EQ(classify_argument("/ci", exists_fake), ArgumentKind::command);
  EXPECT_EQ(classify_argument("/home/u/p.cvpr", exists_fake), ArgumentKind::document);
  EXPECT_EQ(classify_argument("/cdimages/disc.iso", exists_fake), ArgumentKind::document);
  EXPECT_EQ(classify_argument("/c", exists_fake), ArgumentKind::document) << "an existing file wins";
  EXPECT_EQ(classify_argument("-c1", exists_fake), ArgumentKind::document);
  EXPECT_EQ(classify_argument("-abcd", exists_fake), ArgumentKind::document);
  EXPECT_EQ(classify_argument("p.cvpr", exists_fake), ArgumentKind::document);
  EXPECT_EQ(classify_argument("", exists_fake), ArgumentKind::empty);
  EXPECT_EQ(classify_argument(std::string(k_max_gui_argument, 'a'), exists_fake), ArgumentKind::document);
  EXPECT_EQ(classify_argument(std::string(k_max_gui_argument + 1, 'a'), exists_fake), ArgumentKind::too_long);
  EXPECT_EQ(command_word("/ch"), "-ch");
  EXPECT_EQ(command_word("-c"), "-c");
}

TEST(GuiArguments, CaptionAndScratchProject) {
  EXPECT_EQ(main_caption(""), "Corvane");
  EXPECT_EQ(main_caption("/home/u/disk.hfs"), "disk.hfs [Corvane]");
  EXPECT_EQ(main_caption("p.cvpr"), "p.cvpr [Corvane]");
  setenv("XDG_DATA_HOME", "/x/data", 1);
  EXPECT_EQ(scratch_project_path(0), "/x/data/corvane/cvpr.cvpr");
  EXPECT_EQ(scratch_project_path(2), "/x/data/corvane/cvso.cvso");
  EXPECT_TRUE(is_scratch_project("/x/data/corvane/cvpr.cvpr", 0));
  EXPECT_FALSE(is_scratch_project("/home/u/mycvpr.cvpr", 0));
  EXPECT_FALSE(is_scratch_project("/x/data/corvane/cvpr.cvpr.cvpr", 0));
  EXPECT_FALSE(is_scratch_project("/x/data/corvane/cvpr.cvpr", 2));
  setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored, as the base directory rules say
  setenv("HOME", "/h", 1);
  EXPECT_EQ(gui_data_folder(), "/h/.local/share/corvane");
}

TEST(GuiHandover, PathsGoOverAbsoluteLabelsAndOptionsAsTheyAre) {
  auto none = [](const std::string&) { return false; };
  const std::string b = "/home/u/B";
  using V = std::vector<std::string>;
  EXPECT_EQ(handover_arguments({"rel.cvpr"}, b, none), V{"/home/u/B/rel.cvpr"});
  EXPECT_EQ(handover_arguments({"sub/d.hfs", "/abs/x.cvpr"}, b + "/", none), (V{"/home/u/B/sub/d.hfs", "/abs/x.cvpr"}));
  EXPECT_EQ(handover_arguments({"-i", "p.cvpr", "src"}, b, none), (V{"-i", "/home/u/B/p.cvpr", "/home/u/B/src"}));
  EXPECT_EQ(handover_arguments({"-ih", "p.cvpr", "$list.txt"}, b, none), (V{"-ih", "/home/u/B/p.cvpr", "$/home/u/B/list.txt"}));
  EXPECT_EQ(handover_arguments({"/c", "p.cvpr"}, b, none), (V{"/c", "/home/u/B/p.cvpr"}));
  EXPECT_EQ(handover_arguments({"-h", "v.hfs", "cd.iso"}, b, none), (V{"-h", "/home/u/B/v.hfs", "/home/u/B/cd.iso"}));
  EXPECT_EQ(handover_arguments({"-l", "p.cvpr", "My Disc"}, b, none), (V{"-l", "/home/u/B/p.cvpr", "My Disc"}));
  EXPECT_EQ(handover_arguments({"-fh", "p.cvpr", "a/b"}, b, none), (V{"-fh", "/home/u/B/p.cvpr", "a/b"}));
  EXPECT_EQ(handover_arguments({"-rj", "p.cvpr", "log.txt"}, b, none), (V{"-rj", "/home/u/B/p.cvpr", "/home/u/B/log.txt"}));
  // A working folder that is not known, or an argument past the limit, is left alone.
  EXPECT_EQ(handover_arguments({"rel.cvpr"}, "", none), V{"rel.cvpr"});
  std::string big(k_max_gui_argument + 1, 'x');
  EXPECT_EQ(handover_arguments({big}, b, none), V{big});
}

TEST(GuiHandover, RoundTripInAnyChunking) {
  std::vector<std::string> args = {"-c", std::string("/a b/\xc3\xa9\0x.cvpr", 14), ""};
  std::string wire = encode_handover(args);
  for (size_t chunk : {size_t(1), size_t(3), size_t(7), wire.size()}) {
    HandoverDecoder d;
    for (size_t at = 0; at < wire.size(); at += chunk)
      d.feed(reinterpret_cast<const uint8_t*>(wire.data()) + at, std::min(chunk, wire.size() - at));
    ASSERT_EQ(d.state(), HandoverDecoder::complete) << chunk;
    EXPECT_EQ(d.arguments(), args);
  }
}

TEST(GuiHandover, OverLongArgumentIsSkippedWholeNeverCut) {
  std::string big(10000, 'x');
  std::string wire = encode_handover({big});
  HandoverDecoder d;
  d.feed(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
  ASSERT_EQ(d.state(), HandoverDecoder::complete);
  EXPECT_TRUE(d.arguments().empty());
  ASSERT_EQ(d.refused_lengths().size(), 1u);
  EXPECT_EQ(d.refused_lengths()[0], 10000u);
  EXPECT_EQ(d.refused_head(), std::string(60, 'x'));
}

TEST(GuiHandover, MalformedMessagesAreRefused) {
  auto state_of = [](const std::string& wire) {
    HandoverDecoder d;
    return d.feed(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
  };
  EXPECT_EQ(state_of(std::string("XXXX\1\0\0\0", 8)), HandoverDecoder::malformed);
  EXPECT_EQ(state_of(std::string("CVH1\0\0\0\0", 8)), HandoverDecoder::malformed);  // no argument
  EXPECT_EQ(state_of(std::string("CVH1\x09\0\0\0", 8)), HandoverDecoder::malformed);  // too many
  EXPECT_EQ(state_of(encode_handover({"a"}) + "tail"), HandoverDecoder::malformed);
  EXPECT_EQ(state_of("CVH1"), HandoverDecoder::reading);  // cut short: never complete
  // Random bytes never complete by accident, and never crash.
  for (uint32_t seed = 1; seed < 200; ++seed) {
    std::vector<uint8_t> junk = testkit::random_bytes(seed * 13 % 5000, seed);
    HandoverDecoder d;
    d.feed(junk.data(), junk.size());
    EXPECT_NE(d.state(), HandoverDecoder::complete);
  }
}

TEST(GuiMenus, EveryItemHasItsTextsInBothLanguages) {
  for (const CommandDef& c : menu_commands()) {
    if (c.kind == ItemKind::separator) continue;
    for (int lang : {0, 10000}) {
      EXPECT_TRUE(has_ui_text(c.caption, lang)) << c.name << " caption " << c.caption + lang;
      if (c.hint) {
        EXPECT_TRUE(has_ui_text(c.hint, lang)) << c.name << " hint " << c.hint + lang;
      }
    }
    if (c.hint) {
      EXPECT_EQ(ui_text(c.hint)[0], '.') << c.name << ": menu hints go to the status bar";
    }
    if (c.parent) {
      EXPECT_GE(command_index(c.parent), 0) << c.name;
    }
  }
  for (const ToolDef& t : tool_buttons()) {
    EXPECT_TRUE(has_ui_text(t.hint, 0) && has_ui_text(t.hint, 10000)) << t.name;
    EXPECT_NE(ui_text(t.hint)[0], '.') << t.name << ": tool hints are tooltips";
    EXPECT_EQ(command_name(tool_id(t)), t.command ? t.command : t.name);
  }
  EXPECT_EQ(tool_buttons().size(), 23u);
}

TEST(GuiMenus, VisibilityAndEnablingFollowModeDocumentAndCompile) {
  auto def = [](const char* name) { return menu_commands()[size_t(command_index(name))]; };
  UiState s;
  s.mode = 1;
  EXPECT_TRUE(command_visible(def("Partitions1"), s));
  EXPECT_FALSE(command_visible(def("Projets1"), s));
  EXPECT_FALSE(command_visible(def("Refr"), s));
  EXPECT_TRUE(command_visible(def("MPC1"), s));
  s.mode = 0;
  EXPECT_FALSE(command_visible(def("MPC1"), s));
  EXPECT_TRUE(command_visible(def("dsstor"), s));
  // No document: nothing that works on one.
  EXPECT_FALSE(command_enabled(def("Compil1"), s));
  EXPECT_TRUE(command_enabled(def("Nouveau1"), s));
  s.has_document = true;
  s.is_scratch = true;
  EXPECT_TRUE(command_enabled(def("Compil1"), s));
  EXPECT_FALSE(command_enabled(def("Enregistrer1"), s)) << "the scratch project is saved under a name";
  EXPECT_TRUE(command_enabled(def("EnregistrerAs1"), s));
  EXPECT_FALSE(command_enabled(def("Reop1"), s));
  s.recent[0] = true;
  EXPECT_TRUE(command_enabled(def("Reop1"), s));
  // A compile: only the abort and the help.
  s.compile_running = true;
  EXPECT_TRUE(command_enabled(def("Compil1"), s));
  EXPECT_EQ(command_caption(def("Compil1"), s), 2098);
  for (const char* name : {"Quitter1", "Fichiers", "Special1", "Options1", "Ouvrir1", "MD", "Fr1", "Reop1"})
    EXPECT_FALSE(command_enabled(def(name), s)) << name;
  EXPECT_TRUE(command_enabled(def("AideUtil1"), s));
  for (const ToolDef& t : tool_buttons()) {
    bool allowed = std::string(t.name).rfind("Comp", 0) == 0 || std::string(t.name).rfind("Help", 0) == 0;
    EXPECT_EQ(tool_enabled(t, s), allowed) << t.name;
  }
}

TEST(GuiMenus, StatusPanelAndHints) {
  EXPECT_EQ(mode_status_text(0, 0), 1012);
  EXPECT_EQ(mode_status_text(0, 2), 1014);
  EXPECT_EQ(mode_status_text(1, 0), 1113);
  EXPECT_EQ(mode_status_text(2, 2), 1277);
  EXPECT_EQ(mode_status_text(-1, 0), 0);
  std::string shown;
  EXPECT_TRUE(hint_to_status_bar(".Save it", shown));
  EXPECT_EQ(shown, "Save it");
  EXPECT_FALSE(hint_to_status_bar("Tooltip", shown));
  EXPECT_EQ(help_topic(2006, 10000), 12006);
}

TEST(GuiMenus, SelectionReadOnlyAndClipboardRules) {
  auto on = [](const char* name, const UiState& s) {
    int i = command_index(name);
    if (i >= 0) return command_enabled(menu_commands()[size_t(i)], s);
    for (const ToolDef& t : tool_buttons())
      if (std::string(name) == t.name) return tool_enabled(t, s);
    ADD_FAILURE() << name;
    return false;
  };
  UiState s;
  s.mode = 1;
  s.has_document = true;
  s.can_hybridise = true;
  // Nothing selected: the item commands wait for a selection; the parent button for a subfolder.
  for (const char* name : {"Supp1", "Ren", "AttrPart", "MPC1", "Aff1", "DelPart", "Mac2PC", "PerePart", "DrExpl"})
    EXPECT_FALSE(on(name, s)) << name;
  for (const char* name : {"MD", "PCM1", "PC2Mac", "MkDirPart", "RechPart", "Enr2", "EnrAs2", "Hybrid1", "SAll"})
    EXPECT_TRUE(on(name, s)) << name;
  s.list_selected = 2;
  s.at_root = false;
  s.clipboard_files = true;
  for (const char* name : {"Supp1", "Ren", "AttrPart", "MPC1", "Aff1", "DelPart", "Mac2PC", "PerePart", "DrExpl"})
    EXPECT_TRUE(on(name, s)) << name;
  EXPECT_TRUE(drop_accepted(s));
  // A read-only image: every command that would write to it is refused, browsing stays.
  s.read_only = true;
  for (const char* name : {"Supp1", "Ren", "PCM1", "MD", "DrExpl", "SW1", "DelPart", "PC2Mac", "MkDirPart",
                           "Enr2", "EnrAs2"})
    EXPECT_FALSE(on(name, s)) << name;
  for (const char* name : {"MPC1", "Mac2PC", "Aff1", "AttrPart", "RechPart", "PerePart", "Fermer2", "SAll"})
    EXPECT_TRUE(on(name, s)) << name;
  EXPECT_FALSE(drop_accepted(s));
  // A GPT or MBR image gives no partner to an ISO image.
  s.can_hybridise = false;
  EXPECT_FALSE(on("Hybrid1", s));
  // The tree was used last: its root can be neither deleted nor copied over, a folder can.
  UiState p;
  p.mode = 0;
  p.has_document = true;
  p.popup_source = 0;
  p.tree_selected = p.tree_root_selected = true;
  EXPECT_FALSE(on("Supp1", p));
  EXPECT_FALSE(on("DelProj", p));
  EXPECT_TRUE(on("Ren", p));
  EXPECT_TRUE(on("Prop1", p));
  p.tree_root_selected = false;
  EXPECT_TRUE(on("Supp1", p));
  EXPECT_TRUE(on("DelProj", p));
  p.list_selected = 1;  // the list's selection does not count while the tree was used last
  p.tree_selected = false;
  EXPECT_FALSE(on("Ren", p));
  EXPECT_TRUE(on("DelProj", p));
  EXPECT_TRUE(drop_accepted(p));
  // A damaged project is only looked at: every command that writes to it (or
  // compiles it) is refused, browsing, searching and printing stay.
  p.read_only = true;
  p.tree_root_selected = false;
  p.tree_selected = true;
  p.clipboard_files = true;
  for (const char* name : {"MD", "Supp1", "Ren", "Prop1", "DrExpl", "Compil1", "Info1", "Label", "Enregistrer1",
                           "EnregistrerAs1", "Refr", "Clean1", "RSig", "Path1", "DelExt", "dsstor", "DelProj",
                           "CompProj", "MkDirProj", "WizProj"})
    EXPECT_FALSE(on(name, p)) << name;
  for (const char* name : {"Rech1", "RechProj", "Fermer1", "P1", "SAll", "Inv", "ModeVue", "Ouvrir1", "Nouveau1"})
    EXPECT_TRUE(on(name, p)) << name;
  EXPECT_FALSE(drop_accepted(p));
  p.mode = 2;
  for (const char* name : {"CompISOP", "In1", "La1", "Sa1", "DelIso", "MkDirIso", "CompIso"})
    EXPECT_FALSE(on(name, p)) << name;
  // Drops need a document.
  p.read_only = false;
  p.has_document = false;
  EXPECT_FALSE(drop_accepted(p));
}

// The copy-method marks follow the values the copy to the PC reads: a value
// with the MacBinary bit is MacBinary, never AppleDouble or AppleSingle.
TEST(GuiMenus, CopyMethodMarkFollowsTheMethodTheCopyApplies) {
  UiState s;
  s.mode = 1;
  auto marked = [&](int method) {
    s.copy_method = method;
    std::string out;
    for (const char* name : {"Da", "Re", "Bo", "Ad", "As"})
      if (command_checked(menu_commands()[size_t(command_index(name))], s)) out += name;
    return out;
  };
  EXPECT_EQ(marked(k_copy_data), "Da");
  EXPECT_EQ(marked(k_copy_resource), "Re");
  EXPECT_EQ(marked(k_copy_macbinary), "Bo");
  EXPECT_EQ(marked(k_copy_appledouble), "Ad");
  EXPECT_EQ(marked(k_copy_applesingle), "As");
  EXPECT_EQ(marked(k_copy_appledouble | 0x100), "Ad");  // a remembered font answer keeps the mark
  EXPECT_EQ(marked(4 | 8), "");                           // no method of the menu
}

// Every method but the data fork's copy asks first; the one in force asks nothing.
TEST(GuiMenus, CopyMethodsOtherThanTheDataForkAskFirst) {
  EXPECT_EQ(copy_method_of("Da"), k_copy_data);
  EXPECT_EQ(copy_method_of("As"), k_copy_applesingle);
  EXPECT_EQ(copy_method_of("Supp1"), 0);
  EXPECT_EQ(copy_method_question("Da", k_copy_applesingle), 0);
  EXPECT_EQ(copy_method_question("Re", k_copy_data), 6750);
  EXPECT_EQ(copy_method_question("Bo", k_copy_data), 6751);
  EXPECT_EQ(copy_method_question("Ad", k_copy_data), 6752);
  EXPECT_EQ(copy_method_question("As", k_copy_macbinary | 0x100), 6753);
  EXPECT_EQ(copy_method_question("Ad", k_copy_appledouble | 0x100), 0) << "already in force";
  for (int id : {6750, 6751, 6752, 6753}) {
    EXPECT_EQ(ui_text(id).rfind("You are checking\n", 0), 0u) << id;
    EXPECT_TRUE(has_ui_text(id, 10000)) << id;
  }
}

TEST(GuiMenus, PopupItemsRunMenuCommands) {
  for (int mode : {0, 1, 2})
    for (bool tree : {false, true}) {
      int items = 0;
      for (const PopupItemDef& p : popup_items(mode, tree)) {
        if (!p.name) continue;
        ++items;
        int i = command_index(p.command);
        ASSERT_GE(i, 0) << p.name;
        EXPECT_TRUE(command_visible(menu_commands()[size_t(i)], UiState{mode})) << p.name;
        EXPECT_TRUE(has_ui_text(p.caption, 0) && has_ui_text(p.caption, 10000)) << p.name;
      }
      EXPECT_GE(items, 4);
    }
}

class GuiRecent : public ::testing::Test {
 protected:
  testkit::TempDir dir;
  void SetUp() override {
    setenv("CORVANE_CONFIG_DIR", dir.str().c_str(), 1);
    init_settings_root();
  }
};

TEST_F(GuiRecent, FiveMostRecentFirstWithoutRepeats) {
  for (const char* p : {"/a.cvpr", "/b.cvpr", "/c.cvpr"}) add_recent_path(0, p);
  EXPECT_EQ(read_recent_list(0), (std::vector<std::string>{"/c.cvpr", "/b.cvpr", "/a.cvpr"}));
  add_recent_path(0, "/a.cvpr");  // third moves to the top
  EXPECT_EQ(read_recent_list(0), (std::vector<std::string>{"/a.cvpr", "/c.cvpr", "/b.cvpr"}));
  for (const char* p : {"/d", "/e", "/f"}) add_recent_path(0, p);
  std::vector<std::string> l = read_recent_list(0);
  EXPECT_EQ(l, (std::vector<std::string>{"/f", "/e", "/d", "/a.cvpr", "/c.cvpr"}));
  EXPECT_TRUE(read_recent_list(1).empty()) << "each mode keeps its own list";
  EXPECT_EQ(add_recent_path(0, std::string(k_max_gui_argument + 1, 'a')), l) << "never cut, never stored";
  EXPECT_EQ(recent_menu_caption(1, "/R&D/x"), "2. /R&&D/x");
}

TEST_F(GuiRecent, DamagedValuesAreSkipped) {
  std::string key = open_setting_key("MRU3");
  ASSERT_EQ(write_key_value(key, "1", ""), 0);
  ASSERT_EQ(write_key_value(key, "2", std::string(9000, 'z')), 0);
  ASSERT_EQ(write_key_value(key, "3", std::string("a\0b", 3)), 0);
  ASSERT_EQ(write_key_value(key, "4", "/good.cvso"), 0);
  ASSERT_EQ(write_key_value(key, "", "/default-value-is-no-entry"), 0);
  EXPECT_EQ(read_recent_list(2), (std::vector<std::string>{"/good.cvso"}));
}

// The status bar of an inclusion: the counts, the time, and the report that
// only an inclusion of a minute or more gives; the counts shown ten times a second.
TEST(GuiProgress, InclusionCountsAndItsReport) {
  g_language_offset = 0;
  InclusionCountsView v = inclusion_counts_view(65000, 12, 3400);
  EXPECT_EQ(v.folders, "Folders: 12");
  EXPECT_EQ(v.files, "Files: 3400");
  EXPECT_EQ(v.elapsed, " 1'05\"");
  EXPECT_EQ(inclusion_done_text(59999, 1, 2), "");
  EXPECT_EQ(inclusion_done_text(65000, 12, 3400), "Inclusion completed in  1'05\" for 12 folders and 3400 files.");
  g_language_offset = 10000;
  EXPECT_EQ(inclusion_counts_view(0, 1, 2).files, "Fichiers : 2");
  EXPECT_NE(inclusion_done_text(600000, 1, 2).find("10'00\""), std::string::npos);
  g_language_offset = 0;
  uint64_t last = 0;
  EXPECT_TRUE(display_due(last, 5000, 100));
  EXPECT_FALSE(display_due(last, 5099, 100));
  EXPECT_TRUE(display_due(last, 5100, 100));
  EXPECT_FALSE(display_due(last, 5101, 100));
}

TEST(GuiProgress, TextsOfTheProgressDialog) {
  EXPECT_EQ(compile_elapsed_text(75000), " 1'15\"");
  EXPECT_EQ(compile_elapsed_text(5000), " 0'05\"");
  EXPECT_EQ(compile_elapsed_text(600000), "10'00\"");
  EXPECT_EQ(file_start_view(0, nullptr, 0).label, ui_text(1396));
  FileStartView small = file_start_view(0, "a.txt", 5000);
  EXPECT_EQ(small.label, ui_text(1394));
  EXPECT_EQ(small.bar_maximum, 0);
  FileStartView big = file_start_view(12, "/some/big.bin", 24 << 20);
  EXPECT_EQ(big.bar_maximum, 12);
  EXPECT_NE(big.label.find("big.bin"), std::string::npos);
  EXPECT_EQ(general_bar_range(100), 1) << "never an empty range";
  EXPECT_EQ(general_bar_range(5120), 10);
  EXPECT_EQ(general_bar_position(99999, 10), 10) << "never past the range";
  EXPECT_EQ(compile_success_text("CD-ROM of 1MB (2 folders and 3 files)."),
            "CD-ROM of 1MB\n(2 folders and 3 files)." + ui_text(1295));
  EXPECT_EQ(compile_success_text("(x)"), "(x)" + ui_text(1295)) << "nothing before the parenthesis to break";
  EXPECT_EQ(compile_success_text("none"), "none" + ui_text(1295));
  // Items gone from the PC disk: one, then twelve (ten named, the rest counted).
  EXPECT_EQ(compile_left_out_text({"/pc/a.txt"}), format_text(ui_text(6657).c_str(), "/pc/a.txt"));
  std::vector<std::string> many;
  for (int i = 0; i < 12; ++i) many.push_back("/pc/f" + std::to_string(i));
  std::string said = compile_left_out_text(many);
  EXPECT_EQ(said.rfind(format_text(ui_text(6656).c_str(), 12, "/pc/f0\n/pc/f1"), 0), 0u) << said;
  EXPECT_NE(said.find("/pc/f9\n" + format_text(ui_text(6658).c_str(), 2)), std::string::npos) << said;
  EXPECT_EQ(said.find("/pc/f10"), std::string::npos) << said;
}

// What the progress dialog reads: a label only when it changed, the file bar
// counting the chunks of a big file and never past its end, small files and
// steps with no bar, the counters as the files are done.
TEST(GuiProgress, ReadingsOfTheCompilesProgress) {
  CompileProgress p;
  ProgressReading r = p.read(0);
  EXPECT_FALSE(r.label_changed) << "nothing begun yet: the dialog keeps its preparing text";
  p.file_started(3, "/some/big.bin", 24 << 20);
  r = p.read(0);
  ASSERT_TRUE(r.label_changed);
  EXPECT_EQ(r.label, file_start_view(3, "/some/big.bin", 24 << 20).label);
  EXPECT_EQ(r.bar_maximum, 3);
  EXPECT_EQ(r.bar_position, 0);
  uint32_t shown = r.label_serial;
  for (int i = 0; i < 5; ++i) p.chunk_copied(1024);
  r = p.read(shown);
  EXPECT_FALSE(r.label_changed);
  EXPECT_TRUE(r.label.empty()) << "an unchanged label is not made again";
  EXPECT_EQ(r.bar_position, 3) << "never past the file bar's end";
  EXPECT_EQ(r.sectors, 5u * 1024);
  p.file_finished(0);
  p.file_started(0, "a.txt", 100);
  r = p.read(shown);
  EXPECT_TRUE(r.label_changed);
  EXPECT_EQ(r.label, ui_text(1394));
  EXPECT_EQ(r.bar_maximum, 0);
  p.file_finished(1);
  p.step_shown("Decoding x.hqx");
  r = p.read(r.label_serial);
  EXPECT_EQ(r.label, "Decoding x.hqx");
  EXPECT_EQ(r.bar_maximum, 0);
  EXPECT_EQ(r.files, 2u);
  EXPECT_EQ(r.sectors, 5u * 1024 + 1);
  p.file_started(0, nullptr, 0);
  EXPECT_EQ(p.read(0).label, ui_text(1396)) << "the temporary files";
  p.reset();
  r = p.read(0);
  EXPECT_EQ(r.files, 0u);
  EXPECT_EQ(r.sectors, 0u);
  EXPECT_FALSE(r.label_changed);
}

TEST(GuiProgress, MessageFormResults) {
  EXPECT_EQ(ask_yes_no_remember_result(remember_form_result(true, true)), 2);
  EXPECT_EQ(ask_yes_no_remember_result(remember_form_result(true, false)), 1);
  EXPECT_EQ(ask_yes_no_remember_result(remember_form_result(false, true)), -1);
  EXPECT_EQ(ask_yes_no_remember_result(remember_form_result(false, false)), 0);
  EXPECT_EQ(ask_yes_no_remember_result(5100), 0) << "the close box";
  EXPECT_EQ(announcement_form_result(true), -1);
  EXPECT_EQ(announcement_form_result(false), 1);
}

TEST(GuiHelp, FormsTakeTheirOwnTopicForButtonAndContextHelp) {
  // The message forms by kind, the log file form; a form without help gets none.
  EXPECT_EQ(form_help_topic("TMessOK"), 105);
  EXPECT_EQ(form_help_topic("TMessAnn"), 106);
  EXPECT_EQ(form_help_topic("TMessON"), 107);
  EXPECT_EQ(form_help_topic("TMessONT"), 108);
  EXPECT_EQ(form_help_topic("LogFile"), 152);
  EXPECT_EQ(help_topic(form_help_topic("LogFile"), 10000), 10152);
  EXPECT_EQ(form_help_topic("Corvex"), 0);
  EXPECT_EQ(form_help_topic(""), 0);
}

TEST(GuiHelp, EveryTopicHasAPageInBothLanguagesInTheBook) {
  std::string book = testkit::read_text(std::string(CORVANE_SOURCE_DIR) + "/gui/help/corvane.hhp");
  std::vector<int> topics = {2000, 2020, 2080};
  for (const char* form : {"TMessOK", "TMessAnn", "TMessON", "TMessONT", "LogFile"}) topics.push_back(form_help_topic(form));
  for (const CommandDef& c : menu_commands())
    if (c.help) topics.push_back(c.help);
  for (int t : topics)
    for (int offset : {0, 10000}) {
      std::string page = "t" + std::to_string(help_topic(t, offset)) + ".html";
      EXPECT_NE(book.find(page + "\n"), std::string::npos) << page << " not in the book";
      std::string text = testkit::read_text(std::string(CORVANE_SOURCE_DIR) + "/gui/help/" + page);
      EXPECT_NE(text.find("<h2>"), std::string::npos) << page;
    }
}

TEST(AboutBox, ShowsTheProgramsVersion) {
  EXPECT_EQ(about_version_text().rfind("Version ", 0), 0u);
  EXPECT_GT(about_version_text().size(), std::string("Version ").size());
}
