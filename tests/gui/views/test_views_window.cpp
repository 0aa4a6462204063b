// The main window's tree and list over images other tools made, and the
// documents of the three modes handled through the window's own commands,
// each judged by outside tools.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <wx/dcclient.h>
#include <wx/dnd.h>
#include <wx/listctrl.h>
#include <wx/checkbox.h>
#include <wx/stattext.h>
#include <wx/spinctrl.h>
#include <wx/splitter.h>
#include <wx/textctrl.h>
#include <wx/treectrl.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <sstream>

#include "IO/iodmg.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "dialog_driver.h"
#include "gui/commands.h"
#include "gui/desktop/desktop_files.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/printing.h"
#include "gui/mainframe.h"
#include "gui/mainframe_parts.h"
#include "gui/mainviews.h"
#include "gui/menumodel.h"
#include "gui/views/documents.h"
#include "gui_fixture.h"
#include "hfs/volume.h"
#include "support/hfs_catalog_kit.h"
#include "support/udif_writer.h"

using namespace guitest;
using testkit::quote;
using testkit::run;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

MainFrame* open_window() {
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({});
  pump(300);
  return f;
}

// The window in Partition Mode with the image open.
MainFrame* open_image_window(const std::string& image) {
  MainFrame* f = open_window();
  f->run_command("MPart");
  EXPECT_TRUE(f->open_document(image, 1));
  return f;
}

void close_window(MainFrame* f) {
  g_file_dialog_answer = nullptr;
  f->Close(true);
  pump(300);
}

// Column 0 of the list control, row by row, as the control shows it.
std::vector<std::string> list_names(MainFrame* f, int column = 0) {
  std::vector<std::string> out;
  wxListCtrl* l = f->file_list();
  for (long i = 0; i < l->GetItemCount(); ++i) out.push_back(l->GetItemText(i, column).utf8_string());
  return out;
}

// The texts of the tree's first level.
std::vector<std::string> first_level(MainFrame* f) {
  std::vector<std::string> out;
  wxTreeCtrl* t = f->folder_tree();
  wxTreeItemIdValue cookie;
  wxTreeItemId root = t->GetRootItem();
  for (wxTreeItemId c = t->GetFirstChild(root, cookie); c.IsOk(); c = t->GetNextChild(root, cookie))
    out.push_back(t->GetItemText(c).utf8_string());
  return out;
}

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Names sorted as the list sorts them: without regard to case.
std::vector<std::string> case_blind_sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end(), [](const std::string& a, const std::string& b) { return lower(a) < lower(b); });
  return v;
}

// hls's listing of the root of an HFS image: visible names and which are folders.
struct PeerRoot {
  std::vector<std::string> names, folders;
};

PeerRoot hls_root(const std::string& image) {
  PeerRoot p;
  auto r = run("hmount " + quote(image) + " >/dev/null 2>&1 && hls -lU : && humount >/dev/null");
  EXPECT_EQ(r.rc, 0) << r.err;
  std::istringstream in(r.out);
  std::regex row(R"(^([fFd])\s+.*?\s+[A-Z][a-z]{2} [ \d]\d\s+[\d:]{4,5} (.*)$)");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    p.names.push_back(m[2].str());
    if (m[1].str() == "d") p.folders.push_back(m[2].str());
  }
  return p;
}

// fls's listing of the root of the HFS+ volume at sector start, less the
// volume's own files (their names begin with "$" or hold its private folders).
PeerRoot fls_root(const std::string& image, uint64_t start) {
  PeerRoot p;
  auto r = run("fls -f hfsp -o " + std::to_string(start) + " " + quote(image));
  EXPECT_EQ(r.rc, 0) << r.err;
  std::istringstream in(r.out);
  std::regex row(R"(^([dr])/[dr] \d+:\t(.*)$)");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    std::string name = m[2].str();
    if (name.empty() || name[0] == '$' || name[0] == '.' || name.find("HFS+ Private") != std::string::npos) continue;
    p.names.push_back(name);
    if (m[1].str() == "d") p.folders.push_back(name);
  }
  return p;
}

// A PC folder with folders and files of chosen sizes and dates.
struct SourceTree {
  testkit::TempDir dir;
  std::string src = dir.str("src");
  SourceTree() {
    testkit::fs::create_directories(src + "/Docs/Inner");
    testkit::fs::create_directories(src + "/archive");
    testkit::write_text(src + "/Docs/Inner/deep.txt", "deep");
    testkit::write_text(src + "/alpha.txt", std::string(9, 'a'));
    testkit::write_text(src + "/Beta.txt", std::string(999999, 'b'));
    testkit::write_text(src + "/gamma.txt", std::string(2000000, 'g'));
    testkit::write_text(src + "/Zeta.txt", std::string(10, 'z'));
    // As text "02/03/21" sorts before "12/01/20"; as dates December 2020 comes first.
    EXPECT_EQ(run("touch -d '2021-02-03 10:00' " + quote(src + "/alpha.txt") + " && touch -d '2020-12-01 10:00' " +
                  quote(src + "/Zeta.txt") + " && touch -d '2019-06-15 10:00' " + quote(src + "/gamma.txt") +
                  " && touch -d '2022-08-30 10:00' " + quote(src + "/Beta.txt"))
                  .rc,
              0);
  }
};

void click_column(MainFrame* f, int column) {
  wxListEvent e(wxEVT_LIST_COL_CLICK, f->file_list()->GetId());
  e.SetEventObject(f->file_list());
  e.m_col = column;
  f->file_list()->GetEventHandler()->ProcessEvent(e);
  pump(50);
}

// The rows' keys in display order follow the column's sort, and the control shows the rows' texts.
void expect_sorted(MainFrame* f, int column, bool ascending) {
  const std::vector<FileTableEntry>& rows = f->rows();
  ASSERT_EQ(long(rows.size()), f->file_list()->GetItemCount());
  for (size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(f->file_list()->GetItemText(long(i), column).utf8_string(), list_row_texts(rows[i])[size_t(column)]);
  for (size_t i = 1; i < rows.size(); ++i) {
    const FileTableEntry &a = rows[i - 1], &b = rows[i];
    uint64_t x = column == 2 ? a.data_size : a.modified, y = column == 2 ? b.data_size : b.modified;
    if (ascending) {
      EXPECT_LE(x, y) << "row " << i << " column " << column;
    } else {
      EXPECT_GE(x, y) << "row " << i << " column " << column;
    }
  }
}

// An HFS volume in an Apple partition map (a bare volume opens read-only),
// made by the engine and filled by hfsutils.
std::string make_hfs_image(const testkit::TempDir& dir) {
  std::string img = dir.str("h.hfs"), message;
  EXPECT_EQ(new_partition_image(img, false, 4, "Window Vol", message), 0) << message;
  testkit::write_text(dir.str("t.txt"), "text\n");
  std::string cmds = "hmount " + quote(img) + " 1 >/dev/null";
  for (const char* d : {":Reports", ":music", ":Reports:2024"}) cmds += " && hmkdir " + quote(d);
  for (const char* f : {":readme", ":Index", ":zebra", ":Reports:q1", ":hidden"})
    cmds += " && hcopy -r " + quote(dir.str("t.txt")) + " " + quote(f);
  cmds += " && hattrib +i :hidden && humount >/dev/null";
  EXPECT_EQ(run(cmds).rc, 0);
  return img;
}

// Answers the yes/no forms in order, then closes every other form.
void answer_yes_no(std::initializer_list<bool> answers) {
  std::vector<FormAnswer> a;
  for (bool yes : answers) a.push_back({yes ? "MessOui" : "MessNon", "", ""});
  a.push_back({"MessFermer", "", ""});
  answer_forms(a);
}

}  // namespace

