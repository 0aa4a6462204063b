// The structure inspector's windows over images stored as files on an open
// volume: the dump window (moves, go-to, search and its highlight, copy,
// radix, font size, data segments, printing, the resource tree and its
// export), a viewer of every kind with the sectors its buttons lead to, the
// B-tree display of a 10,000-file catalog, and "Display File Contents" run
// through the main window's commands. Every window is photographed.
#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/clipbrd.h>
#include <wx/dcmemory.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/radiobut.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/treectrl.h>

#include <algorithm>
#include <deque>
#include <set>
#include <thread>

#include "IO/hexdump.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "compiler/project.h"
#include "gui/commands.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/printing.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/dump_dialogs.h"
#include "gui/inspector/dump_images.h"
#include "gui/menumodel.h"
#include "gui/inspector/dump_window.h"
#include "gui/inspector/image_fixture.h"
#include "gui/inspector/viewer_form.h"
#include "gui/inspector/volume_headers.h"
#include "gui/mainframe.h"
#include "gui/mainviews.h"
#include "gui_fixture.h"
#include "hfs/volume.h"

using namespace guitest;
using testkit::quote;
using testkit::run;

namespace {

// The steps that answer the next modal forms, one each, in order; a form with
// no step left is cancelled.
std::deque<std::function<void(wxDialog&)>> g_steps;
std::vector<std::string> g_forms_seen;

void install_steps() {
  g_modal_driver = [](wxDialog& d) {
    auto* timer = new wxTimer;
    timer->Bind(wxEVT_TIMER, [&d, timer](wxTimerEvent&) {
      g_forms_seen.push_back(d.GetName().utf8_string());
      if (!g_steps.empty()) {
        auto step = std::move(g_steps.front());
        g_steps.pop_front();
        step(d);
      }
      if (d.IsModal()) d.EndModal(wxID_CANCEL);
      wxTheApp->CallAfter([timer] { delete timer; });
    });
    timer->StartOnce(300);
  };
}

void click(wxWindow* w) {
  ASSERT_NE(w, nullptr);
  wxCommandEvent e(wxEVT_BUTTON, w->GetId());
  e.SetEventObject(w);
  w->GetEventHandler()->ProcessEvent(e);
}

wxWindow* find(wxWindow& in, const std::string& name) { return in.FindWindow(wxString::FromUTF8(name)); }

// A caption's text, or the value a field shows.
std::string label(wxWindow& in, const std::string& name) {
  wxWindow* w = find(in, name);
  if (auto* t = dynamic_cast<wxTextCtrl*>(w)) return t->GetValue().utf8_string();
  return w ? w->GetLabel().utf8_string() : "<none>";
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A picture of a window once what was just changed on it is drawn.
bool shot(const wxWindow& w, const std::string& name) {
  pump(200);
  return screenshot(w, name);
}

// A step that photographs the form and presses one of its buttons.
std::function<void(wxDialog&)> shoot_and_press(const std::string& picture, const std::string& button) {
  return [picture, button](wxDialog& d) {
    if (!picture.empty()) {
      EXPECT_TRUE(shot(d, picture)) << picture;
    }
    if (!button.empty()) click(find(d, button));
  };
}

// A list's row activated, as a double click does.
void activate_row(wxDialog& d, const std::string& list, long row) {
  auto* l = dynamic_cast<wxListCtrl*>(find(d, list));
  ASSERT_NE(l, nullptr) << list;
  wxListEvent e(wxEVT_LIST_ITEM_ACTIVATED, l->GetId());
  e.m_itemIndex = row;
  e.SetEventObject(l);
  l->GetEventHandler()->ProcessEvent(e);
}

// The 10,000-file image's catalog header node, as its viewer shows it after
// the volume header's (so its nodes map through the catalog's extents).
struct BigCatalog {
  int rc = -1;
  SectorReader read;
  StructureView view;
  BTreeWalkSetup setup;
  BigCatalog() {
    const auto& big = inspimg::big_plus_image();
    if ((rc = big.rc) != 0) return;
    int64_t sectors = 0;
    read = inspimg::file_reader(big.img, &sectors);
    InspectorContext ctx;
    ctx.image_sectors = sectors;
    std::vector<uint8_t> vh = inspimg::sector_of(read, 66);
    int64_t header = -1;
    for (const GoTarget& g : decode_sector(k_kind_hfsplus_header, 3, vh, 66, ctx, read).gos)
      if (g.caption_id == 3250) header = g.sector;
    std::vector<uint8_t> node = inspimg::sector_of(read, header);
    view = decode_sector(k_kind_btree_header, 3, node, header, ctx, read);
    setup = btree_walk_setup(node, header, ctx.node_runs);
  }
};
const BigCatalog& big_catalog() {
  static BigCatalog c;
  return c;
}

class InspectorWindows : public dumpimg::NestedImagesTest {
 protected:
  void SetUp() override {
    NestedImagesTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    install_steps();
    g_steps.clear();
    g_forms_seen.clear();
    g_dump_search = DumpSearchState{};
  }
  void TearDown() override {
    g_modal_driver = nullptr;
    g_dump_window_driver = nullptr;
    g_inspector_save_chooser = nullptr;
    g_print_hook = nullptr;
    NestedImagesTest::TearDown();
  }
  // Runs a dump window on a file of src (or of folder) with driver; its result.
  int dump(const std::string& name, std::function<void(DumpWindow&)> driver, uint32_t folder = 0) {
    DumpFile f;
    EXPECT_TRUE(dumpimg::open_file(name, f, folder)) << name;
    g_dump_window_driver = [driver](DumpWindow& w) {
      driver(w);
      w.run_item("Dret1");
    };
    return show_dump_window(nullptr, f);
  }
};

}  // namespace

TEST_F(InspectorWindows, DumpWindowMovesAndShows) {
  const auto& bytes = dumpimg::nested().files.at("plus.img");
  const uint64_t last = bytes.size() / 512 - 1;
  int result = dump("plus.img", [&](DumpWindow& w) {
    EXPECT_TRUE(shot(w, "dump_window"));
    EXPECT_EQ(w.GetTitle().utf8_string(), w.session().title());
    EXPECT_TRUE(w.item_checked("Data"));
    EXPECT_FALSE(w.item_enabled("Ress")) << "a file without a resource fork";
    EXPECT_EQ(w.item_label("Data"), ui_text(3001) + " [" + std::to_string(bytes.size()) + "]");
    EXPECT_EQ(w.status_text(0), "0");
    EXPECT_EQ(w.status_text(2), "0");
    // The dump shows the sector's bytes: its first line is theirs.
    char line[k_dump_line_capacity];
    std::string first = w.dump_view()->GetLineText(0).utf8_string();
    EXPECT_EQ(first, format_dump_line(line, bytes.data(), 0));

    w.run_item("Prec");  // nothing before: a beep
    EXPECT_EQ(w.session().current(), 0u);
    w.run_item("Fin");
    EXPECT_EQ(w.session().current(), last);
    w.run_item("Prec");
    EXPECT_EQ(w.session().current(), 0u);

    // Go to "+3" from sector 5, then a number past the fork (refused).
    w.show_dump_sector(5);
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(dynamic_cast<wxTextCtrl*>(find(d, "Secteur"))->GetValue(), "5");
      EXPECT_TRUE(shot(d, "dump_sector_dialog"));
      dynamic_cast<wxTextCtrl*>(find(d, "Secteur"))->SetValue("+3");
      click(find(d, "OK"));
    });
    w.run_item("Go1");
    EXPECT_EQ(w.session().current(), 8u);
    g_steps.push_back([&](wxDialog& d) {
      dynamic_cast<wxTextCtrl*>(find(d, "Secteur"))->SetValue(std::to_string(last + 1));
      click(find(d, "OK"));
    });
    w.run_item("Go1");
    EXPECT_EQ(w.session().current(), 8u);

    // Keys move a sector at a time.
    wxKeyEvent down(wxEVT_CHAR_HOOK);
    down.m_keyCode = WXK_PAGEDOWN;
    w.GetEventHandler()->ProcessEvent(down);
    EXPECT_EQ(w.session().current(), 9u);
    // End and Home typed while the dump itself has the focus: the last and
    // the first sector, not the caret's line end.
    w.dump_view()->SetFocus();
    for (auto [key, want] : {std::make_pair(WXK_END, last), std::make_pair(WXK_HOME, uint64_t(0))}) {
      wxKeyEvent hook(wxEVT_CHAR_HOOK);
      hook.m_keyCode = key;
      hook.SetEventObject(w.dump_view());
      w.dump_view()->ProcessWindowEvent(hook);
      EXPECT_EQ(w.session().current(), want) << key;
    }
    w.show_dump_sector(9);

    // Hexadecimal offsets, in the status and in the lines.
    w.show_dump_sector(31);
    w.run_item("Hex1");
    EXPECT_EQ(w.status_text(0), "1f");
    EXPECT_EQ(w.status_text(2), "3e00");
    EXPECT_EQ(w.dump_view()->GetLineText(0).utf8_string().substr(0, 8), "00003e00");
    EXPECT_TRUE(shot(w, "dump_window_hex"));
    w.run_item("Dec1");

    // Copy: the whole dump, lines ended by CR LF.
    w.run_item("co1");
    if (wxTheClipboard->Open()) {
      wxTextDataObject text;
      EXPECT_TRUE(wxTheClipboard->GetData(text));
      wxTheClipboard->Close();
      std::string copied = text.GetText().utf8_string();
      EXPECT_EQ(copied.substr(0, 8), "00015872");
      EXPECT_NE(copied.find("\r\n"), std::string::npos);
    }

    // The file's properties, read-only; the volume's flag comes back as it was.
    const uint32_t read_only = g_volume.read_only;
    bool write_enabled = true, volume_read_only = false;
    std::string name;
    g_steps.push_back([&](wxDialog& d) {
      name = label(d, "Nom");
      write_enabled = find(d, "Ecrire")->IsEnabled();
      volume_read_only = g_volume.read_only != 0;
      EXPECT_TRUE(shot(d, "dump_file_properties"));
      click(find(d, "Fermer"));
    });
    w.run_item("Att1");
    EXPECT_EQ(name, "plus.img");
    EXPECT_FALSE(write_enabled);
    EXPECT_TRUE(volume_read_only);
    EXPECT_EQ(g_volume.read_only, read_only);

    // The font size: 14 chosen, kept in the setting, the window resized.
    int height = w.GetClientSize().y;
    g_steps.push_back([](wxDialog& d) {
      EXPECT_TRUE(shot(d, "dump_font_size"));
      dynamic_cast<wxSpinCtrl*>(find(d, "Corps"))->SetValue(14);
      click(find(d, "SelCorpsOK"));
    });
    w.run_item("Co");
    EXPECT_EQ(w.font_size(), 14);
    EXPECT_EQ(read_font_size(), 14);
    EXPECT_GT(w.GetClientSize().y, height);
    save_font_size(10);
  });
  EXPECT_EQ(result, 1);
}

