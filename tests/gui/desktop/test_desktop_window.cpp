// The main window as a user of a Linux desktop meets it: files pasted after a
// copy in a file manager (the clipboard set from outside by xclip) and dropped
// from outside (an XDND source of our own, tests/gui/xdnd_drop.py), the status
// bar's panels, the tool bar's names.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/listctrl.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/uiaction.h>
#include <wx/treectrl.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <thread>

#include "IO/bigendian.h"
#include "IO/iodmg.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/project.h"
#include "dialog_driver.h"
#include "gui/mainframe.h"
#include "gui/menumodel.h"
#include "gui/views/documents.h"
#include "gui_fixture.h"
#include "hfs/volume.h"
#include "support/udif_writer.h"
#include "x11probe.h"

using namespace guitest;
using testkit::quote;
using testkit::run;

namespace {

using dialogtest::open_window;

// Closed as a user would, the scratch project's offer of a name declined.
void close_window(MainFrame* f) {
  g_file_dialog_answer = [](const std::string&) { return std::string(); };
  dialogtest::close_window(f);
  g_file_dialog_answer = nullptr;
}

std::vector<std::string> list_names(MainFrame* f) {
  std::vector<std::string> out;
  for (long i = 0; i < f->file_list()->GetItemCount(); ++i) out.push_back(f->file_list()->GetItemText(i).utf8_string());
  std::sort(out.begin(), out.end());
  return out;
}

// A file URI as file managers write it: every byte outside the unreserved set escaped.
std::string file_uri(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += char(c);
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    }
  }
  return uri;
}