TEST(ViewsWindow, ListAndTreeShowWhatOutsideToolsList) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("xorriso");
  REQUIRE_TOOL("genisoimage");
  REQUIRE_TOOL("sgdisk");
  REQUIRE_TOOL("fls");
  SourceTree t;
  std::string hfs = make_hfs_image(t.dir);
  std::string plus = t.dir.str("x.iso"), hybrid = t.dir.str("g.iso"), gpt = t.dir.str("gpt.img");
  ASSERT_EQ(run("xorriso -as mkisofs -hfsplus -J -r -V CDVOL -o " + quote(plus) + " " + quote(t.src) + " 2>/dev/null").rc, 0);
  ASSERT_EQ(run("genisoimage -quiet -hfs -J -r -V CDVOL -hfs-volid 'Mac Vol' -o " + quote(hybrid) + " " + quote(t.src)).rc,
            0);
  // A GPT disk: an EFI partition first, the HFS+ volume of the xorriso image second.
  uint64_t plus_start = 0, plus_size = 0;
  {
    ImageDocument doc;
    std::string message;
    ASSERT_EQ(open_image_document(plus, 0, doc, message), 0) << message;
    plus_start = doc.partitions[0].start;
    plus_size = doc.partitions[0].size;
    close_image_document(doc);
  }
  ASSERT_EQ(run("truncate -s 32M " + quote(gpt) + " && sgdisk -n 1:2048:+2M -t 1:EF00 -n 2:6144:+" +
                std::to_string(plus_size / 2 + 64) + "K -t 2:AF00 -c 2:'Mac HD' " + quote(gpt) + " >/dev/null && dd if=" +
                quote(plus) + " of=" + quote(gpt) + " bs=512 skip=" + std::to_string(plus_start) +
                " count=" + std::to_string(plus_size) + " seek=6144 conv=notrunc status=none")
                .rc,
            0);
  // A UDIF image of the HFS volume.
  std::vector<uint8_t> bytes = testkit::read_file(hfs);
  testkit::UdifPartition part{"disk image (Apple_HFS : 0)", bytes,
                              testkit::uniform_chunks(k_chunk_zlib, uint32_t(bytes.size() / 512), 128)};
  std::string dmg = t.dir.str("h.dmg");
  testkit::write_file(dmg, testkit::make_udif({part}));

  struct Case {
    std::string image;
    PeerRoot peer;
    std::string root_text;
  };
  std::vector<Case> cases = {{hfs, hls_root(hfs), "Window Vol"},
                             {hybrid, hls_root(hybrid), "Mac Vol"},
                             {plus, fls_root(plus, plus_start), ""},
                             {gpt, fls_root(gpt, 6144), ""},
                             {dmg, hls_root(hfs), "Window Vol"}};
  MainFrame* f = open_window();
  f->run_command("MPart");
  int shot = 0;
  for (Case& c : cases) {
    SCOPED_TRACE(c.image);
    ASSERT_FALSE(c.peer.names.empty());
    answer_yes_no({true, false});  // the DMG: expand it, into a temporary file
    ASSERT_TRUE(f->open_document(c.image, 1));
    answer_forms({});
    pump(100);
    EXPECT_EQ(list_names(f), case_blind_sorted(c.peer.names));
    EXPECT_EQ(first_level(f), case_blind_sorted(c.peer.folders)) << "the tree sorts as the list does";
    if (!c.root_text.empty()) {
      EXPECT_EQ(f->folder_tree()->GetItemText(f->folder_tree()->GetRootItem()), c.root_text);
    }
    EXPECT_EQ(g_partition_folder, 2u);
    if (shot++ == 2) {
      EXPECT_TRUE(screenshot(f->GetTitle().utf8_string(), "views_partition_hfsplus"));
    }
    // Double-click on a folder row opens it; the parent button comes back.
    wxListCtrl* l = f->file_list();
    std::vector<std::string> names = list_names(f);
    long row = long(std::find(names.begin(), names.end(), c.peer.folders.front()) - names.begin());
    ASSERT_LT(row, l->GetItemCount());
    wxListEvent open(wxEVT_LIST_ITEM_ACTIVATED, l->GetId());
    open.SetEventObject(l);
    open.m_itemIndex = row;
    l->GetEventHandler()->ProcessEvent(open);
    pump(50);
    EXPECT_NE(g_partition_folder, 2u);
    EXPECT_EQ(f->folder_tree()->GetItemText(f->folder_tree()->GetSelection()).utf8_string(), c.peer.folders.front());
    f->run_command("PerePart");
    pump(50);
    EXPECT_EQ(g_partition_folder, 2u);
    f->run_command("PerePart");  // at the root: the root is listed again, never its parent (1)
    EXPECT_EQ(g_partition_folder, 2u);
    std::string opened = f->image().path;
    bool temporary = f->image().expanded_temporary;
    EXPECT_EQ(temporary, c.image == dmg);
    f->run_command("Fermer2");
    if (temporary) {
      EXPECT_FALSE(testkit::fs::exists(opened)) << "the temporary expansion outlived its document";
    }
  }
  close_window(f);
}

