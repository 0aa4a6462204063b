// The refresh review window driven through its own controls: each change
// accepted into the open project, printed and photographed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/choice.h>
#include <wx/dcmemory.h>
#include <wx/filedlg.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/slider.h>
#include <wx/spinbutt.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <regex>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "form_steps.h"
#include "gui/dsstore/dsstore_editor.h"
#include "gui/dsstore/dsstore_form.h"
#include "gui/forms/messageforms.h"
#include "gui/mainframe.h"
#include "gui/mainviews.h"
#include "gui/preferences/preferences.h"
#include "gui/preferences/preferences_form.h"
#include "gui/refresh/refresh_form.h"
#include "gui/refresh/refresh_review.h"
#include "gui/signatures/sigreplace.h"
#include "gui/signatures/sigreplace_form.h"
#include "gui/signatures/sigtable_edit.h"
#include "gui/signatures/sigtable_form.h"
#include "gui/special/special_logic.h"
#include "gui_fixture.h"
#include "hfs/volume_fixture.h"
#include "macfiles/dsstore.h"
#include "macfiles/signatures.h"
#include "support/inclusion_kit.h"
#include "support/volume_images.h"

using namespace guitest;
using namespace formsteps;
using testkit::fs::path;

TEST(RefreshWindow, RefreshReviewAcceptsEachChangeIntoTheOpenProject) {
  SavedGlobals keep;
  testkit::TempDir dir;
  path src = dir.path() / "src" / "cd";
  testkit::fs::create_directories(src / "sub" / "deep");
  testkit::write_text(src / "a.txt", "first text");
  testkit::write_text(src / "sub" / "gone.txt", "going");
  testkit::write_text(src / "sub" / "deep" / "c.txt", "c");
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run_command_line_operation("-i", project.c_str(), dir.str("src").c_str()), 0);
  std::set<int32_t> old_ids;
  for (const ProjectRecord& r : testkit::project_records(project)) old_ids.insert(r.id);
  {
    // The project's option to take in what is new in its folders (set by the
    // preference "Rebuild the project" as it is made): additions are reviewed too.
    FILE* p = std::fopen(project.c_str(), "r+b");
    ProjectHeader h;
    ASSERT_TRUE(read_project_header(p, h));
    h.open_flags |= 0x20;
    ASSERT_TRUE(write_project_header(p, h));
    std::fclose(p);
  }

  MainFrame* f = open_main_window({project});
  ASSERT_NE(g_project_file, nullptr);
  // Nothing changed on the PC disk: a message, no window.
  std::string nothing;
  drive({note_message(nothing)});
  f->run_command("Refr");
  done_driving();
  EXPECT_EQ(unwrapped(nothing), ui_text(1338));

  const std::string long_name = std::string(96, 'L') + ".txt";
  testkit::fs::create_directories(src / "sub" / "new|dir");
  testkit::write_text(src / "sub" / "new|dir" / "inner.txt", "inner");
  testkit::write_text(src / "sub" / long_name, "long");
  testkit::write_text(src / "sub" / "pipe|name.txt", "pipe");
  testkit::write_text(src / "a.txt", "a longer text than before");
  testkit::fs::remove(src / "sub" / "gone.txt");
  testkit::fs::remove_all(src / "sub" / "deep");
  g_auto_truncate_iso = g_auto_truncate_hfsplus = g_auto_truncate_hfs = true;  // as the preference does

  std::vector<std::string> tabs_at_start;
  std::string question, close_question;
  std::vector<std::string> pipe_rows, folders_shown;
  drive({
      [&](wxDialog& d) {
        auto* pages = child<wxNotebook>(d, "PageControl");
        ASSERT_TRUE(pages);
        for (size_t i = 0; i < pages->GetPageCount(); ++i) tabs_at_start.push_back(pages->GetPageText(i).utf8_string());
        EXPECT_EQ(pages->GetSelection(), 0) << "the deletions in front";
        // Names and places in the project, not record ids; the commands as buttons.
        auto* deletions = child<wxListCtrl>(d, "ListeDel");
        ASSERT_TRUE(deletions);
        for (long i = 0; i < deletions->GetItemCount(); ++i)
          folders_shown.push_back(cell(deletions, i, 0) + " in " + cell(deletions, i, 1));
        for (const char* b : {"AcceptItem", "DismissItem", "AcceptTab", "DismissTab", "AcceptAll", "Retour"})
          EXPECT_TRUE(child<wxWindow>(d, b) && child<wxWindow>(d, b)->IsShownOnScreen()) << b;
        shoot(d, "refresh_review");
        // The close box with changes listed asks first; "No" keeps the window.
        d.Close();
        pump(100);
        EXPECT_TRUE(d.IsModal());
        for (int t = 0; t < 3; ++t) {
          wxListCtrl* list = child<wxListCtrl>(d, t == 0 ? "ListeDel" : t == 1 ? "ListeMod" : "ListeAdd");
          for (long i = 0; list && i < list->GetItemCount(); ++i)
            if (cell(list, i, 0).find('|') != std::string::npos) pipe_rows.push_back(cell(list, i, 0));
        }
        // Item by item, as "Accept current item" does, until the window closes.
        for (int guard = 0; guard < 20 && d.IsModal(); ++guard) {
          int page = pages->GetSelection();
          auto* list = dynamic_cast<wxListCtrl*>(pages->GetPage(size_t(page)));
          ASSERT_TRUE(list);
          select_row(list, 0);
          if (guard == 2) shoot(d, "refresh_review_later");
          menu(d, k_refresh_accept_item);
        }
        EXPECT_FALSE(d.IsModal()) << "the window closes with its last item";
      },
      note_message(close_question, "MessNon"),
      note_message(question, "MessOui"),  // the folder that still holds files: deleted on "Yes"
  });
  f->run_command("Refr");
  done_driving();
  EXPECT_EQ(unwrapped(close_question), unwrapped(format_text(ui_text(6663).c_str(), 6)));
  std::sort(folders_shown.begin(), folders_shown.end());
  EXPECT_EQ(folders_shown, (std::vector<std::string>{"deep in /src/cd/sub", "gone.txt in /src/cd/sub"}));
  EXPECT_EQ(tabs_at_start, (std::vector<std::string>{ui_text(1561), ui_text(1562), ui_text(1563)}));
  EXPECT_EQ(pipe_rows, (std::vector<std::string>{"new|dir", "pipe|name.txt"}));
  EXPECT_FALSE(question.empty());
  // Another change, the window left by its button with the change listed:
  // asked, in French too, and on "Yes" the project stays as it was, byte for byte.
  testkit::fs::remove(src / "a.txt");
  std::vector<uint8_t> before = testkit::read_file(project);
  g_language_offset = 10000;
  drive({[&](wxDialog& d) {
           shoot(d, "refresh_review_french");
           click(d.FindWindow("Retour"));
         },
         [&](wxDialog& d) {
           shoot(d, "refresh_review_close_french");
           click(d.FindWindow("MessOui"));
         }});
  f->run_command("Refr");
  done_driving();
  g_language_offset = 0;
  EXPECT_TRUE(testkit::read_file(project) == before) << "nothing dismissed is written";
  close_main_window(f);

  FILE* p = std::fopen(project.c_str(), "rb");
  EXPECT_EQ(check_project_invariants(p), std::vector<std::string>{});
  std::fclose(p);
  std::map<std::string, ProjectRecord> by_name;
  std::set<int32_t> ids;
  for (const ProjectRecord& r : testkit::project_records(project)) {
    EXPECT_TRUE(ids.insert(r.id).second) << "id used twice: " << r.id;
    EXPECT_LE(r.hfs_name.size(), k_hfsplus_name_limit) << r.hfs_name;
    EXPECT_LE(r.long_name.size(), k_iso_name_limit) << r.long_name;
    by_name[r.pc_name] = r;
  }
  for (const char* gone : {"gone.txt", "deep", "c.txt"}) EXPECT_FALSE(by_name.count(gone)) << gone;
  for (const std::string& added : {long_name, std::string("pipe|name.txt"), std::string("new|dir"),
                                   std::string("inner.txt")}) {
    ASSERT_TRUE(by_name.count(added)) << added;
    EXPECT_FALSE(old_ids.count(by_name[added].id)) << "a fresh id for " << added;
  }
  EXPECT_FALSE(by_name.count("a.txt") == 0) << "the deletion was dismissed";
  EXPECT_EQ(by_name["a.txt"].pc_size, 25u);

  // The printed report: the header on every page and one line a change.
  RefreshReview review;
  read_change_list_text("D|5|-4|1|/pc/|gone.txt\nM|5|-3|3000000000|/pc/|a file with a rather long name that is clipped.txt\n"
                        "A|5|0|10|/pc/|new|dir\n", review);
  const int widths[4] = {170, 170, 90, 260};
  int pages = picture_of_page("refresh_print", [&](wxDC& dc, const wxRect& area) {
    return draw_review_page(dc, area, 1, review, project, "9-12-2026 10:11:12", widths);
  });
  EXPECT_EQ(pages, 1);
  for (int i = 0; i < 200; ++i) review.lists[k_tab_additions].push_back(review.lists[k_tab_additions][0]);
  int more = picture_of_page("refresh_print_second", [&](wxDC& dc, const wxRect& area) {
    return draw_review_page(dc, area, 2, review, project, "9-12-2026 10:11:12", widths);
  });
  EXPECT_GE(more, 2) << "a long list goes on onto further pages";
}
