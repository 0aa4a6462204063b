// The real main window, driven on this thread: what it shows in each mode and
// language, the folders it makes, the settings it survives.
#include <gtest/gtest.h>

#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/statusbr.h>
#include <wx/translation.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>

#include "IO/prompts.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "IO/version.h"
#include "compiler/additems.h"
#include "compiler/project.h"
#include "gui/commandline.h"
#include "gui/compile/compileworker.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/printing.h"
#include "gui/mainframe.h"
#include "gui/mainviews.h"
#include "gui/menumodel.h"
#include "gui/views/file_table.h"
#include "gui_fixture.h"
#include "platform/settings_store.h"
#include "x11probe.h"

using namespace guitest;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

MainFrame* open_window(const std::vector<std::string>& args = {}) {
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up(args);
  pump(400);
  return f;
}

void close_window(MainFrame* f) {
  f->Close(true);
  pump(300);
}

// Every caption and hint the window shows must be the string table's text for the language.
void expect_texts_match_table(MainFrame* f, const char* when) {
  std::istringstream in(f->dump_texts());
  std::string line;
  int checked = 0;
  UiState s;
  s.mode = g_working_mode;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind, name, text;
    std::getline(fields, kind, '\t');
    std::getline(fields, name, '\t');
    std::getline(fields, text);
    EXPECT_NE(kind, "missing") << name << " " << when;
    int i = command_index(name);
    std::string expected;
    if (kind == "menu" || kind == "caption") {
      ASSERT_GE(i, 0) << name;
      const CommandDef& c = menu_commands()[size_t(i)];
      expected = ui_text(command_caption(c, s));
      if (kind == "caption" && *command_shortcut(name)) expected += std::string("\t") + command_shortcut(name);
    } else if (kind == "hint") {
      const CommandDef& c = menu_commands()[size_t(i)];
      if (!c.hint) {
        EXPECT_EQ(text, "") << name;
        continue;
      }
      hint_to_status_bar(ui_text(c.hint), expected);
    } else if (kind == "tool") {
      for (const ToolDef& t : tool_buttons())
        if (name == t.name) expected = ui_text(t.hint);
    } else if (kind == "column") {
      expected = ui_text(g_list_columns[size_t(std::stoi(name))].caption_text);
    } else if (kind == "status") {
      expected = ui_text(mode_status_text(g_working_mode, g_name_view));
    } else {
      continue;
    }
    EXPECT_FALSE(expected.empty()) << kind << " " << name << " has no text " << when;
    EXPECT_EQ(text, expected) << kind << " " << name << " " << when;
    ++checked;
  }
  EXPECT_GT(checked, 80);
}

std::vector<int32_t> folder_ids(const std::string& project) {
  std::vector<int32_t> ids;
  FILE* f = std::fopen(project.c_str(), "rb");
  if (!f) return ids;
  std::fseek(f, long(k_project_record_size), SEEK_SET);
  ProjectRecord r;
  while (read_project_record(f, r))
    if (r.id > 0) ids.push_back(r.id);
  std::fclose(f);
  return ids;
}

}  // namespace

TEST(MainWindow, FirstStartShowsMenusToolBarAndAScratchProject) {
  answer_forms({{"MessFermer", "", "first_start_message"}});
  MainFrame* f = open_window();
  EXPECT_EQ(f->GetTitle(), "cvpr.cvpr [Corvane]");
  std::string scratch = scratch_project_path(0);
  EXPECT_EQ(testkit::fs::file_size(scratch), k_project_record_size);
  ASSERT_TRUE(screenshot("cvpr.cvpr [Corvane]", "main_project"));
  ProbeWindow w;
  ASSERT_TRUE(wait_for_window(::getpid(), "cvpr.cvpr [Corvane]", 1000, &w));
  EXPECT_GT(picture_variety(w), 0.02) << "the window looks blank";
  // The other two modes: their own menus and tool bar.
  f->run_command("MPart");
  pump(300);
  EXPECT_FALSE(testkit::fs::exists(scratch)) << "an empty scratch project is deleted when its mode is left";
  // No image open: only the help button of the Partition tool bar works.
  std::istringstream dump(f->dump_texts());
  for (std::string line; std::getline(dump, line);) {
    bool partition_tool = line.find("Part\t") != std::string::npos || line.find("Mac") != std::string::npos;
    if (line.rfind("tool-enabled\t", 0) != 0 || !partition_tool) continue;
    bool help = line.find("HelpPart") != std::string::npos;
    EXPECT_EQ(line.back(), help ? '1' : '0') << line;
  }
  EXPECT_TRUE(screenshot("Corvane", "main_partition"));
  f->run_command("MIsop");
  pump(300);
  EXPECT_TRUE(screenshot("cvso.cvso [Corvane]", "main_isoplus"));
  f->run_command("MProj");
  pump(200);
  close_window(f);
  EXPECT_FALSE(testkit::fs::exists(scratch));
  EXPECT_TRUE(g_seen_forms.empty()) << g_seen_forms[0].text;
  answer_forms({});
}