TEST(ViewsWindow, ColumnsSortAscendingThenDescendingByValue) {
  REQUIRE_TOOL("xorriso");
  SourceTree t;
  std::string plus = t.dir.str("x.iso");
  ASSERT_EQ(run("xorriso -as mkisofs -hfsplus -J -r -V CDVOL -o " + quote(plus) + " " + quote(t.src) + " 2>/dev/null").rc, 0);
  MainFrame* f = open_window();
  f->run_command("MPart");
  ASSERT_TRUE(f->open_document(plus, 1));
  pump(100);
  for (int column : {2, 5}) {
    SCOPED_TRACE(column);
    click_column(f, column);
    expect_sorted(f, column, true);
    click_column(f, column);
    expect_sorted(f, column, false);
    click_column(f, column);
    expect_sorted(f, column, true);
  }
  // Sizes as numbers: 999,999 bytes before the 2 MB file, whose text ("1,953k") sorts first as text.
  click_column(f, 2);
  std::vector<std::string> names = list_names(f);
  auto at = [&](const char* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_LT(at("alpha.txt"), at("Zeta.txt"));
  EXPECT_LT(at("Beta.txt"), at("gamma.txt"));
  // Dates as dates: December 2020 before February 2021.
  click_column(f, 5);
  names = list_names(f);
  EXPECT_LT(at("gamma.txt"), at("Zeta.txt"));
  EXPECT_LT(at("Zeta.txt"), at("alpha.txt"));
  EXPECT_LT(at("alpha.txt"), at("Beta.txt"));
  // Each column sorts, the signature and type columns too; a selected row keeps its selection.
  f->file_list()->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  int32_t selected = f->rows()[0].id;
  for (int column = 0; column < k_list_columns; ++column) {
    click_column(f, column);
    ASSERT_EQ(f->selected_entries().size(), 1u);
    EXPECT_EQ(f->selected_entries()[0].id, selected);
    click_column(f, column);
    ASSERT_EQ(f->selected_entries().size(), 1u);
    EXPECT_EQ(f->selected_entries()[0].id, selected);
  }
  // The name column: without regard to case.
  click_column(f, 0);
  EXPECT_EQ(list_names(f), case_blind_sorted(list_names(f)));
  click_column(f, 0);
  std::vector<std::string> down = list_names(f);
  std::reverse(down.begin(), down.end());
  EXPECT_EQ(down, case_blind_sorted(down));
  close_window(f);
}

TEST(ViewsWindow, DamagedCatalogOpensAndSaysWhatIsWrong) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  // A bare volume (opened read-only): its catalog lies where read_catalog looks.
  std::string img = dir.str("bare.hfs");
  testkit::write_text(dir.str("t.txt"), "text\n");
  std::string cmds = "truncate -s 2M " + quote(img) + " && hformat -l Bare " + quote(img) + " >/dev/null && hmount " +
                     quote(img) + " >/dev/null";
  for (int i = 0; i < 40; ++i) cmds += " && hcopy -r " + quote(dir.str("t.txt")) + " :f" + std::to_string(i);
  ASSERT_EQ(run(cmds + " && humount >/dev/null").rc, 0);
  testkit::HfsCatalog c = testkit::read_catalog(img);
  // The first leaf's forward link points back to itself.
  put_be32(c.node(c.first_leaf()), c.first_leaf());
  testkit::write_file(img, c.bytes);
  std::string sum = testkit::sha256_of(img);
  MainFrame* f = open_window();
  f->run_command("MPart");
  answer_forms({{"MessFermer", "", "views_damaged_catalog"}});
  EXPECT_TRUE(f->open_document(img, 1));
  pump(200);
  std::vector<SeenForm> seen = g_seen_forms;
  answer_forms({});
  EXPECT_GT(f->file_list()->GetItemCount(), 0) << "what could be read is listed";
  std::set<int32_t> ids;
  for (const FileTableEntry& e : f->rows()) EXPECT_TRUE(ids.insert(e.id).second) << "a row shown twice";
  f->run_command("Fermer2");
  close_window(f);
  bool told = false;
  for (const SeenForm& s : seen) told = told || s.text.find("link back") != std::string::npos;
  EXPECT_TRUE(told);
  EXPECT_EQ(testkit::sha256_of(img), sum) << "a damaged image was written";
}

TEST(ViewsWindow, ProjectOpenKeepsABackupAndRefusesOtherFiles) {
  testkit::TempDir dir;
  std::string project = dir.str("d.cvpr");
  ASSERT_EQ(run(quote(k_quorvel) + " -f " + quote(project) + " Alpha/Beta").rc, 0);
  MainFrame* f = open_window();
  ASSERT_TRUE(f->open_document(project, 0));
  EXPECT_EQ(run("cmp " + quote(project) + " " + quote(dir.str("d.bak"))).rc, 0);
  EXPECT_EQ(first_level(f), std::vector<std::string>{"Alpha"});
  EXPECT_EQ(list_names(f), std::vector<std::string>{"Alpha"});
  EXPECT_EQ(f->GetTitle(), "d.cvpr [Corvane]");
  pump(100);
  EXPECT_TRUE(screenshot("d.cvpr [Corvane]", "views_project"));
  // The backup opened itself is left as it is.
  std::string backup_sum = testkit::sha256_of(dir.str("d.bak"));
  ASSERT_TRUE(f->open_document(dir.str("d.bak"), 0));
  EXPECT_EQ(testkit::sha256_of(dir.str("d.bak")), backup_sum);
  EXPECT_FALSE(testkit::fs::exists(dir.str("d.bak.bak")));
  // A file that is no project, named like one: refused and untouched.
  std::string other = dir.str("not.cvpr");
  testkit::write_text(other, std::string(3000, 'n'));
  std::string sum = testkit::sha256_of(other);
  answer_forms({{"MessFermer", "", ""}});
  EXPECT_FALSE(f->open_document(other, 0));
  std::vector<SeenForm> seen = g_seen_forms;
  answer_forms({});
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NE(seen[0].text.find("is not recognized as a project file"), std::string::npos);
  EXPECT_EQ(testkit::sha256_of(other), sum);
  EXPECT_FALSE(testkit::fs::exists(dir.str("not.bak")));
  close_window(f);
  EXPECT_EQ(testkit::sha256_of(dir.str("d.bak")), backup_sum) << "closing an unchanged project wrote it";
}