TEST_F(InspectorWindows, InFrench) {
  const int saved = g_language_offset;
  g_language_offset = 10000;
  std::string menu, fork, menu_hint;
  bool hint_gone = false;
  dump("plus.img", [&](DumpWindow& w) {
    menu = w.GetMenuBar()->GetMenuLabelText(0).utf8_string();
    fork = w.item_label("Data");
    // An open menu of the bar shows its own hint; what it covered comes back when it closes.
    const int pane = w.GetStatusBarPane();
    const wxString covered = w.GetStatusBar()->GetStatusText(pane);
    for (wxEventType t : {wxEVT_MENU_OPEN, wxEVT_MENU_CLOSE}) {
      wxMenuEvent e(t, 0, w.GetMenuBar()->GetMenu(1));
      e.SetEventObject(&w);
      w.GetEventHandler()->ProcessEvent(e);
      if (t == wxEVT_MENU_OPEN) menu_hint = w.GetStatusBar()->GetStatusText(pane).utf8_string();
    }
    // (The toolkit puts back an empty text as a lone NUL: the text shown is compared.)
    hint_gone = std::string(w.GetStatusBar()->GetStatusText(pane).utf8_string().c_str()) == covered.utf8_string();
    w.show_dump_sector(66);
    EXPECT_TRUE(shot(w, "dump_window_french"));
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(d.GetTitle().utf8_string(), ui_text(3234));
      EXPECT_EQ(label(d, "text_nbfic"), "Nombre de fichiers :");
      EXPECT_TRUE(shot(d, "viewer_hfsplus_header_french"));
    });
    w.run_item("Act1");
    // The two ends of a segment say which is written.
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(label(d, "txt_sfin"), "Fin (incluse) :");
      EXPECT_EQ(label(d, "txt_fin"), "Fin (exclue) :");
      EXPECT_TRUE(shot(d, "dump_data_segment_french"));
    });
    w.run_item("Act2");
  });
  std::string hint;
  hint_to_status_bar(ui_text(3110), hint);
  EXPECT_EQ(menu_hint, hint);
  EXPECT_TRUE(hint_gone);
  g_language_offset = saved;
  EXPECT_EQ(menu, "Fichier");
  EXPECT_EQ(fork.rfind("Fork de donn\xc3\xa9" "es [", 0), 0u) << fork;
}