// The clipboard owned by xclip, offering the file's bytes as that type, until
// the owner is ended (at scope exit) or another program takes the clipboard.
class OutsideClipboard {
 public:
  OutsideClipboard(const std::string& type, const std::string& data_file)
      : xclip_({"xclip", "-quiet", "-selection", "clipboard", "-t", type, "-i", data_file},
               {{}, "", "/dev/null", "/dev/null"}) {
    // Served once xclip has taken the clipboard: its targets can be asked.
    for (int i = 0; i < 100; ++i) {
      if (run("xclip -selection clipboard -o -t TARGETS 2>/dev/null").out.find(type) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

 private:
  testkit::Started xclip_;
};

// Drops what data_file holds, offered as type, on the point of the control
// (client coordinates), from another process; pumps this window's events
// while it runs. The tool's output ("accepted"/"finished").
std::string drop_from_outside(MainFrame* f, wxWindow* on, wxPoint at, const std::string& type,
                              const std::string& data_file) {
  ProbeWindow w;
  EXPECT_TRUE(wait_for_window(::getpid(), f->GetTitle().utf8_string(), 3000, &w));
  wxPoint root = on->ClientToScreen(at);
  std::string command = "/usr/bin/python3 " + quote(std::string(CORVANE_SOURCE_DIR) + "/tests/gui/xdnd_drop.py") + " " +
                        std::to_string(w.id) + " " + std::to_string(root.x) + " " + std::to_string(root.y) + " " +
                        quote(type) + " " + quote(data_file);
  testkit::RunResult r;
  bool ended = false;
  std::thread tool([&] {
    r = run(command);
    ended = true;
  });
  pump(20000, [&] { return ended; });
  tool.join();
  pump(500);  // the copy runs once the drop has ended
  return r.out + r.err;
}

// A PC folder of files whose names need escapes in a URI.
struct PcFiles {
  testkit::TempDir dir;
  std::string src = dir.str("pc files");
  PcFiles() {
    testkit::fs::create_directories(src + "/Dossier neuf");
    testkit::write_text(src + "/a b.txt", "a b");
    testkit::write_text(src + "/\xC3\xA9t\xC3\xA9 #1.txt", "summer");
    testkit::write_text(src + "/100%.txt", "all");
    testkit::write_text(src + "/Dossier neuf/inner.txt", "inner");
  }
  std::string path(const std::string& leaf) const { return src + "/" + leaf; }
};

// An HFS volume in an Apple partition map, made by the engine.
std::string make_hfs_image(const testkit::TempDir& dir) {
  std::string img = dir.str("drop.hfs"), message;
  EXPECT_EQ(new_partition_image(img, false, 4, "Drop Vol", message), 0) << message;
  EXPECT_EQ(run("hmount " + quote(img) + " 1 >/dev/null && hmkdir :Inbox && humount >/dev/null").rc, 0);
  return img;
}

// hls's names in a folder of the image (":" the root).
std::vector<std::string> hls_names(const std::string& image, const std::string& folder) {
  testkit::RunResult r = run("hmount " + quote(image) + " 1 >/dev/null && hls -1a " + quote(folder) +
                             "; rc=$?; humount >/dev/null; exit $rc");
  EXPECT_EQ(r.rc, 0) << r.err;
  std::vector<std::string> names;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.push_back(line);
  std::sort(names.begin(), names.end());
  return names;
}

// A project whose root holds `files` files and nothing else, written record
// by record as the store keeps them (sorted by name), in a moment.
std::string make_wide_project(const testkit::TempDir& dir, uint32_t files) {
  std::string path = dir.str("wide.cvpr");
  EXPECT_EQ(create_project_file(path, 0), 0);
  FILE* f = std::fopen(path.c_str(), "r+b");
  ProjectHeader h;
  EXPECT_TRUE(read_project_header(f, h));
  h.file_count = files;
  h.last_file_serial = files;
  EXPECT_TRUE(write_project_header(f, h));
  std::vector<uint8_t> block(size_t(files) * k_project_record_size);
  for (uint32_t i = 0; i < files; ++i) {
    ProjectRecord r;
    r.parent_id = 1;
    r.id = -int32_t(i + 1);
    set_iso_view(r, 1);
    set_hfs_view(r, 1);
    r.data_size = 100;
    r.pc_folder = dir.str("") + "/";
    r.long_name = r.pc_name = r.hfs_name = format_text("f%06u.txt", i);
    std::memcpy(r.type_creator, "TEXTttxt", 8);
    encode_project_record(r, std::span<uint8_t>(block.data() + size_t(i) * k_project_record_size, k_project_record_size));
  }
  std::fseek(f, long(k_project_record_size), SEEK_SET);
  EXPECT_EQ(std::fwrite(block.data(), 1, block.size(), f), block.size());
  std::fclose(f);
  return path;
}

// The width the status bar gives panel i, against the width its text takes.
void expect_panel_holds_its_text(wxStatusBar* bar, int i) {
  wxRect field;
  ASSERT_TRUE(bar->GetFieldRect(i, field));
  int text = bar->GetTextExtent(bar->GetStatusText(i)).x;
  EXPECT_GE(field.width, text + 2 * bar->GetBorderX()) << "panel " << i << ": " << bar->GetStatusText(i).utf8_string();
}

}  // namespace

// A folder of 100,000 files: its count stands whole in the status bar, in
// English and in French, as the engine counts the folder's records; a switch
// of language changes the counts' words and the Type column at once.
TEST(DesktopWindow, StatusPanelsHoldTheirCountsWholeInEitherLanguage) {
  testkit::TempDir dir;
  std::string project = make_wide_project(dir, 100000);
  testkit::write_text(dir.str("kinds.sig"), "txt,TEXTttxt,Text document\n#[1]\ntxt,TEXTttxt,Document texte\n");
  save_signature_table_path(dir.str("kinds.sig").c_str());
  MainFrame* f = open_window({project});
  ASSERT_NE(g_project_file, nullptr);
  ASSERT_EQ(count_children(g_project_file, 1), 100000u);
  wxStatusBar* bar = f->GetStatusBar();
  for (int offset : {0, 10000}) {
    SCOPED_TRACE(offset);
    f->run_command(offset ? "Fr1" : "En2");
    pump(200);
    EXPECT_EQ(bar->GetStatusText(3).utf8_string(), format_text(ui_text(1015).c_str(), 100000));
    EXPECT_EQ(bar->GetStatusText(0).utf8_string(), ui_text(1013));
    EXPECT_EQ(f->file_list()->GetItemText(0, 1).utf8_string(), offset ? "Document texte" : "Text document");
    for (int i = 0; i < 4; ++i) expect_panel_holds_its_text(bar, i);
    EXPECT_TRUE(screenshot(f->GetTitle().utf8_string(), offset ? "desktop_status_fr" : "desktop_status_en"));
  }
  f->run_command("En2");
  close_window(f);
  save_signature_table_path("");
}

// After a copy in a GTK file manager (x-special/gnome-copied-files) or a Qt
// one (text/uri-list, CR LF line ends), "Paste from Explorer" adds those files
// under their own names, escapes decoded; a clipboard with only text offers nothing.
TEST(DesktopWindow, PasteTakesWhatFileManagersPutOnTheClipboard) {
  REQUIRE_TOOL("xclip");
  PcFiles pc;
  MainFrame* f = open_window();
  f->run_command("VH1");  // the hybrid view lists the PC names
  {
    testkit::write_text(pc.dir.str("text"), pc.path("a b.txt"));
    OutsideClipboard clip("UTF8_STRING", pc.dir.str("text"));
    EXPECT_NE(f->popup_state(false).find("DrProj\t" + ui_text(2055) + "\t0"), std::string::npos)
        << "text on the clipboard is no list of files";
  }
  {
    testkit::write_text(pc.dir.str("uris"), "# copied\r\n" + file_uri(pc.path("a b.txt")) + "\r\n" +
                                                file_uri(pc.path("Dossier neuf")) + "/\r\n");
    OutsideClipboard clip("text/uri-list", pc.dir.str("uris"));
    EXPECT_NE(f->popup_state(false).find("DrProj\t" + ui_text(2055) + "\t1"), std::string::npos) << f->popup_state(false);
    f->run_command("DrExpl");
    pump(300);
    EXPECT_EQ(list_names(f), (std::vector<std::string>{"Dossier neuf", "a b.txt"}));
  }
  {
    testkit::write_text(pc.dir.str("copied"), "copy\n" + file_uri(pc.path("\xC3\xA9t\xC3\xA9 #1.txt")) + "\n" +
                                                  file_uri(pc.path("100%.txt")));
    OutsideClipboard clip("x-special/gnome-copied-files", pc.dir.str("copied"));
    f->run_command("DrExpl");
    pump(300);
    EXPECT_EQ(list_names(f),
              (std::vector<std::string>{"100%.txt", "Dossier neuf", "a b.txt", "\xC3\xA9t\xC3\xA9 #1.txt"}));
  }
  // The engine's count of the root's records agrees with the list.
  ASSERT_NE(g_project_file, nullptr);
  EXPECT_EQ(count_children(g_project_file, 1), 4u);
  close_window(f);
}

// A drop from outside the program onto the list copies the files onto the
// open volume, where hfsutils finds them; afterwards the status bar shows its
// panels and the folder's counts again, not the copy's one-panel text.
TEST(DesktopWindow, DropFromOutsideCopiesOntoTheVolumeAndTheStatusBarComesBack) {
  REQUIRE_TOOL("hmount");
  PcFiles pc;
  std::string image = make_hfs_image(pc.dir);
  MainFrame* f = open_window();
  f->run_command("MPart");
  ASSERT_TRUE(f->open_document(image, 1));
  pump(200);
  testkit::write_text(pc.dir.str("drop"), file_uri(pc.path("a b.txt")) + "\r\n" +
                                              file_uri(pc.path("\xC3\xA9t\xC3\xA9 #1.txt")) + "\r\n");
  answer_forms({{"MessNon", "", ""}});  // no question is expected; a form would be answered No
  std::string said = drop_from_outside(f, f->file_list(), wxPoint(60, 120), "text/uri-list", pc.dir.str("drop"));
  answer_forms({});
  EXPECT_NE(said.find("finished"), std::string::npos) << said;
  pump(300);
  // hls prints the Mac Roman bytes: "\x8E" is the volume's é.
  EXPECT_EQ(hls_names(image, ":"), (std::vector<std::string>{"Inbox", "a b.txt", "\x8Et\x8E #1.txt"}));
  wxStatusBar* bar = f->GetStatusBar();
  ASSERT_EQ(bar->GetFieldsCount(), 5) << "the copy's one-panel status stayed";
  EXPECT_EQ(bar->GetStatusText(0).utf8_string(), ui_text(1113));
  EXPECT_EQ(bar->GetStatusText(2).utf8_string(), format_text(ui_text(1016).c_str(), 1));
  EXPECT_EQ(bar->GetStatusText(3).utf8_string(), format_text(ui_text(1015).c_str(), 2));
  EXPECT_TRUE(screenshot(f->GetTitle().utf8_string(), "desktop_after_drop"));

  // Onto a folder of the tree: into that folder.
  wxTreeCtrl* tree = f->folder_tree();
  wxTreeItemIdValue cookie;
  wxTreeItemId inbox = tree->GetFirstChild(tree->GetRootItem(), cookie);
  ASSERT_TRUE(inbox.IsOk());
  wxRect at;
  ASSERT_TRUE(tree->GetBoundingRect(inbox, at, true));
  testkit::write_text(pc.dir.str("drop2"), file_uri(pc.path("100%.txt")) + "\n");
  said = drop_from_outside(f, tree, at.GetPosition() + wxPoint(4, at.height / 2), "text/uri-list", pc.dir.str("drop2"));
  EXPECT_NE(said.find("finished"), std::string::npos) << said;
  EXPECT_EQ(hls_names(image, ":Inbox"), (std::vector<std::string>{"100%.txt"}));
  EXPECT_EQ(bar->GetFieldsCount(), 5);

  // Onto a folder's row of the list: into that folder too.
  f->run_command("PerePart");
  pump(100);
  std::vector<std::string> rows;
  for (long i = 0; i < f->file_list()->GetItemCount(); ++i) rows.push_back(f->file_list()->GetItemText(i).utf8_string());
  long row = long(std::find(rows.begin(), rows.end(), "Inbox") - rows.begin());
  ASSERT_LT(row, long(rows.size()));
  ASSERT_TRUE(f->file_list()->GetItemRect(row, at));
  testkit::write_text(pc.dir.str("drop3"), file_uri(pc.path("Dossier neuf")) + "\n");
  said = drop_from_outside(f, f->file_list(), at.GetPosition() + wxPoint(20, at.height / 2), "text/uri-list",
                           pc.dir.str("drop3"));
  EXPECT_NE(said.find("finished"), std::string::npos) << said;
  EXPECT_EQ(hls_names(image, ":Inbox"), (std::vector<std::string>{"100%.txt", "Dossier neuf"}));
  EXPECT_EQ(hls_names(image, ":Inbox:Dossier neuf"), (std::vector<std::string>{"inner.txt"}));
  close_window(f);
}

// A tool button's tooltip, shown as the pointer rests on it, does not float
// over the form its click opens, nor stay once the form has closed.
TEST(DesktopWindow, NoTooltipFloatsOverTheFormAToolOpensOrAfterIt) {
  MainFrame* f = open_window();
  wxToolBar* bar = dynamic_cast<wxToolBar*>(wxWindow::FindWindowByName("ToolProj", f));
  ASSERT_NE(bar, nullptr);
  auto tooltips = [] {
    int n = 0;
    for (const ProbeWindow& w : windows_of(::getpid())) n += w.tooltip;
    return n;
  };
  int during = -1;
  bool opened = false;
  wxUIActionSimulator pointer;
  // Along the tool bar until a click opens a form: the compile button, whose
  // message says the empty scratch project holds nothing to compile.
  wxPoint at;
  for (int x = 100; x < 320 && !opened; x += 8) {
    at = bar->ClientToScreen(wxPoint(x, bar->GetClientSize().y / 2));
    pointer.MouseMove(at);
    pump(800, [&] { return tooltips() > 0; });
    if (tooltips() == 0) continue;  // between two buttons
    answer_forms({{"MessFermer", "", "desktop_form_over_tool"}, {"Annuler", "", ""}});
    auto answer = g_modal_driver;
    g_modal_driver = [&, answer](wxDialog& d) {
      opened = true;
      pump(300);
      during = tooltips();
      answer(d);
    };
    pointer.MouseClick();
    pump(1200, [&] { return opened && g_modal_depth == 0; });
    answer_forms({});
  }
  ASSERT_TRUE(opened) << "no tool opened a form";
  EXPECT_EQ(during, 0) << "the tool's tooltip floated over its form";
  // Once it has closed, the only tooltip is the button's own, by the pointer still on it.
  pump(1200);
  for (const ProbeWindow& w : windows_of(::getpid()))
    if (w.tooltip) {
      EXPECT_LT(std::abs(w.y - at.y), 80) << "a tooltip floats at " << w.x << "," << w.y;
    }
  pointer.MouseMove(at + wxPoint(0, 200));
  pump(1200);
  EXPECT_EQ(tooltips(), 0) << "a tooltip stayed once the pointer had left";

  // A form's own tooltip, its help button's, does not outlive the form closed from the keyboard.
  bool shown = false;
  answer_forms({});
  g_modal_driver = [&](wxDialog& d) {
    pump(300);  // shown where it stays
    wxPoint help = d.FindWindow("Aide")->GetScreenRect().GetPosition();
    pointer.MouseMove(help + wxPoint(5, 5));
    pump(100);
    pointer.MouseMove(help + wxPoint(8, 8));
    pump(2000, [&] { return tooltips() > 0; });
    shown = tooltips() > 0;
    d.EndModal(wxID_CLOSE);
  };
  show_message("A message whose help button is pointed at.");
  g_modal_driver = nullptr;
  pump(500);
  EXPECT_TRUE(shown) << "the help button showed no tooltip";
  EXPECT_EQ(tooltips(), 0) << "the form's tooltip stayed after it closed";
  close_window(f);
}

// The folder tree's tooltip, the whole name of the item the pointer rests on
// when the tree's width cuts it, goes with that item: a form opened and closed
// meanwhile does not give it back to float wherever the pointer is now, nor
// does it stay with the tree once the tree shows another document (an image
// that asks its questions as it opens); in both languages.
TEST(DesktopWindow, TheTreesTooltipLeavesWithItsItem) {
  testkit::TempDir dir;
  for (const char* name : {"uuid-dev", "vim-common", "zlib1g"}) {
    testkit::fs::create_directories(dir.path() / "doc" / name);
    testkit::write_text(dir.path() / "doc" / name / "copyright", "text\n");
  }
  std::string project = dir.str("docs.cvpr");
  ASSERT_EQ(run(quote(QUORVEL_PATH) + " -i " + quote(project) + " " + quote(dir.str("doc"))).rc, 0);
  std::string hfs = make_hfs_image(dir);
  std::vector<uint8_t> bytes = testkit::read_file(hfs);
  testkit::UdifPartition part{"disk image (Apple_HFS : 0)", bytes,
                              testkit::uniform_chunks(k_chunk_zlib, uint32_t(bytes.size() / 512), 256)};
  std::string dmg = dir.str("docs.dmg");
  testkit::write_file(dmg, testkit::make_udif({part}));
  write_setting_text("Rect", "50,50,700,450,120");  // a tree too narrow for "vim-common" at its depth
  MainFrame* f = open_window({project});
  wxTreeCtrl* tree = f->folder_tree();
  tree->ExpandAll();
  pump(300);
  auto tooltips = [] {
    int n = 0;
    for (const ProbeWindow& w : windows_of(::getpid())) n += w.tooltip;
    return n;
  };
  wxUIActionSimulator pointer;
  auto rest_on = [&](const wxPoint& at) {
    pointer.MouseMove(at);
    pump(100);
    pointer.MouseMove(at + wxPoint(3, 2));
  };
  const wxPoint over_list = f->file_list()->GetScreenRect().GetPosition() + wxPoint(200, 150);
  const wxPoint low_in_tree = tree->GetScreenRect().GetPosition() + wxPoint(30, tree->GetClientSize().y - 30);
  for (const char* language : {"En2", "Fr1"}) {
    f->run_command(language);
    wxTreeItemId vim;
    wxTreeItemIdValue a, b;
    for (wxTreeItemId n = tree->GetFirstChild(tree->GetRootItem(), a); n.IsOk(); n = tree->GetNextChild(tree->GetRootItem(), a))
      for (wxTreeItemId c = tree->GetFirstChild(n, b); c.IsOk(); c = tree->GetNextChild(n, b))
        if (tree->GetItemText(c) == "vim-common") vim = c;
    ASSERT_TRUE(vim.IsOk());
    wxRect item;
    ASSERT_TRUE(tree->GetBoundingRect(vim, item, true));
    ASSERT_GT(item.GetRight(), tree->GetClientSize().x) << "the name is not cut";
    rest_on(tree->ClientToScreen(item.GetPosition() + wxPoint(6, 5)));
    pump(3000, [&] { return tooltips() > 0; });
    ASSERT_EQ(tooltips(), 1) << "the cut name shows no tooltip";
    // A form, during which the pointer moves over the list, where its button is.
    g_modal_driver = [&](wxDialog& d) {
      pump(300);
      rest_on(over_list);
      pump(300);
      d.EndModal(wxID_CLOSE);
    };
    show_message("A form over the tree.");
    g_modal_driver = nullptr;
    pump(1500);
    EXPECT_EQ(tooltips(), 0) << "the tree's tooltip floats over the list";
    EXPECT_TRUE(save_window_png(screen_window(), screenshot_path(std::string("tree_tooltip_gone_") + language)));
    rest_on(tree->ClientToScreen(item.GetPosition() + wxPoint(6, 5)));  // back on the item for the next round
    pump(3000, [&] { return tooltips() > 0; });
  }
  f->run_command("En2");
  // The image: its questions (expand it? keep the expansion?) asked while the
  // pointer rests low in the tree, where the image's tree shows no name.
  g_modal_driver = [&, answer = 0](wxDialog& d) mutable {
    pump(300);
    rest_on(low_in_tree);
    pump(300);
    if (wxWindow* b = d.FindWindow(answer++ == 0 ? "MessOui" : "MessNon")) {
      wxCommandEvent click(wxEVT_BUTTON, b->GetId());
      click.SetEventObject(b);
      b->GetEventHandler()->ProcessEvent(click);
    }
    if (d.IsModal()) d.EndModal(wxID_CANCEL);
  };
  f->run_command("MPart");
  ASSERT_TRUE(f->open_document(dmg, 1));
  g_modal_driver = nullptr;
  rest_on(low_in_tree);
  pump(1500);
  EXPECT_EQ(tooltips(), 0) << "a name of the project's tree floats over the image's";
  EXPECT_EQ(tree->GetToolTip(), nullptr);
  EXPECT_TRUE(save_window_png(screen_window(), screenshot_path("tree_tooltip_gone_image")));
  f->run_command("Fermer2");
  close_window(f);
  write_setting_text("Rect", "");
}

// A compressed image the expansion cannot undo is named for what it is before
// any question: one message naming the compression, no "uncompress?" nor
// "save?", and nothing opened; in English and in French.
TEST(DesktopWindow, DmgOfAnUnknownCompressionIsToldBeforeAnyQuestion) {
  testkit::TempDir dir;
  std::string hfs = make_hfs_image(dir);
  std::vector<uint8_t> bytes = testkit::read_file(hfs);
  testkit::UdifPartition part{"disk image (Apple_HFS : 0)", bytes,
                              testkit::uniform_chunks(k_chunk_zlib, uint32_t(bytes.size() / 512), 256)};
  testkit::UdifOptions lzfse;
  lzfse.edit_table = [](size_t, std::vector<uint8_t>& table) { put_be32(testkit::table_chunk(table, 3), k_chunk_lzfse); };
  std::string dmg = dir.str("new.dmg");
  testkit::write_file(dmg, testkit::make_udif({part}, lzfse));
  MainFrame* f = open_window();
  f->run_command("MPart");
  for (int offset : {0, 10000}) {
    SCOPED_TRACE(offset);
    f->run_command(offset ? "Fr1" : "En2");
    answer_forms({{"MessFermer", "", offset ? "desktop_dmg_lzfse_fr" : "desktop_dmg_lzfse_en"}});
    EXPECT_FALSE(f->open_document(dmg, 1));
    pump(100);
    ASSERT_EQ(g_seen_forms.size(), 1u) << "a question came before the refusal";
    EXPECT_EQ(g_seen_forms[0].text, format_text(ui_text(6775).c_str(), dmg.c_str(), "LZFSE"));
    EXPECT_FALSE(g_volume.mounted);
  }
  answer_forms({});
  f->run_command("En2");
  close_window(f);
}

// A damaged project: what is wrong in a sentence, its first faults, and the
// offer of a look at it read-only. Declined, nothing opens; taken, the views
// show what it holds (as the PC folder it came from holds it), every edit is
// refused, and the file keeps every byte; a file far longer than its records
// opens as soon.
TEST(DesktopWindow, DamagedProjectIsToldAndOffersItsReadOnlyView) {
  PcFiles pc;
  std::string project = pc.dir.str("hurt.cvpr");
  std::string q = quote(QUORVEL_PATH) + " ";
  ASSERT_EQ(run(q + "-f " + quote(project) + " hurt").rc, 0);
  ASSERT_EQ(run(q + "-i " + quote(project) + " " + quote(pc.src)).rc, 0);
  {
    FILE* f = std::fopen(project.c_str(), "r+b");
    ProjectRecord r;
    bool found = false;
    while (!found && read_project_record(f, r)) found = r.is_folder() && r.pc_name == "Dossier neuf";
    ASSERT_TRUE(found);
    ASSERT_TRUE(find_record_by_id(f, r, r.id));
    r.file_count() += 3;
    ASSERT_TRUE(write_project_record(f, r));
    std::fclose(f);
  }
  std::string before = testkit::sha256_of(project);
  MainFrame* f = open_window();
  for (int offset : {10000, 0}) {
    SCOPED_TRACE(offset);
    f->run_command(offset ? "Fr1" : "En2");
    answer_forms({{"MessNon", "", offset ? "desktop_damaged_fr" : ""}});
    EXPECT_FALSE(f->open_document(project, 0));
    ASSERT_EQ(g_seen_forms.size(), 1u);
    // The form wraps its text: compared with its line breaks as blanks.
    auto flat = [](std::string t) {
      std::string out;
      for (char c : t)
        if (!(std::isspace(static_cast<unsigned char>(c)) && !out.empty() && out.back() == ' '))
          out += std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
      return out;
    };
    const std::string text = flat(g_seen_forms[0].text);
    EXPECT_EQ(text.rfind(flat(format_text(ui_text(6778).c_str(), project.c_str(), ui_text(6788).c_str())), 0), 0u)
        << text;
    EXPECT_NE(text.find(flat(ui_text(6780))), std::string::npos) << text;
    EXPECT_NE(text.find(flat(ui_text(6781))), std::string::npos) << text;
    EXPECT_LT(std::count(g_seen_forms[0].text.begin(), g_seen_forms[0].text.end(), '\n'), 12) << text;
  }
  answer_forms({{"MessOui", "", "desktop_damaged_en"}});
  ASSERT_TRUE(f->open_document(project, 0));
  answer_forms({});
  f->run_command("VH1");
  pump(200);
  EXPECT_EQ(list_names(f), (std::vector<std::string>{"hurt", "pc files"}));
  wxListEvent open(wxEVT_LIST_ITEM_ACTIVATED, f->file_list()->GetId());
  open.SetEventObject(f->file_list());
  open.m_itemIndex = -1;
  for (size_t i = 0; i < f->rows().size(); ++i)
    if (display_name(f->rows()[i]) == "pc files") open.m_itemIndex = long(i);
  ASSERT_GE(open.m_itemIndex, 0);
  f->file_list()->GetEventHandler()->ProcessEvent(open);
  pump(200);
  std::vector<std::string> pc_names;
  for (const auto& e : testkit::fs::directory_iterator(pc.src)) pc_names.push_back(e.path().filename().string());
  std::sort(pc_names.begin(), pc_names.end());
  EXPECT_EQ(list_names(f), pc_names);
  EXPECT_EQ(f->GetStatusBar()->GetStatusText(4).utf8_string(), ui_text(6798));
  std::string shown = f->dump_texts();
  for (const char* tool : {"DelProj", "MkDirProj", "CompProj", "WizProj"})
    EXPECT_NE(shown.find(std::string("tool-enabled\t") + tool + "\t0"), std::string::npos) << tool;
  EXPECT_EQ(f->file_list()->GetDropTarget(), nullptr) << "a read-only project takes drops";
  f->run_command("MD");  // refused: no form, nothing written
  EXPECT_EQ(g_modal_depth, 0);
  EXPECT_TRUE(screenshot(f->GetTitle().utf8_string(), "desktop_damaged_view"));
  f->run_command("Fermer1");
  EXPECT_EQ(testkit::sha256_of(project), before);
  EXPECT_FALSE(testkit::fs::exists(pc.dir.str("hurt.bak")));
  // Its length set far past its records (a sparse file of some 700 GB), the
  // view opens as soon and shows the same: what the views read stops at the
  // first record that is no item.
  ASSERT_EQ(::truncate(project.c_str(), off_t(1000000000) * off_t(k_project_record_size)), 0);
  answer_forms({{"MessOui", "", ""}});
  ASSERT_TRUE(f->open_document(project, 0));
  answer_forms({});
  pump(200);
  EXPECT_EQ(list_names(f), (std::vector<std::string>{"hurt", "pc files"}));
  f->run_command("Fermer1");
  close_window(f);
}

// The desktop hands over a document by what its bytes are, as the shared
// content types judge them, when its name says nothing: a bare HFS volume
// named ".hdv" (hformat), an Apple disk with no extension (parted, hformat), a
// project with none (quorvel) open as the same bytes named ".hfs" or ".cvpr"
// would; a text file with no extension is still no document, and the one open
// stays open.
TEST(DesktopWindow, DocumentsWhoseNameSaysNothingAreJudgedByTheirFirstSectors) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("parted");
  testkit::TempDir dir;
  const std::string bare = dir.str("floppy.hdv"), mapped = dir.str("apple disk"), project = dir.str("project copy"),
                    notes = dir.str("notes");
  auto r = run("truncate -s 1440K " + quote(bare) + " && hformat -l Bare " + quote(bare) + " && truncate -s 8M " +
               quote(mapped) + " && parted -s " + quote(mapped) + " mklabel mac mkpart p1 hfs 1MiB 100% && hformat -l " +
               "Mapped " + quote(mapped) + " 1 && " + quote(QUORVEL_PATH) + " -l " + quote(dir.str("made.cvpr")) +
               " LABEL && mv " + quote(dir.str("made.cvpr")) + " " + quote(project));
  ASSERT_EQ(r.rc, 0) << r.err;
  testkit::write_text(notes, "plain text\n");

  answer_forms({{"MessFermer", "", ""}});
  MainFrame* f = open_window({bare});  // the start's own argument
  EXPECT_EQ(g_working_mode, k_mode_partition);
  ASSERT_TRUE(g_volume.mounted);
  EXPECT_EQ(f->GetTitle().utf8_string(), "floppy.hdv [Corvane]");
  wxTreeCtrl* tree = f->folder_tree();
  EXPECT_EQ(tree->GetItemText(tree->GetRootItem()).utf8_string(), "Bare");
  EXPECT_TRUE(screenshot("floppy.hdv [Corvane]", "desktop_bare_hdv"));

  // Handed over later, as from a second start: the Apple disk, then a text file.
  f->handle_command_argument({mapped});
  pump(200);
  ASSERT_TRUE(g_volume.mounted);
  EXPECT_EQ(f->GetTitle().utf8_string(), "apple disk [Corvane]");
  EXPECT_EQ(tree->GetItemText(tree->GetRootItem()).utf8_string(), "Mapped");
  EXPECT_TRUE(g_seen_forms.empty()) << g_seen_forms[0].text;
  f->handle_command_argument({notes});
  pump(200);
  ASSERT_EQ(g_seen_forms.size(), 1u);
  EXPECT_EQ(g_seen_forms[0].text, format_text(ui_text(1386).c_str(), notes.c_str()));
  EXPECT_TRUE(g_volume.mounted) << "the image open stays open";
  EXPECT_EQ(f->GetTitle().utf8_string(), "apple disk [Corvane]");
  EXPECT_EQ(tree->GetItemText(tree->GetRootItem()).utf8_string(), "Mapped");
  EXPECT_EQ(testkit::read_text(notes), "plain text\n");

  f->handle_command_argument({project});
  pump(200);
  EXPECT_EQ(g_working_mode, k_mode_project);
  EXPECT_NE(g_project_file, nullptr);
  EXPECT_EQ(f->GetTitle().utf8_string(), "project copy [Corvane]");
  EXPECT_EQ(g_seen_forms.size(), 1u);
  answer_forms({});
  close_window(f);
}