TEST(MainWindow, LanguageSwitchGivesTheTableTextsEachTime) {
  MainFrame* f = open_window();
  for (int mode : {0, 1, 2}) {
    f->run_command(mode == 0 ? "MProj" : mode == 1 ? "MPart" : "MIsop");
    pump(100);
    for (int offset : {10000, 0, 10000}) {
      f->run_command(offset ? "Fr1" : "En2");
      pump(100);
      expect_texts_match_table(f, offset ? "in French" : "in English");
    }
    if (mode == 0) {
      EXPECT_TRUE(screenshot("cvpr.cvpr [Corvane]", "main_project_french"));
    }
    f->run_command("En2");
  }
  f->run_command("MProj");
  close_window(f);
}

TEST(MainWindow, FoldersMadeInTheWindowKeepTheirIdsForTheConsole) {
  testkit::TempDir dir;
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(testkit::run(testkit::quote(k_quorvel) + " -f " + testkit::quote(project) + " a/b").rc, 0);
  MainFrame* f = open_window({project});
  EXPECT_EQ(f->GetTitle(), "p.cvpr [Corvane]");
  answer_forms({{"", "made by the window", "new_folder"}, {"", "another one", ""}});
  f->run_command("MD");
  f->run_command("MD");
  pump(200);
  answer_forms({});
  close_window(f);
  ASSERT_EQ(testkit::run(testkit::quote(k_quorvel) + " -f " + testkit::quote(project) + " c/d/e").rc, 0);
  std::vector<int32_t> ids = folder_ids(project);
  ASSERT_EQ(ids.size(), 7u);  // a, b, the window's two, c, d, e
  std::sort(ids.begin(), ids.end());
  EXPECT_TRUE(std::adjacent_find(ids.begin(), ids.end()) == ids.end()) << "an id was handed out twice";
}

TEST(MainWindow, DamagedSettingsGiveDefaults) {
  write_setting_text("Rect", "abc,-5,99999999999999999,12x,");
  write_setting_text("Col", "zz,,-1,99999,5,\xff\xfe,");
  std::string mru = open_setting_key("MRU1");
  ASSERT_EQ(write_key_value(mru, "1", std::string(9000, 'a')), 0);
  ASSERT_EQ(write_key_value(mru, "2", ""), 0);
  ASSERT_EQ(write_key_value(mru, "3", std::string("bad\0path", 8)), 0);
  ASSERT_EQ(write_key_value(mru, "4", "/no/such/file.cvpr"), 0);
  MainFrame* f = open_window();
  wxRect r = f->GetRect();
  EXPECT_GE(r.width, 480);
  EXPECT_GE(r.height, 320);
  EXPECT_LE(r.width, 2000);
  EXPECT_TRUE(screenshot("cvpr.cvpr [Corvane]", "main_damaged_settings"));
  close_window(f);
  // What the window saved is sound again.
  WindowPlacement saved = read_window_placement();
  EXPECT_GE(saved.width, 480);
  char buf[k_text_size];
  parse_list_column_widths(read_setting_text("Col", buf));
  for (const ListColumnSetting& c : g_list_columns) EXPECT_TRUE(c.width >= 0 && c.width <= 2000);
  EXPECT_EQ(store_delete_key(setting_key_path("MRU1")), 0);
}

