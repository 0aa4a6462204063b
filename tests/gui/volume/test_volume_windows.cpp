// The windows of the volume commands, shown over real volumes and driven
// through their own controls: the property dialogs, the name prompt, the
// destination and long path prompts and the PC browser; then the paste and
// the new folder run by the main window itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/clipbrd.h>
#include <wx/combobox.h>
#include <wx/dataobj.h>
#include <wx/listbox.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/treectrl.h>

#include <cstring>
#include <map>

#include "IO/uitext.h"
#include "gui/forms/messageforms.h"
#include "gui/mainframe.h"
#include "gui/mainviews.h"
#include "gui/volume/transfer_dialogs.h"
#include "gui/volume/volume_commands.h"
#include "gui/volume/volume_forms.h"
#include "gui_fixture.h"
#include "hfs/alloc.h"
#include "hfs/voledit.h"
#include "macfiles/import.h"
#include "macfiles/resfork.h"
#include "support/quiet_forms.h"
#include "support/volume_images.h"

using namespace guitest;
using volkit::quote;
using volkit::run;

namespace {

void click(wxWindow* b) {
  ASSERT_NE(b, nullptr);
  wxCommandEvent e(wxEVT_BUTTON, b->GetId());
  e.SetEventObject(b);
  b->GetEventHandler()->ProcessEvent(e);
}
void tick(wxCheckBox* c, bool on) {
  ASSERT_NE(c, nullptr);
  c->SetValue(on);
  wxCommandEvent e(wxEVT_CHECKBOX, c->GetId());
  e.SetEventObject(c);
  e.SetInt(on);
  c->GetEventHandler()->ProcessEvent(e);
}
template <class T>
T* find(wxWindow& d, const char* name) {
  return dynamic_cast<T*>(d.FindWindow(name));
}

// The engine's messages in the real message form, for tests with no main window.
struct MessageForms : volkit::QuietForms {
  GuiForms* saved = g_gui_forms;
  MessageForms() { g_gui_forms = this; }
  ~MessageForms() override { g_gui_forms = saved; }
  void message(const std::string& t, int timeout) override { show_message_form(nullptr, t, timeout); }
  bool yes_no(const std::string& t) override { return ask_yes_no_form(nullptr, t); }
  int yes_no_remember(const std::string& t) override { return ask_yes_no_remember_form(nullptr, t); }
  bool announcement(const std::string& t) override { return announcement_form(nullptr, t); }
};

// Each modal form, once drawn, is handed to the step of its name (a form
// without one is closed); the steps see every form of the test in order.
struct Driver {
  std::map<std::string, std::function<void(wxDialog&)>> steps;
  std::vector<std::string> seen;
  std::vector<std::string> messages;
  MessageForms forms;
  Driver() {
    g_modal_driver = [this](wxDialog& d) {
      auto* timer = new wxTimer;
      timer->Bind(wxEVT_TIMER, [this, &d, timer](wxTimerEvent&) {
        std::string name = d.GetName().utf8_string();
        seen.push_back(name);
        if (auto* t = find<wxStaticText>(d, "MessText")) messages.push_back(t->GetLabel().utf8_string());
        auto it = steps.find(name);
        if (it != steps.end()) it->second(d);
        else if (d.IsModal()) d.EndModal(wxID_CANCEL);
        wxTheApp->CallAfter([timer] { delete timer; });
      });
      timer->StartOnce(300);
    };
  }
  ~Driver() { g_modal_driver = nullptr; }
};

// The page the help window shows after a click on the form's help button; the
// help window, which holds the input over a modal form, is closed once read.
std::string help_page_after_click(wxDialog& form) {
  std::string page;
  auto* timer = new wxTimer;
  timer->Bind(wxEVT_TIMER, [&form, &page, timer](wxTimerEvent&) {
    page = shown_help_page();
    for (wxWindow* w : wxTopLevelWindows) {
      auto* help = dynamic_cast<wxTopLevelWindow*>(w);
      if (!help || help == &form || dynamic_cast<wxDialog*>(w) || !help->IsShown()) continue;
      help->RemoveGrab();
      help->Close(true);
    }
    wxTheApp->CallAfter([timer] { delete timer; });
  });
  timer->StartOnce(500);
  click(find<wxWindow>(form, "Aide"));
  pump(700);
  return page;
}

void picture(wxDialog& d, const std::string& name) {
  pump(200);
  if (!screenshot(d, name)) ADD_FAILURE() << "form " << name << " not shown or blank";
}

// An image of each kind with the five encodings and a folder, mounted.
struct MountedVolume {
  testkit::TempDir dir;
  std::string img;
  volkit::PcInputs in;
  explicit MountedVolume(bool plus) {
    in = volkit::make_pc_inputs(dir);
    img = plus ? volkit::hfsplus_image(dir) : volkit::hformat_image(dir);
    EXPECT_EQ(testvol::open_volume(img, plus), 0);
    volkit::fill_volume(in);
  }
  ~MountedVolume() { testvol::close_volume(); }
  int32_t id(const std::string& name) const { return volkit::item_id(2, name); }
};

// An hfsutils volume under a name the main window opens as a partition image,
// and the window on it in Partition Mode.
std::string window_image(const testkit::TempDir& dir, const std::string& name) {
  std::string img = dir.str(name);
  testkit::fs::rename(volkit::hformat_image(dir), img);
  return img;
}
MainFrame* window_on(const std::string& img) {
  auto* frame = new MainFrame(nullptr);
  frame->Show();
  frame->start_up({img});
  pump(400);
  EXPECT_EQ(g_working_mode, k_mode_partition);
  g_partition_folder = 2;
  g_popup_source = 1;
  return frame;
}
void close_window_and_image(MainFrame* frame) {
  frame->run_command("Fermer2");
  frame->Close(true);
  pump(300);
}

}  // namespace