TEST(ViewsWindow, ProjectRenamedInPlaceCompilesWithTheNewName) {
  REQUIRE_TOOL("isoinfo");
  testkit::TempDir dir;
  testkit::fs::create_directories(dir.str("pc/Sub"));
  testkit::write_text(dir.str("pc/old name.txt"), "one");
  testkit::write_text(dir.str("pc/Sub/two.txt"), "two");
  std::string project = dir.str("r.cvpr");
  ASSERT_EQ(run(quote(k_quorvel) + " -i " + quote(project) + " " + quote(dir.str("pc"))).rc, 0);
  MainFrame* f = open_window();
  ASSERT_TRUE(f->open_document(project, 0));
  f->run_command("VI1");  // the ISO view
  pump(50);
  // Down to the folder holding the files, by the list.
  std::vector<std::string> names = list_names(f);
  for (int depth = 0; depth < 3 && std::find(names.begin(), names.end(), "old name.txt") == names.end(); ++depth) {
    ASSERT_FALSE(f->rows().empty());
    f->show_item(f->rows()[0].id, 0);
    names = list_names(f);
  }
  long row = long(std::find(names.begin(), names.end(), "old name.txt") - names.begin());
  ASSERT_LT(row, long(names.size()));
  wxListEvent edit(wxEVT_LIST_END_LABEL_EDIT, f->file_list()->GetId());
  edit.SetEventObject(f->file_list());
  edit.m_itemIndex = row;
  edit.m_item.SetText("renamed.txt");
  edit.m_item.SetId(row);
  f->file_list()->GetEventHandler()->ProcessEvent(edit);
  pump(50);
  names = list_names(f);
  EXPECT_NE(std::find(names.begin(), names.end(), "renamed.txt"), names.end());
  close_window(f);
  ASSERT_EQ(run(quote(k_quorvel) + " -ci " + quote(project)).rc, 0);
  auto r = run("isoinfo -J -f -i " + quote(dir.str("r.iso")));
  EXPECT_NE(r.out.find("renamed.txt"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("old name.txt"), std::string::npos) << r.out;
}

// The new-image dialog shows, as the size is typed, the allocation block size
// the volume will get: what file (HFS) and fsstat (HFS+) then read from the
// image made, in either language.
TEST(ViewsWindow, NewPartitionImagesAreReadByOutsideTools) {
  REQUIRE_TOOL("mmls");
  REQUIRE_TOOL("hvol");
  REQUIRE_TOOL("fsstat");
  REQUIRE_TOOL("file");
  testkit::TempDir dir;
  MainFrame* f = open_window();
  f->run_command("MPart");
  struct NewImage {
    std::string path;
    int size;
    bool plus;
    const char* name;
    int language;
  };
  // 2 MB of HFS: 512-byte blocks; 100 MB: 25 sectors a block; HFS+: 2048 bytes.
  for (const NewImage& n : {NewImage{dir.str("small.hfs"), 2, false, "Small One", 0},
                            NewImage{dir.str("hundred.hfs"), 100, false, "Hundred", 10000},
                            NewImage{dir.str("ten.hfs"), 10, true, "Ten Plus", 10000}}) {
    SCOPED_TRACE(n.path);
    f->run_command(n.language ? "Fr1" : "En2");
    std::string shown;
    g_file_dialog_answer = [&](const std::string&) { return n.path; };
    g_modal_driver = [&](wxDialog& d) {
      if (!d.FindWindow("Size")) {
        ADD_FAILURE() << "unexpected form " << d.GetTitle();
        d.CallAfter([&d] { d.EndModal(wxID_CANCEL); });
        return;
      }
      d.CallAfter([&d, &shown, n] {
        EXPECT_EQ(d.GetTitle().utf8_string(), ui_text(1064));
        auto* size = static_cast<wxSpinCtrl*>(d.FindWindow("Size"));
        size->SetValue(n.size);
        wxCommandEvent typed(wxEVT_TEXT, size->GetId());
        typed.SetEventObject(size);
        size->GetEventHandler()->ProcessEvent(typed);
        static_cast<wxTextCtrl*>(d.FindWindow("VolumeName"))->SetValue(n.name);
        auto* plus = static_cast<wxCheckBox*>(d.FindWindow("HfsPlus"));
        plus->SetValue(n.plus);
        wxCommandEvent ticked(wxEVT_CHECKBOX, plus->GetId());
        ticked.SetEventObject(plus);
        plus->GetEventHandler()->ProcessEvent(ticked);
        shown = static_cast<wxStaticText*>(d.FindWindow("BlockSize"))->GetLabel().utf8_string();
        pump(200);  // the values drawn before the picture
        std::string picture = std::string("views_new_image") + (n.plus ? "" : "_hfs") + (n.size == 100 ? "_100" : "") +
                              (n.language ? "_french" : "");
        EXPECT_TRUE(screenshot(d, picture));
        wxWindow* ok = d.FindWindow(wxID_OK);
        wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
        click.SetEventObject(ok);
        ok->GetEventHandler()->ProcessEvent(click);
      });
    };
    f->run_command("Nouvelle1");
    g_modal_driver = nullptr;
    pump(100);
    EXPECT_EQ(f->image().path, n.path);
    EXPECT_EQ(f->folder_tree()->GetItemText(f->folder_tree()->GetRootItem()).utf8_string(), n.name);
    f->run_command("Fermer2");
    // "10 MB: 2,048 bytes", "100 Mo : 12 800 octets": the block size, its digits grouped by language.
    std::smatch said;
    ASSERT_TRUE(std::regex_search(shown, said, std::regex(R"(:\s*([0-9][0-9 ,]*[0-9])\s)"))) << shown;
    std::string block_shown = said[1].str();
    block_shown.erase(std::remove_if(block_shown.begin(), block_shown.end(), [](char c) { return c == ' ' || c == ','; }),
                      block_shown.end());
    auto m = run("mmls -t mac " + quote(n.path));
    EXPECT_EQ(m.rc, 0) << m.err;
    EXPECT_NE(m.out.find("Apple_HFS"), std::string::npos) << m.out;
    std::smatch found;
    std::regex hfs_row(R"((\d{10})\s+\d{10}\s+\d{10}\s+Apple_HFS)");
    ASSERT_TRUE(std::regex_search(m.out, found, hfs_row)) << m.out;
    std::string start = std::to_string(std::stoull(found[1].str()));
    if (n.plus) {
      auto s = run("fsstat -f hfsp -o " + start + " " + quote(n.path));
      EXPECT_EQ(s.rc, 0) << s.err;
      EXPECT_NE(s.out.find(n.name), std::string::npos) << s.out;
      std::smatch b;
      ASSERT_TRUE(std::regex_search(s.out, b, std::regex(R"(Block Size: (\d+))"))) << s.out;
      EXPECT_EQ(block_shown, b[1].str());
    } else {
      auto v = run("hmount " + quote(n.path) + " >/dev/null && hvol && hls -a; rc=$?; humount >/dev/null; exit $rc");
      EXPECT_EQ(v.rc, 0) << v.err;
      EXPECT_NE(v.out.find(std::string("\"") + n.name + "\""), std::string::npos) << v.out;
      // file reads the block size from the partition's master directory block.
      auto b = run("tail -c +" + std::to_string(std::stoull(start) * 512 + 1) + " " + quote(n.path) + " | file -");
      std::smatch fb;
      ASSERT_TRUE(std::regex_search(b.out, fb, std::regex(R"(block size: (\d+))"))) << b.out;
      EXPECT_EQ(block_shown, fb[1].str());
    }
  }
  f->run_command("En2");
  close_window(f);
}

TEST(ViewsWindow, SaveAsCopiesTheImageAndNeverOverwritesItself) {
  testkit::TempDir dir;
  std::string img = dir.str("a.hfs"), copy = dir.str("b.hfs"), message;
  ASSERT_EQ(new_partition_image(img, true, 3, "Copied", message), 0) << message;
  std::string sum = testkit::sha256_of(img);
  MainFrame* f = open_image_window(img);
  g_file_dialog_answer = [&](const std::string&) { return copy; };
  f->run_command("EnrAs2");
  pump(50);
  EXPECT_EQ(run("cmp " + quote(img) + " " + quote(copy)).rc, 0);
  EXPECT_EQ(f->image().path, copy) << "the copy becomes the document";
  EXPECT_EQ(f->GetTitle(), "b.hfs [Corvane]");
  // Save As onto the open image itself: it stays whole and open.
  g_file_dialog_answer = [&](const std::string&) { return copy; };
  std::string copy_sum = testkit::sha256_of(copy);
  f->run_command("EnrAs2");
  pump(50);
  EXPECT_EQ(testkit::sha256_of(copy), copy_sum);
  EXPECT_EQ(f->image().path, copy);
  EXPECT_GT(f->file_list()->GetItemCount() + int(f->folder_tree()->GetCount()), 0);
  f->run_command("Fermer2");
  EXPECT_EQ(testkit::sha256_of(img), sum);
  close_window(f);
}

TEST(ViewsWindow, AnImageNobodyMayWriteRefusesEveryEdit) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = make_hfs_image(dir);
  // Root may write any file but an immutable one.
  struct Locked {
    std::string path;
    bool ok = false;
    explicit Locked(const std::string& p) : path(p) {
      ::chmod(p.c_str(), 0444);
      ok = ::geteuid() != 0 || run("chattr +i " + quote(p) + " 2>/dev/null").rc == 0;
    }
    ~Locked() {
      if (::geteuid() == 0) run("chattr -i " + quote(path) + " 2>/dev/null");
      ::chmod(path.c_str(), 0644);
    }
  };
  MainFrame* f = open_image_window(img);
  EXPECT_FALSE(f->image().read_only) << "the image is writable to begin with";
  f->run_command("Fermer2");
  Locked locked(img);
  if (!locked.ok) {
    close_window(f);
    GTEST_SKIP() << "the image cannot be made unwritable here";
  }
  std::string sum = testkit::sha256_of(img);
  ASSERT_TRUE(f->open_document(img, 1));
  EXPECT_TRUE(f->image().read_only);
  // Every edit, whoever handles it, is refused before it runs.
  std::vector<std::string> ran;
  std::vector<std::string> edits = {"Enr2", "EnrAs2", "Supp1", "Ren", "PCM1", "MD", "DrExpl", "SW1",
                                    "DelPart", "PC2Mac", "MkDirPart"};
  for (const std::string& name : edits) register_command(name, [&ran, name] { ran.push_back(name); }, k_in_partition);
  f->file_list()->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  pump(50);
  for (const std::string& name : edits) f->run_command(name);
  EXPECT_TRUE(ran.empty()) << ran.front();
  for (const std::string& name : edits) register_command(name, nullptr, k_in_partition);
  // No in-place rename, of a row or of the volume, and no drop.
  wxListEvent begin(wxEVT_LIST_BEGIN_LABEL_EDIT, f->file_list()->GetId());
  begin.SetEventObject(f->file_list());
  begin.m_itemIndex = 0;
  f->file_list()->GetEventHandler()->ProcessEvent(begin);
  EXPECT_FALSE(begin.IsAllowed());
  wxTreeEvent tree_edit(wxEVT_TREE_BEGIN_LABEL_EDIT, f->folder_tree(), f->folder_tree()->GetRootItem());
  f->folder_tree()->GetEventHandler()->ProcessEvent(tree_edit);
  EXPECT_FALSE(tree_edit.IsAllowed());
  EXPECT_EQ(f->file_list()->GetDropTarget(), nullptr);
  std::string popup = f->popup_state(false);
  for (const char* item : {"SuppPart", "RenPart", "MdPart1", "DrPart"})
    EXPECT_NE(popup.find(std::string(item) + "\t"), std::string::npos);
  std::istringstream lines(popup);
  for (std::string line; std::getline(lines, line);) {
    bool writes = line.rfind("SuppPart", 0) == 0 || line.rfind("RenPart", 0) == 0 || line.rfind("MdPart1", 0) == 0 ||
                  line.rfind("DrPart", 0) == 0;
    if (writes) {
      EXPECT_EQ(line.back(), '0') << line;
    }
  }
  pump(50);
  std::string texts = f->dump_texts();
  for (const char* tool : {"DelPart", "PC2Mac", "MkDirPart"})
    EXPECT_NE(texts.find(std::string("tool-enabled\t") + tool + "\t0"), std::string::npos) << tool;
  EXPECT_NE(texts.find("tool-enabled\tMac2PC\t1"), std::string::npos);
  EXPECT_TRUE(screenshot(f->GetTitle().utf8_string(), "views_read_only"));
  f->run_command("Fermer2");
  close_window(f);
  EXPECT_EQ(testkit::sha256_of(img), sum);
}