TEST_F(InspectorWindows, SearchHighlightsTheMatch) {
  int result = dump("plus.img", [&](DumpWindow& w) {
    // The volume header's signature, typed in hexadecimal, anywhere from sector 3.
    w.show_dump_sector(3);
    g_steps.push_back([](wxDialog& d) {
      dynamic_cast<wxTextCtrl*>(find(d, "Chaine"))->SetValue("0x482B0004");
      EXPECT_TRUE(shot(d, "dump_search_dialog"));
      click(find(d, "Chercher"));
    });
    w.run_item("Ch1");
    EXPECT_EQ(w.session().current(), 66u);
    EXPECT_EQ(g_dump_search.offset, 0);
    EXPECT_TRUE(w.item_enabled("Reb1"));
    EXPECT_EQ(g_dump_search.last_text, "0x482b0004");  // not all of it is text
    // The match's hex pairs are on yellow.
    wxTextAttr style;
    ASSERT_TRUE(w.dump_view()->GetStyle(w.dump_view()->XYToPosition(11, 0), style));
    EXPECT_EQ(style.GetBackgroundColour(), wxColour(0xFF, 0xFF, 0x40));
    EXPECT_TRUE(shot(w, "dump_search_highlight"));

    // An empty string beeps and keeps the dialog; a string not there is said so.
    g_steps.push_back([](wxDialog& d) {
      dynamic_cast<wxTextCtrl*>(find(d, "Chaine"))->SetValue("");
      click(find(d, "Chercher"));
      EXPECT_TRUE(d.IsModal()) << "the dialog stays";
      dynamic_cast<wxTextCtrl*>(find(d, "Chaine"))->SetValue("no such words in here");
      click(find(d, "Chercher"));
    });
    g_steps.push_back(shoot_and_press("dump_no_match", "MessFermer"));
    w.run_item("Ch1");
    EXPECT_EQ(g_forms_seen.back(), "TMessOK");
    EXPECT_FALSE(w.item_enabled("Reb1"));
    EXPECT_EQ(w.session().current(), 66u);
  });
  EXPECT_EQ(result, 1);
}

