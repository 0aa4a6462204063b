// The .DS_Store editor driven through its own controls: the root laid out
// and written into the project, what the file and the user gave kept, each
// state photographed and judged by a reader of the public format.
#include <gtest/gtest.h>


#include <wx/spinctrl.h>


#include "IO/uitext.h"
#include "form_steps.h"
#include "gui/dsstore/dsstore_editor.h"
#include "gui/dsstore/dsstore_form.h"
#include "support/inclusion_kit.h"

using namespace guitest;
using namespace formsteps;
using testkit::fs::path;

// --- .DS_Store editor ----------------------------------------------------------------------------
namespace {

// A hybrid project (HFS target, to be switched) of a few root items.
std::string make_layout_project(const testkit::TempDir& dir) {
  path src = dir.path() / "src";
  testkit::fs::create_directories(src / "Dossier \xC3\xA9t\xC3\xA9");
  testkit::write_text(src / "Dossier \xC3\xA9t\xC3\xA9" / "inside.txt", "x");
  for (const char* n : {"Lisez-moi.txt", "Z\xC3\xA8" "bre.txt", "app.txt"}) testkit::write_text(src / n, n);
  std::string project = dir.str("disc.cvpr");
  EXPECT_EQ(create_project_file(project, 0, "Corvane CD"), 0);
  FILE* f = std::fopen(project.c_str(), "r+b");
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  ProjectRecord buf;
  AddCounts counts;
  add_pc_items(f, counts, buf, src.string() + "/*", k_root_folder_id);
  add_folder_counts(f, k_root_folder_id, int32_t(counts.folders_added), int32_t(counts.files_added));
  write_project_totals(f);
  std::fclose(f);
  return project;
}

// A PNG picture of w x h (blue, a yellow patch) for the background.
std::string make_picture(const testkit::TempDir& dir, int w, int h) {
  std::string picture = dir.str("fond.png");
  wxImage image(w, h);
  image.SetRGB(wxRect(0, 0, w, h), 0x30, 0x70, 0xB0);
  image.SetRGB(wxRect(40, 40, 200, 120), 0xF0, 0xC0, 0x30);
  EXPECT_TRUE(image.SaveFile(wxString::FromUTF8(picture), wxBITMAP_TYPE_PNG));
  return picture;
}

}  // namespace