TEST(ViewsWindow, PopupsFollowTheSelection) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = make_hfs_image(dir);
  MainFrame* f = open_image_window(img);
  wxListCtrl* l = f->file_list();
  auto caption_of = [&](const std::string& popup, const std::string& item) {
    size_t at = popup.find(item + "\t");
    if (at == std::string::npos) return std::string();
    size_t from = at + item.size() + 1;
    return popup.substr(from, popup.find('\t', from) - from);
  };
  std::vector<std::string> names = list_names(f);
  long folder = long(std::find(names.begin(), names.end(), "music") - names.begin());
  long file = long(std::find(names.begin(), names.end(), "readme") - names.begin());
  l->SetItemState(folder, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  EXPECT_EQ(caption_of(f->popup_state(false), "AffPart"), ui_text(2056));
  l->SetItemState(folder, 0, wxLIST_STATE_SELECTED);
  l->SetItemState(file, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  EXPECT_EQ(caption_of(f->popup_state(false), "AffPart"), ui_text(2052));
  EXPECT_EQ(g_popup_source, 1);
  // The selection as the commands see it.
  ASSERT_EQ(f->selected_entries().size(), 1u);
  EXPECT_EQ(f->selected_entries()[0].name, "readme");
  // Several rows shown selected, as search hits are.
  f->show_items(2, {f->rows()[folder].id, f->rows()[file].id});
  EXPECT_EQ(f->selected_entries().size(), 2u);
  f->run_command("SAll");
  EXPECT_EQ(int(f->selected_entries().size()), l->GetItemCount());
  f->run_command("Inv");
  EXPECT_TRUE(f->selected_entries().empty());
  f->run_command("Fermer2");
  // The project tree's root: no delete, but rename and properties.
  f->run_command("MProj");
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run(quote(k_quorvel) + " -f " + quote(project) + " A").rc, 0);
  ASSERT_TRUE(f->open_document(project, 0));
  f->folder_tree()->SelectItem(f->folder_tree()->GetRootItem());
  std::string tree = f->popup_state(true);
  EXPECT_NE(tree.find("TPopSup\t" + ui_text(2046) + "\t0"), std::string::npos) << tree;
  EXPECT_NE(tree.find("TPopRen\t" + ui_text(2047) + "\t1"), std::string::npos) << tree;
  EXPECT_NE(tree.find("TPopProp\t" + ui_text(2048) + "\t1"), std::string::npos) << tree;
  EXPECT_EQ(g_popup_source, 0);
  EXPECT_EQ(f->tree_selection(), 1);
  // The splitter stops at half the window.
  wxSplitterEvent move(wxEVT_SPLITTER_SASH_POS_CHANGING, f->splitter());
  move.SetSashPosition(f->GetClientSize().x / 2 + 1);
  f->splitter()->GetEventHandler()->ProcessEvent(move);
  EXPECT_FALSE(move.IsAllowed());
  wxSplitterEvent small(wxEVT_SPLITTER_SASH_POS_CHANGING, f->splitter());
  small.SetSashPosition(f->GetClientSize().x / 2 - 1);
  f->splitter()->GetEventHandler()->ProcessEvent(small);
  EXPECT_TRUE(small.IsAllowed());
  close_window(f);
}