TEST_F(InspectorWindows, ViewersOfAnHfsPlusVolumeFollowTheirButtons) {
  int result = dump("plus.img", [&](DumpWindow& w) {
    w.show_dump_sector(66);
    int64_t header = -1;
    g_steps.push_back([&](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TSectHPP");
      EXPECT_EQ(label(d, "cont_sign"), "H+");
      EXPECT_EQ(label(d, "cont_nbfic"), "201");
      EXPECT_EQ(label(d, "text_poscat1"), ui_text(3248));
      EXPECT_FALSE(find(d, "go_poscat2")->IsEnabled()) << "an empty extent";
      EXPECT_EQ(find(d, "but_tab5"), nullptr) << "no attributes file";
      EXPECT_TRUE(shot(d, "viewer_hfsplus_header"));
      // Allocation blocks counted from the volume's start, sector 64.
      header = 64 + std::stoll(label(d, "cont_poscat1")) * (std::stoll(label(d, "cont_tblocs")) / 512);
      click(find(d, "go_poscat1"));
    });
    w.run_item("Act1");
    EXPECT_EQ(int64_t(w.session().current()), header);

    // The catalog's header node, then its root, an index node.
    g_steps.push_back([&](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TSectB");
      EXPECT_EQ(label(d, "cont_taille"), "4096");
      EXPECT_FALSE(find(d, "go_topo")->IsEnabled());
      EXPECT_TRUE(shot(d, "viewer_btree_header"));
      click(find(d, "go_racine"));
    });
    w.run_item("Act1");
    int64_t root = int64_t(w.session().current());
    g_steps.push_back([&](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TBranche");
      EXPECT_FALSE(find(d, "go_amont")->IsEnabled());
      auto* book = dynamic_cast<wxBookCtrlBase*>(find(d, "Classeur"));
      ASSERT_NE(book, nullptr);
      book->SetSelection(1);
      EXPECT_TRUE(shot(d, "viewer_btree_index"));
      activate_row(d, "ListeFichiers", 0);
    });
    w.run_item("Act1");
    EXPECT_NE(int64_t(w.session().current()), root);
    // The first leaf: its list, and the button to the next leaf.
    int64_t leaf = int64_t(w.session().current());
    g_steps.push_back([&](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TSectND");
      auto* list = dynamic_cast<wxListCtrl*>(find(d, "ListeFichiers"));
      ASSERT_NE(list, nullptr);
      EXPECT_GT(list->GetItemCount(), 10);
      EXPECT_EQ(list->GetColumnCount(), 4);
      dynamic_cast<wxBookCtrlBase*>(find(d, "Classeur"))->SetSelection(1);
      EXPECT_TRUE(shot(d, "viewer_btree_leaf"));
      click(find(d, "go_aval"));
    });
    w.run_item("Act1");
    EXPECT_GT(int64_t(w.session().current()), leaf);
    // The viewers kept the dump's own geometry; the open volume's is unchanged.
    EXPECT_EQ(w.session().inspector.block_origin, 64);
  });
  EXPECT_EQ(result, 1);
}

TEST_F(InspectorWindows, ViewersOfOtherStructures) {
  // HFS: the master directory block.
  dump("hfs.img", [&](DumpWindow& w) {
    w.show_dump_sector(2);
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TSectBD");
      EXPECT_EQ(label(d, "cont_label"), "Inner");
      dynamic_cast<wxBookCtrlBase*>(find(d, "Classeur"))->SetSelection(3);
      EXPECT_TRUE(shot(d, "viewer_mdb"));
      click(find(d, "but_tab4"));
    });
    w.run_item("Act1");
    uint8_t buf[512];
    ASSERT_EQ(w.session().read(w.session().current(), buf), 0);
    EXPECT_EQ(buf[8], 1) << "the catalog's header node";
  });
  // A hybrid CD: its map entries, the volume descriptor, a path table and a directory.
  dump("hyb.iso", [&](DumpWindow& w) {
    g_steps.push_back(shoot_and_press("viewer_driver_descriptor", "MessFermer"));
    w.run_item("Act1");
    w.show_dump_sector(2);
    int64_t hfs = -1;
    g_steps.push_back([&](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TSectPM");
      EXPECT_EQ(label(d, "cont_type"), "Apple_HFS");
      EXPECT_NE(find(d, "But_Altern"), nullptr);
      EXPECT_TRUE(shot(d, "viewer_partition_map"));
      hfs = std::stoll(label(d, "cont_debut"));
      click(find(d, "Go2"));
    });
    w.run_item("Act1");
    EXPECT_EQ(int64_t(w.session().current()), hfs + 2);
    w.show_dump_sector(64);
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TSectISO");
      EXPECT_EQ(label(d, "cont_volid"), "HYB");
      EXPECT_TRUE(shot(d, "viewer_iso_descriptor"));
      click(find(d, "go_pthtab"));
    });
    w.run_item("Act1");
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TPathISO");
      EXPECT_EQ(dynamic_cast<wxListCtrl*>(find(d, "ListeFichiers"))->GetItemText(0), ui_text(3285));
      EXPECT_TRUE(shot(d, "viewer_iso_path_table"));
      activate_row(d, "ListeFichiers", 0);  // the root directory
    });
    w.run_item("Act1");
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TRepISO");
      auto* list = dynamic_cast<wxListCtrl*>(find(d, "ListeFichiers"));
      EXPECT_EQ(list->GetItemText(0), ui_text(3283));  // ".." is the parent
      EXPECT_TRUE(shot(d, "viewer_iso_directory"));
    });
    w.run_item("Act1");
  });
  // An MBR, the FAT16 boot sector it leads to, and its root directory.
  dump("mbr.img", [&](DumpWindow& w) {
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TMBR");
      EXPECT_EQ(dynamic_cast<wxListCtrl*>(find(d, "ListePart"))->GetItemCount(), 2);
      EXPECT_TRUE(shot(d, "viewer_mbr"));
      activate_row(d, "ListePart", 0);
    });
    w.run_item("Act1");
    EXPECT_EQ(w.session().current(), 2048u);
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "TBoot");
      EXPECT_EQ(label(d, "cont_label"), "LABEL16");
      EXPECT_TRUE(shot(d, "viewer_boot_sector"));
      dynamic_cast<wxBookCtrlBase*>(find(d, "Classeur"))->SetSelection(1);
      EXPECT_TRUE(shot(d, "viewer_boot_sector_technical"));
      click(find(d, "go_racine"));
    });
    w.run_item("Act1");
    EXPECT_GT(w.session().current(), 2048u);
  });
  // GPT: the header (handed its kind), then the entries its button opens.
  dump("gpt.img", [&](DumpWindow& w) {
    w.show_dump_sector(1);
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "Tefi");
      EXPECT_EQ(label(d, "cont_sign"), "EFI PART");
      EXPECT_TRUE(shot(d, "viewer_gpt_header"));
      click(find(d, "go_racine"));
    });
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "Tgptguid");
      EXPECT_EQ(label(d, "cont_nompart1"), "Mac HD");
      EXPECT_EQ(label(d, "cont_partclair1"), "HFS");
      EXPECT_EQ(find(d, "cont_partclair2"), nullptr);
      EXPECT_TRUE(shot(d, "viewer_gpt_entries"));
      click(find(d, "lba1"));
    });
    w.show_structure(k_kind_gpt_header);
    EXPECT_EQ(w.session().current(), 2048u);
  });
  // A MacBinary file kept whole.
  dump("mb.dat", [&](DumpWindow& w) {
    g_steps.push_back([](wxDialog& d) {
      EXPECT_EQ(label(d, "cont_fnom"), "MB");
      EXPECT_TRUE(shot(d, "viewer_macbinary"));
      click(find(d, "GoR"));
    });
    w.show_structure(k_kind_macbinary);
    EXPECT_EQ(w.session().current(), 1u);
  });
  EXPECT_EQ(g_steps.size(), 0u);
}