TEST(DsStoreWindow, DsStoreEditorLaysOutTheRootAndWritesItIntoTheProject) {
  REQUIRE_TOOL("file");
  REQUIRE_TOOL("fls");
  SavedGlobals keep;
  testkit::TempDir dir;
  g_auto_truncate_iso = g_auto_truncate_hfsplus = g_auto_truncate_hfs = true;
  std::string project = make_layout_project(dir);
  std::string picture = make_picture(dir, 640, 480);
  std::string target = dir.str(".DS_Store");
  g_name_view = k_name_view_pc;
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_NE(f, nullptr);

  std::string switched, proposed;
  std::vector<std::string> names;
  std::string first_place, after_grid, left_after_drag, width_after_picture, height_after_picture;
  bool pane_shown = false, create_off_with_pane = false;
  drive({
      note_message(switched),
      [&](wxDialog& d) {
        auto* list = child<wxListCtrl>(d, "lvi");
        ASSERT_TRUE(list);
        for (long i = 0; i < list->GetItemCount(); ++i) names.push_back(cell(list, i, 0));
        first_place = cell(list, 0, 1) + "," + cell(list, 0, 2);
        EXPECT_EQ(child<wxSpinCtrl>(d, "val_gauche")->GetValue(), 100);
        EXPECT_EQ(child<wxSpinCtrl>(d, "val_bas")->GetValue(), 400);
        choose(child<wxChoice>(d, "liste_taillicon"), 2);  // 48 pixels: the icons go back on the grid
        after_grid = cell(list, 0, 1) + "," + cell(list, 0, 2);
        // A drag of the window inside the preview by (10, 5) preview pixels.
        wxWindow* screen = d.FindWindow("ecran");
        ASSERT_TRUE(screen);
        wxMouseEvent down(wxEVT_LEFT_DOWN), up(wxEVT_LEFT_UP);
        down.m_x = 60, down.m_y = 60;
        up.m_x = 70, up.m_y = 65;
        down.SetEventObject(screen);
        up.SetEventObject(screen);
        screen->GetEventHandler()->ProcessEvent(down);
        screen->GetEventHandler()->ProcessEvent(up);
        left_after_drag = std::to_string(child<wxSpinCtrl>(d, "val_gauche")->GetValue());
        // The picture: the window takes its size (and the icons go back on the grid).
        child<wxTextCtrl>(d, "fichier_fond")->SetValue(wxString::FromUTF8(picture));
        width_after_picture = std::to_string(child<wxSpinCtrl>(d, "val_largeur")->GetValue());
        height_after_picture = std::to_string(child<wxSpinCtrl>(d, "val_hauteur")->GetValue());
        // The first item moves down one row; then its place is typed in the pane.
        select_row(list, 0);
        menu(d, k_ds_move_down);
        menu(d, k_ds_edit_item);
        pane_shown = d.FindWindow("edit")->IsShown();
        create_off_with_pane = !d.FindWindow("valid")->IsEnabled();
        child<wxSpinCtrl>(d, "ed_posh")->SetValue(205);
        child<wxSpinCtrl>(d, "ed_posv")->SetValue(95);
        shoot(d, "ds_store_item_pane");
        click(d.FindWindow("save"));
        click(d.FindWindow("Masquer"));
        EXPECT_EQ(cell(list, 1, 1) + "," + cell(list, 1, 2), "205,95");
        shoot(d, "ds_store_editor");
        click(d.FindWindow("valid"));
      },
      file_answer(target, &proposed),
  });
  EXPECT_EQ(run_ds_store_editor(nullptr, f, project), -1);
  done_driving();
  EXPECT_EQ(unwrapped(switched), unwrapped(ui_text(1542)));
  EXPECT_EQ(get_project_hfs_format(f), 1) << "the project now targets HFS+";
  EXPECT_EQ(names, (std::vector<std::string>{"Dossier \xC3\xA9t\xC3\xA9", "Lisez-moi.txt", "Z\xC3\xA8" "bre.txt",
                                             "app.txt"}));
  EXPECT_EQ(first_place, "95,51");
  EXPECT_EQ(after_grid, "92,33");  // text 14, icon 48, spacing 86
  EXPECT_EQ(left_after_drag, "140") << "moved by 10 quarter-pixels and kept on the grid of 4";
  EXPECT_TRUE(pane_shown && create_off_with_pane);
  EXPECT_EQ(width_after_picture + "x" + height_after_picture, "640x480");
  EXPECT_EQ(proposed, ".DS_Store");

  // The file, as file(1) and our reader see it, and the project's root.
  testkit::RunResult kind = testkit::run("file -b " + testkit::quote(target));
  EXPECT_NE(kind.out.find("Apple Desktop Services Store"), std::string::npos) << kind.out;
  std::vector<uint8_t> bytes = testkit::read_file(target);
  std::vector<DsStoreRecord> records;
  std::string error;
  ASSERT_EQ(read_ds_store_records(bytes.data(), bytes.size(), records, error), 0) << error;
  bool moved = false;
  for (const DsStoreRecord& r : records)
    moved |= r.name == u"Dossier e\u0301te\u0301" && r.code == fourcc("Iloc") && ds_store_value_u32(r, 0) == 205 &&
             ds_store_value_u32(r, 4) == 95;
  EXPECT_TRUE(moved) << "the item placed by hand";
  EXPECT_EQ(testkit::count_root_items(f, ".DS_Store"), 1);
  EXPECT_EQ(testkit::count_root_items(f, ".!Background"), 1);

  // A second run over a damaged file: replaced after a question, one background folder still.
  testkit::write_text(target, "no desktop services store");
  std::string damaged, replace;
  drive({
      note_message(damaged),
      [&](wxDialog& d) {
        child<wxTextCtrl>(d, "fichier_fond")->SetValue(wxString::FromUTF8(picture));
        click(d.FindWindow("valid"));
      },
      note_message(replace, "MessOui"),
      file_answer(target),
  });
  EXPECT_EQ(run_ds_store_editor(nullptr, f, project), -1);
  done_driving();
  EXPECT_NE(damaged.find(".DS_Store"), std::string::npos) << damaged;
  EXPECT_EQ(unwrapped(replace), unwrapped(format_text(ui_text(6665).c_str(), target.c_str())));
  EXPECT_EQ(testkit::count_root_items(f, ".DS_Store"), 1);
  EXPECT_EQ(testkit::count_root_items(f, ".!Background"), 1);
  EXPECT_TRUE(check_project_invariants(f).empty());
  std::fclose(f);

  // Compiled to HFS+: one .DS_Store equal to the project's file, one picture in .!Background.
  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0);
  std::string img = dir.str("disc.iso");
  testkit::RunResult mm = testkit::run("mmls -t mac -b 2048 " + testkit::quote(img));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(mm.out, m, std::regex("001\\s+0*([0-9]+)\\s+[0-9]+\\s+[0-9]+\\s+Apple_HFS"))) << mm.out;
  std::string offset = std::to_string(std::stoul(m[1]) * 4);
  testkit::RunResult listing = testkit::run("fls -f hfsp -r -p -o " + offset + " " + testkit::quote(img));
  ASSERT_EQ(listing.rc, 0) << listing.err;
  auto count = [&](const std::string& re) {
    std::regex r(re);
    return std::distance(std::sregex_iterator(listing.out.begin(), listing.out.end(), r), std::sregex_iterator());
  };
  EXPECT_EQ(count("\t\\.DS_Store\n"), 1) << listing.out;
  EXPECT_EQ(count("\t\\.!Background\n"), 1) << listing.out;
  EXPECT_EQ(count("\t\\.!Background/fond\\.png\n"), 1) << listing.out;
  std::smatch store;
  ASSERT_TRUE(std::regex_search(listing.out, store, std::regex("r/r ([0-9]+):\t\\.DS_Store\n")));
  testkit::RunResult copy = testkit::run("icat -f hfsp -o " + offset + " " + testkit::quote(img) + " " + store[1].str() +
                                         " > " + testkit::quote(dir.str("copy")));
  ASSERT_EQ(copy.rc, 0) << copy.err;
  EXPECT_EQ(testkit::read_file(dir.str("copy")), testkit::read_file(target));
}