TEST(ViewsWindow, ModesCloseWhatTheyLeaveAndOfferTheScratchProjectAName) {
  testkit::TempDir dir;
  MainFrame* f = open_window();
  ASSERT_EQ(g_working_mode, 0);
  // A folder in the scratch project: leaving the mode offers a name for it.
  std::string scratch = f->document_path();
  ProjectRecord buf;
  ASSERT_NE(add_new_folder(g_project_file, buf, "Kept", k_root_folder_id), 0);
  std::fflush(g_project_file);
  f->refresh_views();
  EXPECT_EQ(first_level(f), std::vector<std::string>{"Kept"});
  std::string named = dir.str("named.cvpr");
  std::vector<std::string> titles;
  g_file_dialog_answer = [&](const std::string& title) {
    titles.push_back(title);
    return named;
  };
  f->run_command("MPart");
  EXPECT_EQ(g_working_mode, 1);
  ASSERT_EQ(titles.size(), 1u);
  EXPECT_EQ(titles[0], ui_text(1352));
  EXPECT_TRUE(testkit::fs::exists(named));
  EXPECT_FALSE(testkit::fs::exists(scratch)) << "the scratch project moved to its name";
  EXPECT_EQ(g_project_file, nullptr);
  EXPECT_TRUE(screenshot("Corvane", "views_partition_empty"));
  // ISO+ Mode, then round to Project Mode with the saved project.
  f->run_command("MIsop");
  EXPECT_EQ(g_working_mode, 2);
  EXPECT_NE(g_isoplus_file, nullptr);
  pump(100);
  std::string texts = f->dump_texts();
  EXPECT_NE(texts.find("tool-enabled\tCompIso\t1"), std::string::npos) << "the scratch project compiles";
  EXPECT_NE(texts.find("tool-enabled\tDelIso\t0"), std::string::npos) << "the root cannot be deleted";
  EXPECT_NE(texts.find("tool-enabled\tPereIso\t0"), std::string::npos) << "the root has no parent";
  EXPECT_TRUE(screenshot("cvso.cvso [Corvane]", "views_isoplus"));
  f->run_command("MProj");
  ASSERT_TRUE(f->open_document(named, 0));
  EXPECT_EQ(first_level(f), std::vector<std::string>{"Kept"});
  // The name views: the root shows the view's volume name, the folders stay.
  for (const char* view : {"VI1", "VM1", "VH1"}) {
    f->run_command(view);
    EXPECT_EQ(first_level(f), std::vector<std::string>{"Kept"}) << view;
  }
  close_window(f);
}

TEST(ViewsWindow, PrintedListReadsBack) {
  REQUIRE_TOOL("xorriso");
  testkit::TempDir dir;
  std::string src = dir.str("src");
  testkit::fs::create_directories(src);
  for (int i = 0; i < 90; ++i) testkit::write_text(src + "/row" + std::to_string(100 + i) + ".txt", "x");
  std::string iso = dir.str("p.iso");
  ASSERT_EQ(run("xorriso -as mkisofs -hfsplus -J -r -V PRINTED -o " + quote(iso) + " " + quote(src) + " 2>/dev/null").rc, 0);
  MainFrame* f = open_window();
  f->run_command("MPart");
  ASSERT_TRUE(f->open_document(iso, 1));
  std::string ps = dir.str("list.ps");
  // The window's Print command, its job written to a file as the printer would get it.
  bool printed = false;
  g_print_hook = [&](wxWindow*, wxPrintout& job) { return printed = print_to_file(job, ps); };
  f->run_command("P2");
  g_print_hook = nullptr;
  ASSERT_TRUE(printed);
  close_window(f);
  // The text drawn: PostScript strings shown on the page.
  PrintedFile printed_file = read_printed_file(ps);
  EXPECT_EQ(printed_file.pages, 2);
  auto count = [&](const std::string& s) { return printed_file.count(s); };
  for (int i = 0; i < 90; ++i) EXPECT_EQ(count("row" + std::to_string(100 + i) + ".txt"), 1) << i;
  EXPECT_EQ(count("Page 1"), 1);
  EXPECT_EQ(count("Page 2"), 1);
  EXPECT_EQ(count("Page 3"), 0);
  EXPECT_EQ(count("Name"), 2) << "the captions head every page";
  EXPECT_EQ(count("PRINTED"), 2);
  EXPECT_EQ(count("Mode: PART."), 2);
  // A PostScript interpreter, where there is one, reads the same text off the pages.
  if (testkit::tool_available("gs")) {
    auto r = run("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=txtwrite -sOutputFile=- " + quote(ps));
    EXPECT_EQ(r.rc, 0) << r.err;
    for (const char* s : {"row100.txt", "row189.txt", "Page 2", "Signature"}) EXPECT_NE(r.out.find(s), std::string::npos) << s;
  }
}

TEST(ViewsWindow, VolumeAndItemRenamesInPlaceReachTheCatalog) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = make_hfs_image(dir);
  MainFrame* f = open_image_window(img);
  EXPECT_TRUE(f->file_list()->HasFlag(wxLC_VIRTUAL));
  answer_forms({{"MessFermer", "", ""}});  // any refusal is a fault, seen below
  // The volume, through its root node: an HFS name keeps 27 characters.
  wxTreeCtrl* t = f->folder_tree();
  wxTreeEvent root(wxEVT_TREE_END_LABEL_EDIT, t, t->GetRootItem());
  root.SetLabel("A volume name far longer than its field");
  t->GetEventHandler()->ProcessEvent(root);
  EXPECT_EQ(t->GetItemText(t->GetRootItem()).utf8_string(), std::string("A volume name far longer than its field").substr(0, 27));
  // A row of the list.
  std::vector<std::string> names = list_names(f);
  long row = long(std::find(names.begin(), names.end(), "zebra") - names.begin());
  ASSERT_LT(row, long(names.size()));
  wxListEvent edit(wxEVT_LIST_END_LABEL_EDIT, f->file_list()->GetId());
  edit.SetEventObject(f->file_list());
  edit.m_itemIndex = row;
  edit.m_item.SetText("Okapi");
  f->file_list()->GetEventHandler()->ProcessEvent(edit);
  EXPECT_EQ(f->file_list()->GetItemText(row).utf8_string(), "Okapi");
  // A folder of the tree.
  wxTreeItemIdValue cookie;
  wxTreeItemId music;
  for (wxTreeItemId c = t->GetFirstChild(t->GetRootItem(), cookie); c.IsOk(); c = t->GetNextChild(t->GetRootItem(), cookie))
    if (t->GetItemText(c) == "music") music = c;
  ASSERT_TRUE(music.IsOk());
  wxTreeEvent folder(wxEVT_TREE_END_LABEL_EDIT, t, music);
  folder.SetLabel("Songs");
  t->GetEventHandler()->ProcessEvent(folder);
  EXPECT_EQ(first_level(f), (std::vector<std::string>{"Reports", "Songs"}));
  // The list takes PC files dropped from a file manager (DesktopWindow drops them from outside).
  wxDropTarget* target = f->file_list()->GetDropTarget();
  ASSERT_NE(target, nullptr);
  auto* files = dynamic_cast<DesktopFilesData*>(target->GetDataObject());
  ASSERT_NE(files, nullptr);
  EXPECT_TRUE(files->IsSupported(wxDataFormat("text/uri-list"), wxDataObject::Set));
  for (const SeenForm& s : g_seen_forms) ADD_FAILURE() << s.text;
  answer_forms({});
  f->run_command("Fermer2");
  EXPECT_EQ(f->file_list()->GetDropTarget(), nullptr) << "no document, no drop";
  close_window(f);
  auto r = run("hmount " + quote(img) + " >/dev/null && hvol && hls -a; rc=$?; humount >/dev/null; exit $rc");
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Volume name is \"A volume name far longer th\""), std::string::npos) << r.out;
  for (const char* name : {"Okapi", "Songs", "Reports", "readme", "Index"}) EXPECT_NE(r.out.find(name), std::string::npos) << name;
  EXPECT_EQ(r.out.find("zebra"), std::string::npos) << r.out;
}