TEST(VolumeWindows, FilePropertiesShowTheRecordAndWriteTheEdits) {
  REQUIRE_TOOL("tobin");
  for (bool plus : {false, true}) {
    MountedVolume v(plus);
    VolumeItemProperties m;
    ASSERT_EQ(load_volume_item_properties(2, v.id("MBFILE"), m), 0);
    Driver drive;
    drive.steps["FileProperties"] = [&](wxDialog& d) {
      EXPECT_EQ(d.GetTitle(), wxString::FromUTF8(ui_text(1202)));
      EXPECT_EQ(find<wxTextCtrl>(d, "Type")->GetValue(), "APPL");
      EXPECT_FALSE(find<wxWindow>(d, "ExtData")->IsShownOnScreen());
      picture(d, plus ? "file_properties_hfsplus" : "file_properties_hfs");
      click(find<wxButton>(d, "Avance"));
      EXPECT_TRUE(find<wxWindow>(d, "ExtData")->IsShownOnScreen());
      EXPECT_EQ(testkit::fs::path(help_page_after_click(d)).filename(), "t121.html");
      EXPECT_EQ(find<wxListBox>(d, "ExtData")->GetCount(), 1u);
      EXPECT_TRUE(find<wxButton>(d, "Avance")->GetLabel().StartsWith("<<"));
      picture(d, plus ? "file_properties_advanced_hfsplus" : "file_properties_advanced_hfs");
      // The flag boxes wait for "Enable Flag Editing"; Hidden ticks its box.
      EXPECT_FALSE(find<wxCheckBox>(d, "Flag4000")->IsEnabled());
      tick(find<wxCheckBox>(d, "Invisible"), true);
      EXPECT_TRUE(find<wxCheckBox>(d, "Flag4000")->GetValue());
      tick(find<wxCheckBox>(d, "EditFlags"), true);
      EXPECT_TRUE(find<wxCheckBox>(d, "Flag4000")->IsEnabled());
      tick(find<wxCheckBox>(d, "Flag1000"), true);
      find<wxTextCtrl>(d, "Type")->SetValue("ABC");
      find<wxTextCtrl>(d, "Nom")->SetValue("HQXFILE");  // another item's name: refused, the form stays
      click(find<wxButton>(d, "Ecrire"));
      EXPECT_TRUE(d.IsModal());
      find<wxTextCtrl>(d, "Nom")->SetValue("Renamed");
      click(find<wxButton>(d, "Ecrire"));
    };
    drive.steps["TMessOK"] = [](wxDialog& d) { click(find<wxButton>(d, "MessFermer")); };
    ASSERT_TRUE(run_item_properties(nullptr, m));
    ASSERT_EQ(drive.messages.size(), 1u);
    EXPECT_EQ(drive.messages[0], ui_text(k_text_name_exists));
    VolumeItemEdit e;
    ASSERT_EQ(volume_item_edit(m, e), 0);
    EXPECT_EQ(e.name, "Renamed");
    EXPECT_EQ(std::string(e.type_creator, 8), "ABC ABCD");
    EXPECT_EQ(e.flags, 0x5000);
  }
}