TEST(MainWindow, MessageFormsGiveTheirAnswers) {
  MainFrame* f = open_window();
  answer_forms({{"MessOui", "", "form_yes_no"}});
  EXPECT_TRUE(ask_yes_no("Do you want to?"));
  answer_forms({{"MessNon", "", ""}});
  EXPECT_FALSE(ask_yes_no("Do you want to?"));
  answer_forms({{"MessOui", "", "form_yes_no_remember"}});
  EXPECT_EQ(ask_yes_no_remember("Again?"), 1);
  answer_forms({{"MessFermer", "", "form_announcement"}});
  EXPECT_FALSE(show_announcement("Note this."));
  answer_forms({});
  // A timed form closes itself.
  auto start = std::chrono::steady_clock::now();
  show_timed_message("Closing by itself.");
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 2900);
  EXPECT_LT(ms, 6000);
  close_window(f);
}

TEST(MainWindow, HelpOpensTheTopicInTheLanguage) {
  MainFrame* f = open_window();
  f->run_command("Fr1");
  f->run_command("HelpProj");
  pump(800);
  std::string help_title;
  for (const ProbeWindow& w : windows_of(::getpid()))
    if (w.title != "cvpr.cvpr [Corvane]") help_title = w.title;
  ASSERT_FALSE(help_title.empty()) << "no help window";
  EXPECT_TRUE(screenshot(help_title, "help_french"));
  // The help window's own tabs and buttons speak the chosen language too.
  EXPECT_EQ(wxGetTranslation("Contents").utf8_string(), "Table des matières");
  f->run_command("En2");
  f->run_command("HelpProj");
  pump(500);
  EXPECT_EQ(wxGetTranslation("Contents").utf8_string(), "Contents");
  close_window(f);
  for (wxWindow* w : wxTopLevelWindows) w->Destroy();
  pump(300);
}

// A switch of language changes at once every text of the status bar (the
// text panel's reason why a bare volume is read-only too, not only the mode
// and the counts) and the column captions, each header wide enough for its
// caption in the new language.
TEST(MainWindow, LanguageSwitchChangesTheStatusBarAndTheHeaders) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = dir.str("bare.hfs");
  std::string home = "HOME=" + testkit::quote(dir.str()) + " ";
  testkit::write_text(dir.str("note.txt"), "a note\n");
  ASSERT_EQ(testkit::run("truncate -s 4M " + testkit::quote(img) + " && " + home + "hformat -l Bare " +
                         testkit::quote(img) + " && " + home + "hmkdir :Docs && " + home + "hcopy -r " +
                         testkit::quote(dir.str("note.txt")) + " : && " + home + "humount").rc,
            0);
  MainFrame* f = open_window();
  f->run_command("MPart");
  ASSERT_TRUE(f->open_document(img, 1));
  pump(200);
  wxStatusBar* bar = f->GetStatusBar();
  wxListCtrl* list = f->file_list();
  const std::string title = f->GetTitle().utf8_string();
  std::string english_reason;
  int pictures = 0;
  for (int offset : {0, 10000, 0}) {
    SCOPED_TRACE(offset);
    f->run_command(offset ? "Fr1" : "En2");
    pump(200);
    ASSERT_EQ(g_language_offset, offset);
    EXPECT_EQ(bar->GetStatusText(0).utf8_string(), ui_text(1113));
    EXPECT_EQ(bar->GetStatusText(2).utf8_string(), format_text(ui_text(1016).c_str(), 1));
    EXPECT_EQ(bar->GetStatusText(3).utf8_string(), format_text(ui_text(1015).c_str(), 1));
    EXPECT_EQ(bar->GetStatusText(4).utf8_string(), ui_text(6136));
    if (offset == 0) {
      english_reason = ui_text(6136);
    } else {
      EXPECT_NE(bar->GetStatusText(4).utf8_string(), english_reason) << "the English text stayed";
    }
    wxClientDC dc(list);
    dc.SetFont(list->GetFont());
    for (int i = 0; i < list->GetColumnCount(); ++i) {
      wxListItem col;
      col.SetMask(wxLIST_MASK_TEXT);
      list->GetColumn(i, col);
      EXPECT_EQ(col.GetText().utf8_string(), ui_text(g_list_columns[size_t(i)].caption_text));
      EXPECT_GE(list->GetColumnWidth(i), dc.GetTextExtent(col.GetText()).x + 24) << "column " << i << " clips "
                                                                                 << col.GetText().utf8_string();
    }
    // The open menu of the bar says what it holds, and the reason comes back when it closes.
    std::string menu_hint, hint;
    for (wxEventType t : {wxEVT_MENU_OPEN, wxEVT_MENU_CLOSE}) {
      wxMenuEvent e(t, 0, f->GetMenuBar()->GetMenu(0));
      e.SetEventObject(f);
      f->GetEventHandler()->ProcessEvent(e);
      if (t == wxEVT_MENU_OPEN) menu_hint = bar->GetStatusText(4).utf8_string();
    }
    hint_to_status_bar(ui_text(2215), hint);  // the Partition menu's
    EXPECT_EQ(menu_hint, hint);
    EXPECT_EQ(bar->GetStatusText(4).utf8_string(), ui_text(6136));
    if (++pictures <= 2) {
      EXPECT_TRUE(screenshot(title, offset ? "main_bare_volume_french" : "main_bare_volume"));
    }
  }
  close_window(f);
}