// The tree pop-up's rename of the root and Rename with the root selected are
// one command: the volume's label form, the name it has above the new one.
TEST(ViewsWindow, VolumeRenamedThroughTheNameFormReachesTheCatalog) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = make_hfs_image(dir);
  MainFrame* f = open_image_window(img);
  std::vector<std::string> old_names;
  auto rename_to = [&old_names](const std::string& name, const std::string& picture) {
    return [&old_names, name, picture](wxDialog& d) {
      EXPECT_EQ(d.GetTitle().utf8_string(), ui_text(1286));
      old_names.push_back(dialogtest::text_of(d, "OldName"));
      if (!picture.empty()) dialogtest::shot(d, picture);
      dialogtest::type(d, "Nom", name);
      dialogtest::click(d, "OK");
    };
  };
  dialogtest::drive({rename_to("Through the form", "rename_volume"), rename_to("Through the menu", "")});
  wxCommandEvent rename(wxEVT_MENU, k_id_rename_volume);
  f->GetEventHandler()->ProcessEvent(rename);
  pump(100);
  wxTreeCtrl* t = f->folder_tree();
  EXPECT_EQ(t->GetItemText(t->GetRootItem()).utf8_string(), "Through the form");
  t->SelectItem(t->GetRootItem());
  g_popup_source = 0;
  f->run_command("Ren");
  pump(100);
  EXPECT_TRUE(dialogtest::all_steps_run());
  dialogtest::stop_driving();
  EXPECT_EQ(old_names, (std::vector<std::string>{"Window Vol", "Through the form"}));
  EXPECT_EQ(t->GetItemText(t->GetRootItem()).utf8_string(), "Through the menu");
  f->run_command("Fermer2");
  close_window(f);
  auto r = run("hmount " + quote(img) + " >/dev/null && hvol; rc=$?; humount >/dev/null; exit $rc");
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Volume name is \"Through the menu\""), std::string::npos) << r.out;
}

TEST(ViewsWindow, HybridisationDocksTheOpenVolumeOnAnIsoImage) {
  REQUIRE_TOOL("genisoimage");
  REQUIRE_TOOL("mmls");
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = make_hfs_image(dir);
  testkit::fs::create_directories(dir.str("cd"));
  testkit::write_text(dir.str("cd/readme.txt"), "cd");
  std::string iso = dir.str("cd.iso");
  ASSERT_EQ(run("genisoimage -quiet -J -r -V PLAIN -o " + quote(iso) + " " + quote(dir.str("cd"))).rc, 0);
  MainFrame* f = open_image_window(img);
  g_file_dialog_answer = [&](const std::string& title) {
    EXPECT_EQ(title, ui_text(1368));
    return iso;
  };
  answer_yes_no({true, true, true});
  f->run_command("Hybrid1");
  answer_forms({});
  close_window(f);
  auto m = run("mmls -t mac " + quote(iso));
  EXPECT_EQ(m.rc, 0) << m.err;
  EXPECT_NE(m.out.find("Apple_HFS"), std::string::npos) << m.out;
  auto h = run("hmount " + quote(iso) + " >/dev/null && hls; rc=$?; humount >/dev/null; exit $rc");
  EXPECT_NE(h.out.find("readme"), std::string::npos) << h.out << h.err;
}

TEST(ViewsWindow, SettingsKeepPlacementColumnsModeAndRecentDocuments) {
  testkit::TempDir dir;
  // A tree width of 0 hides the tree; three widths set the first three columns.
  write_setting_text("Rect", "60,70,800,600,0");
  write_setting_text("Col", "200,0,70");
  uint32_t saved_preferences = read_preference_flags();
  save_preference_flags(saved_preferences | k_pref_remember_mode);
  MainFrame* f = open_window();
  g_preferences |= k_pref_remember_mode;
  EXPECT_FALSE(f->splitter()->IsSplit());
  EXPECT_EQ(f->file_list()->GetColumnWidth(0), 200);
  EXPECT_EQ(f->file_list()->GetColumnWidth(1), 0);
  EXPECT_EQ(f->file_list()->GetColumnWidth(6), 120);
  // As the column settings give them back.
  f->set_tree_width(150);
  EXPECT_TRUE(f->splitter()->IsSplit());
  EXPECT_EQ(f->tree_width(), 150);
  f->set_tree_width(0);
  EXPECT_EQ(f->tree_width(), 0);
  g_list_columns[3].width = 55;
  f->apply_column_widths();
  EXPECT_EQ(f->file_list()->GetColumnWidth(3), 55);
  g_list_columns[3].width = 70;
  f->apply_column_widths();
  // Two projects opened: the recent list's first item is the later one, its second the earlier.
  std::string a = dir.str("a.cvpr"), b = dir.str("b.cvpr");
  ASSERT_EQ(run(quote(k_quorvel) + " -f " + quote(a) + " InA").rc, 0);
  ASSERT_EQ(run(quote(k_quorvel) + " -f " + quote(b) + " InB").rc, 0);
  ASSERT_TRUE(f->open_document(a, 0));
  ASSERT_TRUE(f->open_document(b, 0));
  wxCommandEvent recent(wxEVT_MENU, k_first_command_id + 2000 + 1);
  f->GetEventHandler()->ProcessEvent(recent);
  pump(2000, [&] { return f->document_path() == a; });  // a menu's command runs once its event has returned
  EXPECT_EQ(f->document_path(), a);
  EXPECT_EQ(first_level(f), std::vector<std::string>{"InA"});
  f->run_command("MPart");
  close_window(f);
  EXPECT_EQ(read_preference_flags() & k_pref_mode_mask, 0x40u) << "Partition Mode comes back at the next start";
  char buf[k_text_size];
  EXPECT_EQ(std::string(read_setting_text("Col", buf)), "200,0,70,70,90,90,120,");
  EXPECT_EQ(read_window_placement().panel, 0);
  // Without the preference, no mode is kept.
  f = open_window();
  EXPECT_EQ(g_working_mode, 1);
  g_preferences &= ~uint32_t(k_pref_remember_mode);
  close_window(f);
  EXPECT_EQ(read_preference_flags() & k_pref_mode_mask, 0u);
  save_preference_flags(saved_preferences);
  write_setting_text("Rect", "");
  write_setting_text("Col", "");
}

// Every column's right edge, the tree's widest name and the list's last
// column, as the controls lay them out, against the room they have.
static void expect_contents_fit(MainFrame* f, const std::string& when) {
  pump(300);  // laid out
  wxListCtrl* l = f->file_list();
  wxClientDC dc(l);
  dc.SetFont(l->GetFont());
  int right = 0;
  for (int c = 0; c < l->GetColumnCount(); ++c) {
    wxListItem head;
    head.SetMask(wxLIST_MASK_TEXT);
    l->GetColumn(c, head);
    int widest = dc.GetTextExtent(head.GetText()).x;
    for (long r = 0; r < l->GetItemCount(); ++r)
      widest = std::max(widest, dc.GetTextExtent(l->GetItemText(r, c).Trim(false)).x + (c == 0 ? 16 : 0));
    EXPECT_GE(l->GetColumnWidth(c), widest + 8) << when << ": column " << c << " " << head.GetText().utf8_string();
    right += l->GetColumnWidth(c);
  }
  EXPECT_LE(right, l->GetClientSize().x) << when << ": the last columns are cut off";
  wxTreeCtrl* t = f->folder_tree();
  wxTreeItemIdValue cookie;
  for (wxTreeItemId c = t->GetFirstChild(t->GetRootItem(), cookie); c.IsOk(); c = t->GetNextChild(t->GetRootItem(), cookie)) {
    wxRect r;
    ASSERT_TRUE(t->GetBoundingRect(c, r, true));
    EXPECT_LE(r.GetRight(), t->GetClientSize().x) << when << ": " << t->GetItemText(c).utf8_string() << " is cut";
  }
}