TEST(VolumeWindows, FolderPropertiesAndAReadOnlyVolume) {
  REQUIRE_TOOL("tobin");
  MountedVolume v(false);
  VolumeItemProperties folder;
  ASSERT_EQ(load_volume_item_properties(2, v.id("Docs"), folder), 0);
  Driver drive;
  drive.steps["FolderProperties"] = [&](wxDialog& d) {
    EXPECT_EQ(find<wxTextCtrl>(d, "Type"), nullptr);
    picture(d, "folder_properties");
    click(find<wxButton>(d, "Fermer"));
  };
  EXPECT_FALSE(run_item_properties(nullptr, folder));
  g_volume.read_only = 1;
  VolumeItemProperties file;
  ASSERT_EQ(load_volume_item_properties(2, v.id("single.as"), file), 0);
  drive.steps["FileProperties"] = [&](wxDialog& d) {
    EXPECT_FALSE(find<wxButton>(d, "Ecrire")->IsEnabled());
    EXPECT_FALSE(find<wxTextCtrl>(d, "Nom")->IsEditable());
    EXPECT_FALSE(find<wxTextCtrl>(d, "Type")->IsEditable());
    picture(d, "file_properties_read_only");
    d.EndModal(wxID_CANCEL);
  };
  EXPECT_FALSE(run_item_properties(nullptr, file));
  g_volume.read_only = 0;
  // An alias file (type "adrp") on HFS offers its alias; one without an alias record says so.
  ASSERT_EQ(load_allocation_bitmap(), 0);
  ASSERT_EQ(hfs_set_finder_info("plain.txt", 2, "adrpMACS", 0x8000), 1);
  ASSERT_EQ(flush_volume_structures(), 0);
  VolumeItemProperties alias;
  ASSERT_EQ(load_volume_item_properties(2, v.id("plain.txt"), alias), 0);
  drive.steps["FileProperties"] = [&](wxDialog& d) {
    picture(d, "file_properties_alias");
    click(find<wxButton>(d, "Alias"));
    d.EndModal(wxID_CANCEL);
  };
  drive.steps["TMessOK"] = [](wxDialog& d) { click(find<wxButton>(d, "MessFermer")); };
  EXPECT_FALSE(run_item_properties(nullptr, alias));
  EXPECT_EQ(drive.messages, std::vector<std::string>{ui_text(1194)});

  // A file holding an alias record: its target, in the alias dialog's own words, in either language.
  std::vector<uint8_t> record(200, 0);
  record[5] = 200;  // the record's size
  auto pascal = [&](size_t at, const std::string& s) {
    record[at] = uint8_t(s.size());
    std::copy(s.begin(), s.end(), record.begin() + long(at) + 1);
  };
  pascal(10, "Target Disk");
  pascal(50, "Read Me");
  const std::string target_folder = "Docs";
  record.resize(150);
  record.insert(record.end(), {0, 0, 0, uint8_t(target_folder.size())});  // tag 0: the target's folder
  record.insert(record.end(), target_folder.begin(), target_folder.end());
  record.insert(record.end(), {0xFF, 0xFF, 0, 0});
  record[5] = uint8_t(record.size());
  std::vector<uint8_t> fork = encode_resource_fork({{{'a', 'l', 'i', 's'}, 0, "", record}});
  testkit::write_file(v.dir.str("link.rsrc"), fork);
  int fd = ::open(v.dir.str("link.rsrc").c_str(), O_RDONLY);
  MacFile meta;
  meta.name = "link";
  std::memcpy(meta.type.data(), "adrp", 4);
  std::memcpy(meta.creator.data(), "MACS", 4);
  ASSERT_EQ(write_file_forks(meta, ImportFork{}, {fd, 0, fork.size()}, 2, 1), 0);
  ::close(fd);
  ASSERT_EQ(flush_volume_structures(), 0);
  VolumeItemProperties link;
  ASSERT_EQ(load_volume_item_properties(2, v.id("link"), link), 0);
  for (int language : {0, 10000}) {
    g_language_offset = language;
    drive.steps["FileProperties"] = [&](wxDialog& d) {
      click(find<wxButton>(d, "Alias"));
      d.EndModal(wxID_CANCEL);
    };
    drive.steps["AliasView"] = [&](wxDialog& d) {
      EXPECT_EQ(d.GetTitle().utf8_string(), ui_text(1183));
      EXPECT_EQ(find<wxStaticText>(d, "Cible")->GetLabel().utf8_string(), "Read Me");
      EXPECT_EQ(find<wxStaticText>(d, "Volume")->GetLabel().utf8_string(), "Target Disk");
      EXPECT_EQ(find<wxStaticText>(d, "Dossier")->GetLabel().utf8_string(), "Docs");
      picture(d, language ? "alias_view_french" : "alias_view");
      d.EndModal(wxID_CANCEL);
    };
    EXPECT_FALSE(run_item_properties(nullptr, link));
  }
  g_language_offset = 0;
}