// Analyze on images of each kind other tools made: the GPT header and its
// entry array (sgdisk), a Rock Ridge directory (genisoimage -R), MacBinary
// (hcopy -m), AppleDouble (unar) and AppleSingle headers, each viewer shown
// in English and in French.
TEST_F(InspectorWindows, AnalyzeReachesTheViewerOfEachKind) {
  const int saved = g_language_offset;
  for (int language : {0, 10000}) {
    g_language_offset = language;
    const std::string tail = language ? "_french" : "";
    dump("gpt.img", [&](DumpWindow& w) {
      w.show_dump_sector(1);
      g_steps.push_back([&](wxDialog& d) {
        EXPECT_EQ(d.GetName(), "Tefi");
        EXPECT_EQ(label(d, "cont_partlba"), "2");
        EXPECT_TRUE(shot(d, "viewer_gpt_header_analyzed" + tail));
        click(find(d, "MessFermer"));
      });
      w.run_item("Act1");
      w.show_dump_sector(2);
      g_steps.push_back([&](wxDialog& d) {
        EXPECT_EQ(d.GetName(), "Tgptguid");
        EXPECT_EQ(label(d, "cont_nompart1"), "Mac HD");
        EXPECT_EQ(label(d, "cont_lbadeb1"), "2048");
        EXPECT_TRUE(shot(d, "viewer_gpt_entries_analyzed" + tail));
        click(find(d, "lba1"));
      });
      w.run_item("Act1");
      EXPECT_EQ(w.session().current(), 2048u);
    });
    dump("rr.iso", [&](DumpWindow& w) {
      w.show_dump_sector(64);
      g_steps.push_back([](wxDialog& d) {
        EXPECT_EQ(d.GetName(), "TSectISO");
        click(find(d, "go_root"));
      });
      w.run_item("Act1");
      uint8_t buf[512];
      ASSERT_EQ(w.session().read(w.session().current(), buf), 0);
      EXPECT_GT(buf[0], 34) << "the root's '.' record carries Rock Ridge fields";
      g_steps.push_back([&](wxDialog& d) {
        EXPECT_EQ(d.GetName(), "TRepISO");
        auto* list = dynamic_cast<wxListCtrl*>(find(d, "ListeFichiers"));
        ASSERT_NE(list, nullptr);
        std::set<std::string> names;
        for (long i = 0; i < list->GetItemCount(); ++i) names.insert(list->GetItemText(i).utf8_string());
        EXPECT_EQ(names, (std::set<std::string>{ui_text(3283), "DOCS", "READ_ME.TXT;1"}));
        EXPECT_TRUE(shot(d, "viewer_rockridge_directory" + tail));
        click(find(d, "MessFermer"));
      });
      w.run_item("Act1");
    });
    dump("hcopy.bin", [&](DumpWindow& w) {
      g_steps.push_back([&](wxDialog& d) {
        EXPECT_EQ(d.GetName(), "TMacBin");
        EXPECT_EQ(label(d, "cont_fnom"), "ReadMe");
        EXPECT_EQ(label(d, "cont_type"), "TEXT");
        EXPECT_TRUE(shot(d, "viewer_macbinary_analyzed" + tail));
        click(find(d, "MessFermer"));
      });
      w.run_item("Act1");
    });
    if (dumpimg::nested().files.count("ad.dat")) {
      dump("ad.dat", [&](DumpWindow& w) {
        g_steps.push_back([&](wxDialog& d) {
          EXPECT_EQ(d.GetName(), "TAD");
          EXPECT_EQ(label(d, "cont_type"), "APPL");
          EXPECT_EQ(label(d, "cont_crea"), "ABCD");
          EXPECT_EQ(label(d, "cont_lgress"), "300");
          EXPECT_TRUE(shot(d, "viewer_appledouble_analyzed" + tail));
          click(find(d, "MessFermer"));
        });
        w.run_item("Act1");
      });
    }
    dump("as", [&](DumpWindow& w) {
      g_steps.push_back([&](wxDialog& d) {
        EXPECT_EQ(d.GetName(), "TAS");
        EXPECT_EQ(label(d, "cont_lgdata"), "900");
        EXPECT_EQ(label(d, "cont_lgress"), "200");
        EXPECT_TRUE(shot(d, "viewer_applesingle_analyzed" + tail));
        click(find(d, "GoR"));
      });
      w.run_item("Act1");
    }, 2);
  }
  g_language_offset = saved;
  EXPECT_EQ(g_steps.size(), 0u);
}