// A first start (nothing saved): the window opens wide enough for all its
// columns, each column shows its caption and cells whole (escaped codes in
// the Signature column too) and the tree its folders' names; in both
// languages. The sizes the user then has are saved for the next start.
TEST(ViewsWindow, FirstStartFitsTheWindowTreeAndColumnsToTheirContents) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  write_setting_text("Rect", "");
  write_setting_text("Col", "");
  std::string img = dir.str("fit.hfs");
  testkit::write_text(dir.str("t.txt"), "text\n");
  ASSERT_EQ(run("truncate -s 8M " + quote(img) + " && parted -s " + quote(img) +
                " mklabel mac mkpart p1 hfs 1MiB 100% && hformat -l Fit " + quote(img) + " 1 >/dev/null && hmount " +
                quote(img) + " >/dev/null && hmkdir ':Folders named at length' && hmkdir :short && hcopy -r " +
                quote(dir.str("t.txt")) + " :codes && hattrib -t \"$(printf '\\001\\002\\003\\004')\" -c " +
                "\"$(printf '\\005\\006\\007\\010')\" :codes && humount >/dev/null")
                .rc,
            0);
  MainFrame* f = open_window();
  expect_contents_fit(f, "scratch project");
  f->run_command("MPart");
  ASSERT_TRUE(f->open_document(img, 1));
  ASSERT_EQ(list_names(f), (std::vector<std::string>{"codes", "Folders named at length", "short"}));
  EXPECT_EQ(list_names(f, 6)[0], "\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08");
  expect_contents_fit(f, "volume");
  EXPECT_TRUE(screenshot("fit.hfs [Corvane]", "first_start_fitted"));
  f->run_command("Fr1");
  expect_contents_fit(f, "volume, in French");
  EXPECT_TRUE(screenshot("fit.hfs [Corvane]", "first_start_fitted_french"));
  f->run_command("En2");
  const int signature = f->file_list()->GetColumnWidth(6), width = f->GetSize().x;
  close_window(f);
  char buf[k_text_size];
  std::string cols = read_setting_text("Col", buf);
  EXPECT_EQ(cols.substr(cols.rfind(',', cols.size() - 2) + 1), std::to_string(signature) + ",") << cols;
  EXPECT_EQ(read_window_placement().width, width);
  write_setting_text("Rect", "");
  write_setting_text("Col", "");
}

TEST(ViewsWindow, TargetImageChoiceChecksItsDisk) {
  testkit::TempDir dir;
  std::string project = dir.str("disk.cvpr");
  ASSERT_EQ(run(quote(k_quorvel) + " -f " + quote(project) + " x").rc, 0);
  MainFrame* f = open_window();
  std::string proposed;
  g_file_dialog_answer = [&](const std::string& title) {
    EXPECT_EQ(title, ui_text(1369));
    return proposed;
  };
  proposed = dir.str("disk.iso");
  EXPECT_EQ(choose_target_image(project, 1 << 20, false), proposed);
  // The project itself, a disk too small, and an existing file not to be replaced: refused.
  proposed = project;
  answer_forms({{"MessFermer", "", ""}});
  EXPECT_EQ(choose_target_image(project, 1 << 20, false), "");
  proposed = dir.str("huge.iso");
  EXPECT_EQ(choose_target_image(project, uint64_t(1) << 60, false), "");
  std::vector<SeenForm> seen = g_seen_forms;
  answer_forms({});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].text, ui_text(1073));
  testkit::write_text(dir.str("old.iso"), "keep");
  proposed = dir.str("old.iso");
  answer_forms({{"MessNon", "", ""}});
  EXPECT_EQ(choose_target_image(project, 1 << 20, false), "");
  answer_forms({});
  EXPECT_EQ(testkit::read_text(dir.str("old.iso")), "keep");
  // An HFS-only compile proposes "dmg"; a name without extension takes it.
  proposed = dir.str("plain");
  EXPECT_EQ(choose_target_image(project, 1 << 20, true), dir.str("plain.dmg"));
  close_window(f);
}

// Leaving the mode with a scratch project that holds an item: the Save dialog
// proposes a real name ("Untitled", or the project's label) and a name with a
// wildcard is refused with a message and the dialog shown again; no file of
// such a name is ever made, nor put in the recent list.
TEST(ViewsWindow, TheScratchProjectIsNeverSavedUnderAWildcardName) {
  testkit::TempDir dir;
  MainFrame* f = open_window();
  ASSERT_EQ(g_working_mode, 0);
  ProjectRecord buf;
  ASSERT_NE(add_new_folder(g_project_file, buf, "Kept", k_root_folder_id), 0);
  std::fflush(g_project_file);
  std::vector<std::string> answers = {dir.str("*.cvpr"), dir.str("kept?.cvpr"), dir.str("kept.cvpr")}, proposed;
  g_file_dialog_answer = [&](const std::string&) {
    proposed.push_back(g_file_dialog_proposed);
    g_language_offset = proposed.size() == 2 ? 10000 : 0;  // the second refusal in French
    std::string a = answers.front();
    answers.erase(answers.begin());
    return a;
  };
  dialogtest::drive({dialogtest::close_message("wildcard_refused"), dialogtest::close_message("wildcard_refused_french")});
  f->run_command("MPart");
  pump(200);
  EXPECT_TRUE(dialogtest::all_steps_run());
  dialogtest::stop_driving();
  EXPECT_EQ(g_working_mode, 1);
  EXPECT_EQ(proposed, std::vector<std::string>(3, ui_text(1287) + ".cvpr"));
  ASSERT_EQ(dialogtest::g_driver.texts.size(), 2u);
  EXPECT_EQ(dialogtest::words(dialogtest::g_driver.texts[0]),
            dialogtest::words(format_text(ui_text(6661).c_str(), dir.str("*.cvpr").c_str())));
  EXPECT_TRUE(testkit::fs::exists(dir.path() / "kept.cvpr"));
  EXPECT_EQ(std::distance(testkit::fs::directory_iterator(dir.path()), testkit::fs::directory_iterator()), 1)
      << "no file of a name with a wildcard";
  EXPECT_EQ(f->dump_texts().find("*.cvpr"), std::string::npos) << "no wildcard in the recent files";
  // A project with a label of its own is offered that label.
  f->run_command("MProj");
  pump(100);
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(g_project_file, h));
  h.volume_label = "HOLIDAYS";
  ASSERT_TRUE(write_project_header(g_project_file, h));
  ASSERT_NE(add_new_folder(g_project_file, buf, "More", k_root_folder_id), 0);
  std::fflush(g_project_file);
  proposed.clear();
  answers = {""};
  f->run_command("MIsop");
  pump(200);
  EXPECT_EQ(proposed, std::vector<std::string>{"HOLIDAYS.cvpr"});
  g_file_dialog_answer = nullptr;
  close_window(f);
}