TEST(VolumeWindows, VolumePropertiesShowTheFiguresAndTakeAName) {
  REQUIRE_TOOL("tobin");
  for (bool plus : {false, true}) {
    MountedVolume v(plus);
    VolumePropertiesModel m;
    ASSERT_EQ(load_volume_properties(m), 0);
    Driver drive;
    drive.steps["VolumeProperties"] = [&](wxDialog& d) {
      EXPECT_EQ(find<wxStaticText>(d, "Systeme")->GetLabel(), plus ? "HFS+" : "HFS");
      g_language_offset = 10000;
      EXPECT_EQ(testkit::fs::path(help_page_after_click(d)).filename(), "t10123.html");
      g_language_offset = 0;
      picture(d, plus ? "volume_properties_hfsplus" : "volume_properties_hfs");
      click(find<wxButton>(d, "Avance"));
      picture(d, plus ? "volume_properties_advanced_hfsplus" : "volume_properties_advanced_hfs");
      find<wxTextCtrl>(d, "Nom")->SetValue("Another name");
      tick(find<wxCheckBox>(d, "IconePerso"), true);
      click(find<wxButton>(d, "Ecrire"));
    };
    ASSERT_TRUE(run_volume_properties(nullptr, m));
    VolumeEdit e;
    ASSERT_EQ(volume_properties_edit(m, e), 0);
    EXPECT_EQ(e.name, "Another name");
    EXPECT_TRUE(e.icon);
  }
}

TEST(VolumeWindows, NamePromptRefusesAnEmptyName) {
  Driver drive;
  drive.steps["NamePrompt"] = [](wxDialog& d) {
    picture(d, "name_prompt");
    find<wxTextCtrl>(d, "Nom")->SetValue("");
    click(find<wxButton>(d, "wxID_OK") ? find<wxButton>(d, "wxID_OK") : dynamic_cast<wxButton*>(d.FindWindow(wxID_OK)));
    EXPECT_TRUE(d.IsModal());
    find<wxTextCtrl>(d, "Nom")->SetValue("Fine");
    click(dynamic_cast<wxButton*>(d.FindWindow(wxID_OK)));
  };
  drive.steps["TMessOK"] = [](wxDialog& d) { click(find<wxButton>(d, "MessFermer")); };
  std::string name = ui_text(6314);
  auto check = [](const std::string& t) { return t.empty() ? int(k_text_name_empty) : 0; };
  ASSERT_TRUE(run_name_prompt(nullptr, 6314, 6315, 31, name, check, NameField::hfs_name, 2036));
  EXPECT_EQ(name, "Fine");
  EXPECT_EQ(drive.messages, std::vector<std::string>{ui_text(k_text_name_empty)});
}

// The rename prompts of an item and of the volume are titled as their dialogs
// are, in either language; cancelled, they change nothing.
TEST(VolumeWindows, RenamePromptsOfAnItemAndOfTheVolume) {
  testkit::TempDir dir;
  std::string img = volkit::hformat_image(dir, "Named Vol");
  ASSERT_EQ(run("hmount " + quote(img) + " >/dev/null && hmkdir :Docs && humount >/dev/null").rc, 0);
  std::string sum = testkit::sha256_of(img);
  MainFrame* frame = window_on(img);
  Driver drive;
  std::vector<std::string> titles;
  drive.steps["NamePrompt"] = [&](wxDialog& d) {
    titles.push_back(d.GetTitle().utf8_string());
    picture(d, std::string(titles.size() % 2 ? "name_prompt_item" : "name_prompt_volume") + (g_language_offset ? "_french" : ""));
    d.EndModal(wxID_CANCEL);
  };
  for (int language : {0, 10000}) {
    frame->run_command(language ? "Fr1" : "En2");
    frame->file_list()->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    g_popup_source = 1;
    frame->run_command("Ren");
    frame->folder_tree()->SelectItem(frame->folder_tree()->GetRootItem());
    g_popup_source = 0;
    frame->run_command("Ren");
    pump(100);
    ASSERT_EQ(titles.size(), size_t(2 * (language ? 2 : 1)));
    EXPECT_EQ(titles[titles.size() - 2], ui_text(1497));
    EXPECT_EQ(titles.back(), ui_text(1286));
  }
  frame->run_command("En2");
  close_window_and_image(frame);
  EXPECT_EQ(testkit::sha256_of(img), sum);
}