TEST_F(InspectorWindows, ViewersOfTheFourBlockSectorAndTheAppleHeaders) {
  // A CD's first 2048 bytes read from a drive: the four blocks on one form.
  const auto& iso = dumpimg::nested().files.at("hyb.iso");
  ImageFixture img(std::vector<uint8_t>(iso.begin(), iso.begin() + 64 * 512));
  InspectorContext ctx = img.ctx;
  ViewerLayout four = viewer_layout(k_kind_driver_descriptor, 0,
                                    decode_sector(k_kind_driver_descriptor, 0, img.sector(0), 0, ctx, img.read));
  g_steps.push_back([](wxDialog& d) {
    EXPECT_EQ(d.GetName(), "TTeteMac");
    dynamic_cast<wxBookCtrlBase*>(find(d, "Classeur"))->SetSelection(2);
    EXPECT_TRUE(shot(d, "viewer_medium_headers"));
    click(find(d, "Go21"));
  });
  ViewerForm::Choice c = run_viewer(nullptr, four);
  EXPECT_EQ(c.action, k_button_go);
  EXPECT_GE(c.sector, 0);

  // AppleSingle and AppleDouble headers: Finder information, then the forks.
  auto header = [](uint32_t magic) {
    std::vector<uint8_t> b(1024, 0);
    auto be32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
    };
    be32(0, magic);
    be32(4, 0x00020000);
    b[25] = 3;
    const uint32_t entries[3][3] = {{9, 62, 32}, {2, 94, 300}, {1, 600, 200}};
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) be32(26 + 12 * i + 4 * k, entries[i][k]);
    std::copy_n("TEXTttxt", 8, b.begin() + 62);
    return b;
  };
  for (auto [kind, magic, name] : {std::make_tuple(k_kind_applesingle, 0x00051600u, "applesingle"),
                                   std::make_tuple(k_kind_appledouble, 0x00051607u, "appledouble")}) {
    ImageFixture a(header(magic));
    InspectorContext actx = a.ctx;
    ViewerLayout l = viewer_layout(kind, 3, decode_sector(kind, 3, a.sector(0), 0, actx, a.read));
    g_steps.push_back([name = std::string(name), kind = kind](wxDialog& d) {
      if (kind == k_kind_appledouble) {
        // Help on a viewer: its topic, in the language.
        int saved = g_language_offset;
        g_language_offset = 10000;
        EXPECT_TRUE(ends_with(help_page_of(d, [&] { click(find(d, "Aide")); }), "t13003.html"));
        g_language_offset = saved;
      }
      EXPECT_EQ(label(d, "cont_type"), "TEXT");
      EXPECT_EQ(label(d, "cont_crea"), "ttxt");
      EXPECT_EQ(find(d, "GoD") != nullptr, kind == k_kind_applesingle);
      EXPECT_TRUE(shot(d, "viewer_" + name));
      click(find(d, "GoR"));
    });
    EXPECT_EQ(run_viewer(nullptr, l).sector, 0);
  }
}

TEST_F(InspectorWindows, BTreeDisplayOfATenThousandFileCatalog) {
  const BigCatalog& c = big_catalog();
  ASSERT_EQ(c.rc, 0);
  const size_t leaf_records = std::stoul(inspimg::field(c.view, 3857));
  ViewerHost host{c.setup, c.read};

  bool disabled_while_walking = true, saw_walking = false;
  size_t items = 0;
  std::string message = "?";
  g_steps.push_back([&](wxDialog& dialog) {
    auto& d = dynamic_cast<ViewerForm&>(dialog);
    click(find(d, "AffTree"));
    EXPECT_FALSE(find(d, "AffTree")->IsEnabled());
    // While it walks: "&Close" and every go button are off.
    while (d.walking()) {
      saw_walking = true;
      for (const char* name : {"MessFermer", "go_racine", "go_prem", "go_dern"})
        disabled_while_walking = disabled_while_walking && !find(d, name)->IsEnabled();
      pump(20);
    }
    pump(200, [&] { return d.walk_done(); });
    EXPECT_TRUE(d.walk_done());
    EXPECT_TRUE(find(d, "MessFermer")->IsEnabled());
    EXPECT_TRUE(find(d, "go_racine")->IsEnabled());
    EXPECT_FALSE(find(d, "AffTree")->IsEnabled()) << "it runs once";
    items = d.walk_items();
    message = d.walk_message();
    auto* book = dynamic_cast<wxBookCtrlBase*>(find(d, "PCB"));
    ASSERT_EQ(book->GetPageCount(), 2u);
    book->SetSelection(1);
    wxTreeCtrl* tree = d.walk_tree();
    wxTreeItemIdValue cookie;
    wxTreeItemId first = tree->GetFirstChild(tree->GetRootItem(), cookie);
    ASSERT_TRUE(first.IsOk());
    tree->Expand(first);
    EXPECT_TRUE(shot(d, "viewer_btree_display"));
    click(find(d, "MessFermer"));
  });
  run_viewer(nullptr, viewer_layout(k_kind_btree_header, 3, c.view), host);
  EXPECT_TRUE(saw_walking);
  EXPECT_TRUE(disabled_while_walking);
  EXPECT_EQ(message, "");
  EXPECT_GT(items, leaf_records);  // the leaf records and the index records above them
  EXPECT_GT(leaf_records, 20000u);
}