// The positions of a file with a background picture come back as the file
// has them and are written again unchanged (records compared by a reader of
// the public format); the project's file is replaced only after a question;
// cancelling the picture chooser keeps the picture.
TEST(DsStoreWindow, DsStoreEditorKeepsWhatTheFileAndTheUserGave) {
  SavedGlobals keep;
  testkit::TempDir dir;
  g_auto_truncate_iso = g_auto_truncate_hfsplus = g_auto_truncate_hfs = true;
  std::string project = make_layout_project(dir);
  std::string picture = make_picture(dir, 400, 300);
  std::string target = dir.str(".DS_Store");
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(switch_project_to_hfsplus(f), 1);
  auto iloc_records = [&] {
    testkit::RunResult w = testkit::run("python3 " + testkit::quote(std::string(CORVANE_SOURCE_DIR) +
                                        "/tests/macfiles/ds_store_walk.py") + " " + testkit::quote(target));
    EXPECT_EQ(w.rc, 0) << w.out << w.err;
    std::vector<std::string> out;
    std::istringstream in(w.out);
    for (std::string line; std::getline(in, line);)
      if (line.find("\tIloc\t") != std::string::npos) out.push_back(line);
    return out;
  };
  auto place = [](wxDialog& d, int row, int x, int y) {
    auto* list = child<wxListCtrl>(d, "lvi");
    select_row(list, row);
    menu(d, k_ds_edit_item);
    child<wxSpinCtrl>(d, "ed_posh")->SetValue(x);
    child<wxSpinCtrl>(d, "ed_posv")->SetValue(y);
    click(d.FindWindow("Masquer"));
  };
  auto places_of = [](wxDialog& d) {
    std::map<std::string, std::string> out;
    auto* list = child<wxListCtrl>(d, "lvi");
    for (long i = 0; list && i < list->GetItemCount(); ++i) out[cell(list, i, 0)] = cell(list, i, 1) + "," + cell(list, i, 2);
    return out;
  };
  // The first file: a picture, two icons placed by hand.
  std::map<std::string, std::string> placed, reopened;
  drive({[&](wxDialog& d) {
           child<wxTextCtrl>(d, "fichier_fond")->SetValue(wxString::FromUTF8(picture));
           place(d, 0, 205, 95);
           place(d, 2, 40, 210);
           placed = places_of(d);
           click(d.FindWindow("valid"));
         },
         file_answer(target)});
  ASSERT_EQ(run_ds_store_editor(nullptr, f, project), -1);
  done_driving();
  std::vector<std::string> first = iloc_records();
  ASSERT_EQ(first.size(), 4u);

  // Opened again: the rows hold the file's places and the window the picture's
  // size; "No" to replacing the project's file changes nothing; "Yes" writes
  // the same places.
  std::string width, height, refused, asked;
  drive({[&](wxDialog& d) {
           reopened = places_of(d);
           width = std::to_string(child<wxSpinCtrl>(d, "val_largeur")->GetValue());
           height = std::to_string(child<wxSpinCtrl>(d, "val_hauteur")->GetValue());
           click(d.FindWindow("valid"));
           EXPECT_TRUE(d.IsModal()) << "\"No\" keeps the editor open";
           g_language_offset = 10000;
           click(d.FindWindow("valid"));
           g_language_offset = 0;
         },
         [&](wxDialog& d) {
           shoot(d, "ds_store_replace_question");
           note_message(refused, "MessNon")(d);
         },
         [&](wxDialog& d) {
           shoot(d, "ds_store_replace_question_french");
           note_message(asked, "MessOui")(d);
         },
         file_answer(target)});
  EXPECT_EQ(run_ds_store_editor(nullptr, f, project), -1);
  done_driving();
  EXPECT_EQ(reopened, placed);
  EXPECT_EQ(std::count_if(placed.begin(), placed.end(), [](auto& p) { return p.second == "205,95" || p.second == "40,210"; }), 2);
  EXPECT_EQ(width + "x" + height, "400x300");
  EXPECT_FALSE(refused.empty());
  EXPECT_EQ(iloc_records(), first) << "the places written again as the file had them";
  EXPECT_EQ(testkit::count_root_items(f, ".DS_Store"), 1);

  // The picture chooser cancelled: the picture stays.
  std::string kept_picture;
  std::vector<uint8_t> written = testkit::read_file(target);
  drive({[&](wxDialog& d) {
           click(d.FindWindow("browse"));
           kept_picture = child<wxTextCtrl>(d, "fichier_fond")->GetValue().utf8_string();
           click(d.FindWindow("cancel"));
         },
         file_answer("")});
  EXPECT_EQ(run_ds_store_editor(nullptr, f, project), 0);
  done_driving();
  EXPECT_EQ(kept_picture, picture);
  EXPECT_TRUE(testkit::read_file(target) == written) << "Cancel writes nothing";
  EXPECT_TRUE(check_project_invariants(f).empty());
  std::fclose(f);
}