TEST(VolumeWindows, DestinationDialogTakesOnlyAFolderThatExists) {
  testkit::TempDir dir;
  g_destination_path = dir.str() + "/";
  Driver drive;
  drive.steps["TDestSel"] = [&](wxDialog& d) {
    EXPECT_EQ(find<wxTextCtrl>(d, "Chemin")->GetValue(), wxString::FromUTF8(dir.str() + "/"));
    picture(d, "destination_dialog");
    find<wxTextCtrl>(d, "Chemin")->SetValue(wxString::FromUTF8(dir.str("absent")));
    click(find<wxButton>(d, "CopNow"));
    EXPECT_TRUE(d.IsModal());
    testkit::fs::create_directories(dir.str("there"));
    find<wxTextCtrl>(d, "Chemin")->SetValue(wxString::FromUTF8(dir.str("there")));
    click(find<wxButton>(d, "CopNow"));
  };
  drive.steps["TMessOK"] = [](wxDialog& d) { click(find<wxButton>(d, "MessFermer")); };
  ASSERT_TRUE(run_destination_dialog(nullptr));
  EXPECT_EQ(g_destination_path, dir.str("there") + "/");
  EXPECT_EQ(drive.messages.size(), 1u);
  drive.steps["TDestSel"] = [](wxDialog& d) { click(find<wxButton>(d, "Cancel")); };
  EXPECT_FALSE(run_destination_dialog(nullptr));
  EXPECT_EQ(g_destination_path, dir.str("there") + "/");
}

TEST(VolumeWindows, LongPathPromptAcceptsOnlyANameThatFits) {
  std::string drive_part, folder = "/" + std::string(200, 'f') + "/", base = std::string(60, 'n'), ext = ".txt";
  Driver drive;
  drive.steps["TMaxPath"] = [&](wxDialog& d) {
    wxWindow* accept = find<wxButton>(d, "MPVal");
    EXPECT_FALSE(accept->IsEnabled());
    EXPECT_EQ(find<wxTextCtrl>(d, "cont_disk"), nullptr);
    picture(d, "long_path_prompt");
    find<wxTextCtrl>(d, "cont_fich")->SetValue("a/b");
    EXPECT_FALSE(accept->IsEnabled());
    EXPECT_FALSE(find<wxStaticText>(d, "Probleme")->GetLabel().empty());
    find<wxTextCtrl>(d, "cont_fich")->SetValue("short");
    EXPECT_TRUE(accept->IsEnabled());
    click(accept);
  };
  EXPECT_EQ(run_long_path_prompt(nullptr, drive_part, folder, base, ext), 0);
  EXPECT_EQ(base, "short");
  drive.steps["TMaxPath"] = [](wxDialog& d) { click(find<wxButton>(d, "Cancel")); };
  EXPECT_EQ(run_long_path_prompt(nullptr, drive_part, folder, base, ext), -1);
}

TEST(VolumeWindows, PcBrowserListsAFolderAndGivesTheChosenPaths) {
  REQUIRE_TOOL("tobin");
  MountedVolume v(true);
  testkit::fs::create_directories(v.in.folder + "/Sub");
  save_vlv_folder((v.in.folder + "/").c_str());
  save_vlv_layout("");
  Driver drive;
  std::vector<std::string> paths;
  drive.steps["TWinVLV"] = [&](wxDialog& d) {
    auto* list = find<wxListCtrl>(d, "VLV");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetItemCount(), 6);  // Sub, then the five files
    EXPECT_EQ(list->GetItemText(0), "Sub");
    EXPECT_FALSE(find<wxWindow>(d, "TBCop")->IsEnabled());
    EXPECT_TRUE(find<wxWindow>(d, "tlbtnUp")->IsEnabled());
    picture(d, "pc_browser_report");
    click(find<wxWindow>(d, "tlbtnLargeIcons"));
    picture(d, "pc_browser_large_icons");
    click(find<wxWindow>(d, "tlbtnList"));
    picture(d, "pc_browser_list");
    click(find<wxWindow>(d, "tlbtnReport"));
    for (long i : {1L, 2L}) list->SetItemState(i, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    pump(100);
    EXPECT_TRUE(find<wxWindow>(d, "TBCop")->IsEnabled());
    click(find<wxWindow>(d, "TBCop"));
  };
  ASSERT_TRUE(run_pc_browser(nullptr, paths));
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0], v.in.folder + "/HQXFILE.hqx");
  EXPECT_EQ(paths[1], v.in.folder + "/MBFILE.bin");
  char buf[512];
  EXPECT_EQ(std::string(read_vlv_folder(buf)), v.in.folder + "/");
  EXPECT_FALSE(std::string(read_vlv_layout(buf)).empty());
}