TEST_F(InspectorWindows, ClosingTheViewerStopsTheWalk) {
  const BigCatalog& c = big_catalog();
  ASSERT_EQ(c.rc, 0);
  SectorReader read = c.read;
  // A reader slowed down so the walk is sure to be running when Esc comes.
  SectorReader slow = [read](int64_t first, uint32_t count, uint8_t* buf) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return read(first, count, buf);
  };
  bool walking = false;
  g_steps.push_back([&](wxDialog& d) {
    click(find(d, "AffTree"));
    pump(100);
    walking = dynamic_cast<ViewerForm&>(d).walking();
    wxKeyEvent esc(wxEVT_CHAR_HOOK);
    esc.m_keyCode = WXK_ESCAPE;
    d.GetEventHandler()->ProcessEvent(esc);
  });
  ViewerForm::Choice choice = run_viewer(nullptr, viewer_layout(k_kind_btree_header, 3, c.view), {c.setup, slow});
  EXPECT_TRUE(walking);
  EXPECT_EQ(choice.sector, -1);
  pump(300);  // what the walk had posted finds no form
}

TEST_F(InspectorWindows, ADamagedTreeEndsTheDisplayWithAMessage) {
  // A header node whose node size is 0, over a root of two levels.
  std::vector<uint8_t> node(512, 0);
  node[8] = 1;
  node[11] = 3;
  node[14 + 1] = 2;  // height 2
  node[14 + 5] = 1;  // root node 1
  node[14 + 25] = 9;  // 9 nodes
  ImageFixture img(node);
  InspectorContext ctx = img.ctx;
  StructureView v = decode_sector(k_kind_btree_header, 3, img.sector(0), 0, ctx, img.read);
  std::string message;
  bool close_enabled = false;
  g_steps.push_back([&](wxDialog& dialog) {
    auto& d = dynamic_cast<ViewerForm&>(dialog);
    click(find(d, "AffTree"));
    pump(3000, [&] { return d.walk_done(); });  // the message form is answered meanwhile
    message = d.walk_message();
    close_enabled = find(d, "MessFermer")->IsEnabled();
  });
  g_steps.push_back(shoot_and_press("viewer_btree_damaged", "MessFermer"));
  run_viewer(nullptr, viewer_layout(k_kind_btree_header, 3, v), {btree_walk_setup(img.sector(0), 0), img.read});
  EXPECT_NE(message.find("node size 0"), std::string::npos) << message;
  EXPECT_TRUE(close_enabled);
  ASSERT_EQ(g_forms_seen.size(), 2u);
  EXPECT_EQ(g_forms_seen[1], "TMessOK");
}

TEST_F(InspectorWindows, ResourceTreeAndExportAgreeWithFontTools) {
  testkit::TempDir dir;
  // fontTools' reading of the same fork: resource 'FOND' and its bytes.
  std::string fork = dumpimg::suitcase_path();
  auto ft = run("/usr/bin/python3 -c \"import sys\nfrom fontTools.misc.macRes import ResourceReader\n"
                "r = ResourceReader(sys.argv[1])\nt = sorted(r.keys())[0]\nx = r[t][0]\n"
                "open(sys.argv[2], 'wb').write(x.data)\nprint(t, x.id, len(x.data))\" " +
                quote(fork) + " " + quote(dir.str("ft.bin")));
  if (ft.rc != 0) GTEST_SKIP() << "fontTools: " << ft.err;
  std::string type = ft.out.substr(0, 4);
  std::vector<std::string> saved;
  g_inspector_save_chooser = [&](wxWindow*, const wxString&, const wxString& name, const wxString& ext,
                                 const wxString&) {
    saved.push_back(name.utf8_string());
    return dir.str("out." + ext.utf8_string());
  };
  int result = dump(
      "rsrc",
      [&](DumpWindow& w) {
    EXPECT_TRUE(w.item_checked("Ress")) << "a file of a resource fork alone";
    EXPECT_FALSE(w.item_enabled("Data"));
    w.run_item("Arb");
    EXPECT_TRUE(w.item_checked("Arb"));
    EXPECT_FALSE(w.item_enabled("Go1")) << "the tree moves in no sectors";
    wxTreeCtrl* tree = w.resource_tree();
    wxTreeItemIdValue c1, c2;
    wxTreeItemId t = tree->GetFirstChild(tree->GetRootItem(), c1);
    // The first type of the map, sorted as fontTools sorts, and its first resource.
    while (t.IsOk() && tree->GetItemText(t).utf8_string() != type) t = tree->GetNextChild(tree->GetRootItem(), c1);
    ASSERT_TRUE(t.IsOk()) << type;
    wxTreeItemId r = tree->GetFirstChild(t, c2);
    tree->SelectItem(r);
    pump(50);
    EXPECT_EQ(w.resource_view()->GetLineText(0).utf8_string().substr(0, 8).find_first_not_of("0123456789"),
              std::string::npos);
    EXPECT_TRUE(shot(w, "dump_resource_tree"));
    w.run_item("SBin");
    w.run_item("SHex");
      },
      2);
  EXPECT_EQ(result, 1);
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].substr(saved[0].size() - 4), ".bin");
  EXPECT_EQ(testkit::read_file(dir.str("out.bin")), testkit::read_file(dir.str("ft.bin")));
  std::string hex = testkit::read_text(dir.str("out.hex"));
  EXPECT_EQ(hex.substr(0, 5), "rsrc.");
}