// Items added to the project without the inclusion's own end (as the
// .DS_Store editor's Create adds its file): once the views are read again the
// panels are the folder's, with nothing left of the inclusion's running counts.
TEST(MainWindow, CountsOfAnInclusionGiveWayToTheFoldersCounts) {
  testkit::TempDir dir;
  testkit::fs::create_directories(dir.str("pc/sub"));
  testkit::write_text(dir.str("pc/a.txt"), "a");
  testkit::write_text(dir.str("pc/sub/b.txt"), "b");
  MainFrame* f = open_window();
  ASSERT_NE(g_project_file, nullptr);
  AddCounts counts;
  ProjectRecord buf;
  add_pc_items(g_project_file, counts, buf, dir.str("pc"), 1);
  g_main_views->refresh_views();
  pump(100);
  wxStatusBar* bar = f->GetStatusBar();
  EXPECT_EQ(bar->GetStatusText(1).utf8_string(), "");
  EXPECT_EQ(bar->GetStatusText(2).utf8_string(), format_text(ui_text(1016).c_str(), 1));
  EXPECT_EQ(bar->GetStatusText(3).utf8_string(), format_text(ui_text(1015).c_str(), 0));
  g_file_dialog_answer = [](const std::string&) { return std::string(); };  // the scratch project is not kept
  close_window(f);
  g_file_dialog_answer = nullptr;
}

// The copy's one-panel status takes the menu hints while it lasts, and the
// next command brings back the mode's panels (a hint sent to a panel the bar
// no longer has was a toolkit assertion).
TEST(MainWindow, CopyStatusPanelGivesWayToTheModesPanels) {
  MainFrame* f = open_window();
  f->run_command("MPart");
  wxStatusBar* bar = f->GetStatusBar();
  ASSERT_EQ(bar->GetFieldsCount(), 5);
  f->simple_status_text("Copy of \"a\" \"b\"");
  EXPECT_EQ(bar->GetFieldsCount(), 1);
  wxMenuEvent hover(wxEVT_MENU_HIGHLIGHT, command_id("Ouvrir2"));
  hover.SetEventObject(f);
  f->GetEventHandler()->ProcessEvent(hover);
  pump(50);
  std::string hint;
  hint_to_status_bar(ui_text(2217), hint);
  EXPECT_EQ(bar->GetStatusText(0).utf8_string(), hint);
  f->run_command("Fr1");
  EXPECT_EQ(bar->GetFieldsCount(), 5);
  EXPECT_EQ(bar->GetStatusText(0).utf8_string(), ui_text(1113));
  f->run_command("En2");
  close_window(f);
}

// A text the engine prints goes to the printer as the window's job, titled
// with the product's name, on as many pages as its lines need.
TEST(MainWindow, EnginePrintsATextThroughTheWindow) {
  MainFrame* f = open_window();
  testkit::TempDir dir;
  std::string text;
  for (int i = 1; i <= 300; ++i) text += "line " + std::to_string(i) + "\n";
  testkit::write_text(dir.str("report.txt"), text);
  std::string title;
  int pages = 0;
  g_print_hook = [&](wxWindow*, wxPrintout& job) {
    title = job.GetTitle().utf8_string();
    auto* lines = dynamic_cast<LinesPrintout*>(&job);
    if (!lines) return false;
    wxBitmap page(850, 1100);
    wxMemoryDC dc(page);
    lines->paginate(dc, wxSize(850, 1100), 100);
    pages = lines->page_count();
    return true;
  };
  FILE* in = std::fopen(dir.str("report.txt").c_str(), "r");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(print_text_file(in), 0);
  std::fclose(in);
  g_print_hook = nullptr;
  EXPECT_EQ(title, g_product_name);
  EXPECT_GE(pages, 3);
  close_window(f);
}