TEST(VolumeWindows, MainWindowPastesFilesAndMakesAFolderOnTheVolume) {
  REQUIRE_TOOL("hformat");
  Driver drive;
  drive.steps["TMessOK"] = [](wxDialog& d) { click(find<wxButton>(d, "MessFermer")); };
  testkit::TempDir dir;
  std::string img = dir.str("window.hfs");  // an extension the window opens as a partition image
  testkit::fs::rename(volkit::hformat_image(dir), img);
  auto* frame = new MainFrame(nullptr);
  frame->Show();
  frame->start_up({img});
  pump(400);
  ASSERT_EQ(g_working_mode, k_mode_partition);
  ASSERT_EQ(frame->document_path(), img);
  // The window's own views: the file is pasted into the folder they show.
  ASSERT_EQ(g_main_views, static_cast<MainViews*>(frame));
  g_partition_folder = 2;
  testkit::write_text(dir.str("pasted.txt"), "from the clipboard\n");
  {
    wxClipboardLocker lock;
    auto* files = new wxFileDataObject;
    files->AddFile(wxString::FromUTF8(dir.str("pasted.txt")));
    ASSERT_TRUE(wxTheClipboard->SetData(files));
  }
  frame->run_command("DrExpl");
  drive.steps["NamePrompt"] = [](wxDialog& d) {
    find<wxTextCtrl>(d, "Nom")->SetValue("Made in the window");
    click(dynamic_cast<wxButton*>(d.FindWindow(wxID_OK)));
  };
  frame->run_command("MD");
  pump(200);
  // The properties of the pasted file, selected in the list and written
  // through the form, in French.
  int32_t pasted = volkit::item_id(2, "pasted.txt");
  ASSERT_NE(pasted, 0);
  frame->show_item(2, pasted);
  pump(100);
  ASSERT_EQ(frame->selected_entries().size(), 1u);
  g_popup_source = 1;
  g_language_offset = 10000;
  drive.steps["FileProperties"] = [](wxDialog& d) {
    EXPECT_EQ(d.GetTitle(), wxString::FromUTF8(ui_text(1202)));
    picture(d, "file_properties_french");
    find<wxTextCtrl>(d, "Type")->SetValue("TTRO");
    find<wxTextCtrl>(d, "Createur")->SetValue("ttxt");
    click(find<wxButton>(d, "Ecrire"));
  };
  frame->run_command("AttrPart");
  g_language_offset = 0;
  pump(200);
  testvol::expect_sound("after the paste and the folder");
  frame->run_command("Fermer2");
  EXPECT_EQ(testvol::hfs_listing(img), (std::set<std::string>{":pasted.txt", ":Made in the window"}));
  auto hls = run("hmount " + quote(img) + " >/dev/null && hls -l :pasted.txt");
  EXPECT_NE(hls.out.find("TTRO/ttxt"), std::string::npos) << hls.out;
  frame->Close(true);
  pump(300);
}