TEST_F(InspectorWindows, DataSegmentsAndPrinting) {
  testkit::TempDir dir;
  const auto& bytes = dumpimg::nested().files.at("plus.img");
  g_inspector_save_chooser = [&](wxWindow*, const wxString&, const wxString&, const wxString&, const wxString&) {
    return dir.str("seg.bin");
  };
  int pages = 0;
  g_print_hook = [&](wxWindow*, wxPrintout& p) {
    auto& lines = dynamic_cast<LinesPrintout&>(p);
    wxBitmap page(850, 1100);
    wxMemoryDC dc(page);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    lines.paginate(dc, wxSize(850, 1100), 100);
    lines.draw(dc, 1);
    dc.SelectObject(wxNullBitmap);
    pages = lines.page_count();
    EXPECT_TRUE(page.SaveFile(wxString::FromUTF8(screenshot_path("dump_printed_page")), wxBITMAP_TYPE_PNG));
    return true;
  };
  int result = dump("plus.img", [&](DumpWindow& w) {
    w.show_dump_sector(5);
    // Sectors 5 to 5 + 2, raw.
    g_steps.push_back([](wxDialog& d) {
      EXPECT_FALSE(find(d, "SctDeb")->IsEnabled());
      EXPECT_FALSE(find(d, "Hexp")->IsEnabled());
      auto* sects = dynamic_cast<wxRadioButton*>(find(d, "Sects"));
      sects->SetValue(true);
      wxCommandEvent e(wxEVT_RADIOBUTTON, sects->GetId());
      e.SetEventObject(sects);
      sects->GetEventHandler()->ProcessEvent(e);
      EXPECT_TRUE(find(d, "SctDeb")->IsEnabled());
      dynamic_cast<wxTextCtrl*>(find(d, "SctDeb"))->SetValue("5");
      dynamic_cast<wxTextCtrl*>(find(d, "SctFin"))->SetValue("+2");
      EXPECT_TRUE(shot(d, "dump_data_segment"));
      click(find(d, "Exe1"));
    });
    w.run_item("Act2");
    EXPECT_EQ(testkit::read_file(dir.str("seg.bin")),
              std::vector<uint8_t>(bytes.begin() + 5 * 512, bytes.begin() + 8 * 512));
    // The current sector printed as dump lines.
    g_steps.push_back([](wxDialog& d) {
      auto* hexa = dynamic_cast<wxCheckBox*>(find(d, "Hexa"));
      hexa->SetValue(true);
      wxCommandEvent e(wxEVT_CHECKBOX, hexa->GetId());
      e.SetEventObject(hexa);
      hexa->GetEventHandler()->ProcessEvent(e);
      EXPECT_TRUE(find(d, "Hexp")->IsEnabled());
      dynamic_cast<wxCheckBox*>(find(d, "Hexp"))->SetValue(true);
      click(find(d, "Exe1"));
    });
    w.run_item("Act2");
    EXPECT_EQ(pages, 1);
    // And the dump itself.
    pages = 0;
    w.run_item("Imp1");
    EXPECT_EQ(pages, 1);
  });
  EXPECT_EQ(result, 1);
}

TEST_F(InspectorWindows, DisplayFileContentsFromTheMainWindowsList) {
  inspimg::close_volume();  // the main window opens the image itself
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({});
  pump(300);
  f->run_command("MPart");
  ASSERT_TRUE(f->open_document(dumpimg::nested().outer, 1));
  const uint32_t src = dumpimg::src_folder();
  f->show_item(int32_t(src), 0);
  pump(200);
  // one.bin, empty.txt, odd.bin and mb.dat selected, in list order.
  wxListCtrl* list = f->file_list();
  std::vector<std::string> wanted = {"empty.txt", "mb.dat", "odd.bin", "one.bin"};
  for (long i = 0; i < list->GetItemCount(); ++i)
    if (std::find(wanted.begin(), wanted.end(), list->GetItemText(i).utf8_string()) != wanted.end())
      list->SetItemState(i, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  ASSERT_EQ(f->selected_entries().size(), 4u);
  std::vector<std::string> titles;
  g_dump_window_driver = [&](DumpWindow& w) {
    titles.push_back(w.GetTitle().utf8_string());
    // The close box of the second window cancels what is left (one.bin).
    if (titles.size() == 1) {
      EXPECT_TRUE(shot(w, "dump_window_from_list"));
      w.run_item("Dret1");
    } else {
      w.Close();
    }
  };
  std::string message;
  g_steps.push_back([&](wxDialog& d) {
    if (auto* t = dynamic_cast<wxStaticText*>(d.FindWindow("MessText"))) message = t->GetLabel().utf8_string();
    click(find(d, "MessFermer"));
  });
  f->run_command("Aff1");
  EXPECT_EQ(message, ui_text(6500));  // empty.txt, announced and passed over
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[0].rfind("mb.dat (", 0), 0u);
  EXPECT_EQ(titles[1].rfind("odd.bin (", 0), 0u);

  // A folder row first: the folder opens, nothing is dumped.
  f->show_item(2, 0);
  pump(200);
  for (long i = 0; i < list->GetItemCount(); ++i)
    list->SetItemState(i, list->GetItemText(i) == "src" ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
  titles.clear();
  f->run_command("Aff1");
  pump(200);
  EXPECT_TRUE(titles.empty());
  EXPECT_EQ(g_partition_folder, src);
  f->run_command("Fermer2");
  f->Close(true);
  pump(300);
}