// Codes with zero and unprintable bytes, as ProDOS files on real disks carry
// them: Write with nothing changed gives hcopy -m the same header bytes back;
// the list and the form show every byte.
TEST(VolumeWindows, PropertiesWriteKeepsEveryByteOfTypeAndCreator) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("hcopy");
  Driver drive;
  testkit::TempDir dir;
  std::string img = window_image(dir, "prodos.hfs");
  testkit::write_text(dir.str("data"), "an Apple II file\n");
  auto made = run(volkit::mactool() + "make-macbinary " + quote(dir.str("p.bin")) + " PRODOS.FILE 70c70000 70646f73 " +
                  quote(dir.str("data")) + " && " + volkit::mactool() + "make-macbinary " + quote(dir.str("z.bin")) +
                  " ZERO 00000000 70646f73 " + quote(dir.str("data")) + " && hmount " + quote(img) +
                  " >/dev/null && hcopy -m " + quote(dir.str("p.bin")) + " : && hcopy -m " + quote(dir.str("z.bin")) +
                  " : && humount");
  ASSERT_EQ(made.rc, 0) << made.err;
  auto header_codes = [&](const char* name) {
    auto r = run("hmount " + quote(img) + " >/dev/null && hcopy -m :" + name + " " + quote(dir.str("out.bin")));
    EXPECT_EQ(r.rc, 0) << r.err;
    std::vector<uint8_t> b = testkit::read_file(dir.str("out.bin"));
    return b.size() >= 73 ? std::vector<uint8_t>(b.begin() + 65, b.begin() + 73) : std::vector<uint8_t>{};
  };
  const std::vector<uint8_t> prodos = {0x70, 0xC7, 0, 0, 'p', 'd', 'o', 's'}, zero = {0, 0, 0, 0, 'p', 'd', 'o', 's'};
  ASSERT_EQ(header_codes("PRODOS.FILE"), prodos);
  ASSERT_EQ(header_codes("ZERO"), zero);

  MainFrame* frame = window_on(img);
  // The Signature column shows the codes whole.
  auto row_shows = [&](int32_t id, const std::string& text) {
    frame->show_item(2, id);
    pump(100);
    long row = frame->file_list()->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    for (int c = 0; row >= 0 && c < frame->file_list()->GetColumnCount(); ++c)
      if (frame->file_list()->GetItemText(row, c).utf8_string() == text) return true;
    return false;
  };
  const int32_t p = volkit::item_id(2, "PRODOS.FILE"), z = volkit::item_id(2, "ZERO");
  EXPECT_TRUE(row_shows(p, "p\xC2\xAB\\x00\\x00pdos"));
  EXPECT_TRUE(row_shows(z, "\\x00\\x00\\x00\\x00pdos"));
  frame->SetSize(0, 0, 1250, 420);
  pump(300);
  EXPECT_TRUE(screenshot(*frame, "list_signature_unprintable"));

  std::string type_shown, creator_shown;
  for (int language : {0, 10000}) {
    g_language_offset = language;
    frame->show_item(2, p);
    pump(100);
    drive.steps["FileProperties"] = [&, language](wxDialog& d) {
      type_shown = find<wxTextCtrl>(d, "Type")->GetValue().utf8_string();
      creator_shown = find<wxTextCtrl>(d, "Createur")->GetValue().utf8_string();
      picture(d, language ? "file_properties_codes_french" : "file_properties_codes");
      click(find<wxButton>(d, "Ecrire"));  // nothing changed
    };
    frame->run_command("AttrPart");
    pump(200);
    EXPECT_EQ(type_shown, "p\xC2\xAB\\x00\\x00");
    EXPECT_EQ(creator_shown, "pdos");
  }
  g_language_offset = 0;
  // The zero type through the form too, its creator typed with an escape.
  frame->show_item(2, z);
  pump(100);
  drive.steps["FileProperties"] = [&](wxDialog& d) {
    EXPECT_EQ(find<wxTextCtrl>(d, "Type")->GetValue().utf8_string(), "\\x00\\x00\\x00\\x00");
    find<wxTextCtrl>(d, "Createur")->SetValue("pd\\x01s");
    click(find<wxButton>(d, "Ecrire"));
  };
  frame->run_command("AttrPart");
  pump(200);
  // Five bytes are refused with a message, the form staying open.
  frame->show_item(2, z);
  pump(100);
  drive.steps["FileProperties"] = [&](wxDialog& d) {
    find<wxTextCtrl>(d, "Type")->SetValue("ABCDE");
    click(find<wxButton>(d, "Ecrire"));
    EXPECT_TRUE(d.IsModal());
    if (d.IsModal()) d.EndModal(wxID_CANCEL);
  };
  drive.steps["TMessOK"] = [](wxDialog& d) { click(find<wxButton>(d, "MessFermer")); };
  frame->run_command("AttrPart");
  pump(200);
  EXPECT_FALSE(drive.messages.empty());
  close_window_and_image(frame);
  EXPECT_EQ(header_codes("PRODOS.FILE"), prodos);
  EXPECT_EQ(header_codes("ZERO"), (std::vector<uint8_t>{0, 0, 0, 0, 'p', 'd', 1, 's'}));
}

// Delete from the list asks for a file too; "No" leaves the image as it was,
// byte for byte; "Yes" deletes it, as hfsutils then lists.
TEST(VolumeWindows, DeleteAsksForAFileAndNoChangesNothing) {
  REQUIRE_TOOL("hformat");
  Driver drive;
  testkit::TempDir dir;
  std::string img = window_image(dir, "delete.hfs");
  testkit::write_text(dir.str("keep.txt"), "kept\n");
  testkit::write_text(dir.str("gone.txt"), "gone\n");
  ASSERT_EQ(run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(dir.str("keep.txt")) + " : && hcopy -r " +
                quote(dir.str("gone.txt")) + " : && humount").rc, 0);
  const uint32_t options = g_edit_options;
  g_edit_options &= ~k_option_delete_folders_unasked;
  g_delete_item_answer = 0;
  MainFrame* frame = window_on(img);
  const int32_t gone = volkit::item_id(2, "gone.txt");
  std::vector<uint8_t> before = testkit::read_file(img);
  for (int language : {0, 10000}) {
    g_language_offset = language;
    frame->show_item(2, gone);
    pump(100);
    drive.steps["TMessONT"] = [language](wxDialog& d) {
      picture(d, language ? "delete_file_question_french" : "delete_file_question");
      click(find<wxButton>(d, language ? "MessOui" : "MessNon"));
    };
    frame->run_command("Supp1");
    pump(200);
    if (language == 0) {
      EXPECT_TRUE(testkit::read_file(img) == before) << "\"No\" wrote nothing";
    }
  }
  g_language_offset = 0;
  ASSERT_EQ(drive.messages.size(), 2u);
  EXPECT_EQ(drive.messages[0], format_text(ui_text(6651).c_str(), "gone.txt"));
  close_window_and_image(frame);
  g_edit_options = options;
  EXPECT_EQ(testvol::hfs_listing(img), (std::set<std::string>{":keep.txt"}));
}

// "No" to the delete question leaves the list's selection as it was: the next
// command (Swap Forks) acts on the row, as hfsutils then finds the file's
// bytes in its resource fork.
TEST(VolumeWindows, NoToTheDeleteQuestionKeepsTheRowSelected) {
  REQUIRE_TOOL("hformat");
  Driver drive;
  testkit::TempDir dir;
  std::string img = window_image(dir, "keep.hfs");
  const std::vector<uint8_t> bytes = testkit::random_bytes(3000, 7);
  testkit::write_file(dir.path() / "one", bytes);
  ASSERT_EQ(run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(dir.str("one")) + " : && humount").rc, 0);
  const uint32_t options = g_edit_options;
  g_edit_options &= ~k_option_delete_folders_unasked;
  g_delete_item_answer = 0;
  MainFrame* frame = window_on(img);
  const int32_t one = volkit::item_id(2, "one");
  ASSERT_NE(one, 0);
  frame->show_item(2, one);
  pump(100);
  drive.steps["TMessONT"] = [](wxDialog& d) { click(find<wxButton>(d, "MessNon")); };
  for (int language : {0, 10000}) {
    frame->run_command(language ? "Fr1" : "En2");
    frame->run_command("Supp1");
    pump(300);
    std::vector<FileTableEntry> kept = frame->selected_entries();
    ASSERT_EQ(kept.size(), 1u) << "the selection went with the answer";
    EXPECT_EQ(kept[0].id, one);
    EXPECT_EQ(g_popup_source, 1) << "the list is still the view the commands act on";
    EXPECT_TRUE(screenshot("keep.hfs [Corvane]", language ? "delete_no_keeps_row_french" : "delete_no_keeps_row"));
  }
  frame->run_command("En2");
  drive.steps["TMessON"] = [](wxDialog& d) { click(find<wxButton>(d, "MessOui")); };
  frame->run_command("SW1");
  pump(300);
  EXPECT_EQ(drive.seen, (std::vector<std::string>{"TMessONT", "TMessONT", "TMessON"}));
  close_window_and_image(frame);
  g_edit_options = options;
  ASSERT_EQ(run("hmount " + quote(img) + " >/dev/null && hcopy -m :one " + quote(dir.str("one.bin"))).rc, 0);
  std::vector<uint8_t> bin = testkit::read_file(dir.path() / "one.bin");
  ASSERT_GE(bin.size(), 128u + 3000u);
  EXPECT_EQ(bin[83] | bin[84] | bin[85] | bin[86], 0) << "no data fork left";
  EXPECT_EQ(std::vector<uint8_t>(bin.begin() + 128, bin.begin() + 128 + 3000), bytes) << "the bytes are the resource fork";
}
