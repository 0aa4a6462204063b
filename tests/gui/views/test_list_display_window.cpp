// What the main list shows of each row beside its name: the desktop's icon of
// the file's type (checked against the shared MIME database's own files and
// the icon theme), and dates in the user's time locale (checked against the
// date command of that locale). Also the timing of a big folder, for bench/.
#include <gtest/gtest.h>
#include <unistd.h>

#include <wx/artprov.h>
#include <wx/imaglist.h>
#include <wx/listctrl.h>

#include <chrono>
#include <clocale>
#include <fstream>
#include <map>
#include <regex>

#include "IO/uitext.h"
#include "gui/mainframe.h"
#include "gui/mainframe_parts.h"
#include "gui/views/mode_views.h"
#include "gui/views/type_icon_theme.h"
#include "gui/views/type_icons.h"
#include "gui_fixture.h"
#include "hfs/volume.h"
#include "support/volume_images.h"

using namespace guitest;
using testkit::quote;
using testkit::run;

namespace {

// The shared MIME database's own answer for "*.ext" (globs2), and the icon
// names it gives that type: its own, then its generic one.
std::vector<std::string> database_icon_names(const std::string& extension) {
  std::ifstream globs("/usr/share/mime/globs2");
  std::string type;
  for (std::string line; std::getline(globs, line);) {
    size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    if (line.substr(b + 1) == "*." + extension) {
      type = line.substr(a + 1, b - a - 1);
      break;
    }
  }
  if (type.empty()) return {};
  std::string own = type;
  own[own.find('/')] = '-';
  std::string generic = type.substr(0, type.find('/')) + "-x-generic";
  std::ifstream icons("/usr/share/mime/generic-icons");
  for (std::string line; std::getline(icons, line);)
    if (line.rfind(type + ":", 0) == 0) generic = line.substr(type.size() + 1);
  return {own, generic};
}

// The theme's picture of the first of the names it has.
wxImage theme_picture(const std::vector<std::string>& names) {
  for (const std::string& n : names) {
    wxBitmap b = wxArtProvider::GetBitmap(wxString::FromUTF8(n), wxART_LIST, wxSize(16, 16));
    if (b.IsOk()) return b.ConvertToImage();
  }
  return wxImage();
}

bool same_picture(const wxImage& a, const wxImage& b) {
  if (!a.IsOk() || !b.IsOk() || a.GetSize() != b.GetSize()) return false;
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x)
      if (a.GetRed(x, y) != b.GetRed(x, y) || a.GetGreen(x, y) != b.GetGreen(x, y) || a.GetBlue(x, y) != b.GetBlue(x, y))
        return false;
  return true;
}

long row_of(wxListCtrl* list, const std::string& name) {
  for (long i = 0; i < list->GetItemCount(); ++i)
    if (list->GetItemText(i).utf8_string() == name) return i;
  return -1;
}

std::string hfs_image_with(const testkit::TempDir& dir, const std::vector<std::string>& names) {
  std::string img = dir.str("list.hfs");
  testkit::fs::rename(volkit::hformat_image(dir, "List Vol", "8M"), img);
  std::string cmd = "hmount " + quote(img) + " >/dev/null && hmkdir :Folder";
  for (const std::string& n : names) {
    testkit::write_text(dir.str(n), n + "\n");
    cmd += " && hcopy -r " + quote(dir.str(n)) + " " + quote(":" + n);
  }
  auto r = run(cmd + " && humount >/dev/null");
  EXPECT_EQ(r.rc, 0) << r.err;
  return img;
}

}  // namespace

TEST(ListDisplay, FilesShowTheIconOfTheirTypeFromTheDesktopsTheme) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = hfs_image_with(dir, {"notes.txt", "OTHER.TXT", "photo.jpg", "paper.pdf", "bundle.zip", "data.qqqzz"});
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({img});
  pump(400);
  ASSERT_TRUE(g_volume.mounted);
  auto* list = dynamic_cast<FileListCtrl*>(f->file_list());
  ASSERT_NE(list, nullptr);
  wxImageList* images = list->GetImageList(wxIMAGE_LIST_SMALL);
  auto image_of = [&](const std::string& name) {
    long row = row_of(list, name);
    EXPECT_GE(row, 0) << name;
    return row < 0 ? -1 : list->OnGetItemImage(row);
  };
  EXPECT_EQ(image_of("Folder"), k_image_folder);
  EXPECT_EQ(image_of("data.qqqzz"), k_image_file) << "a type the desktop does not know";
  EXPECT_EQ(image_of("notes.txt"), image_of("OTHER.TXT"));
  std::map<int, std::string> seen;
  for (const char* name : {"notes.txt", "photo.jpg", "paper.pdf", "bundle.zip"}) {
    std::string ext = std::string(name).substr(std::string(name).rfind('.') + 1);
    int index = image_of(name);
    EXPECT_GE(index, int(k_image_count)) << name << ": not one of the window's own images";
    EXPECT_TRUE(seen.emplace(index, name).second) << name << " shares its icon with " << seen[index];
    wxImage expected = theme_picture(database_icon_names(ext));
    ASSERT_TRUE(expected.IsOk()) << "the theme draws no icon of " << name;
    EXPECT_TRUE(same_picture(images->GetBitmap(index).ConvertToImage(), expected))
        << name << ": not the theme's icon of its type";
  }
  for (int language : {0, 10000}) {
    f->run_command(language ? "Fr1" : "En2");
    f->file_list()->Refresh();
    pump(300);
    EXPECT_TRUE(screenshot(f->GetTitle().utf8_string(), language ? "list_type_icons_french" : "list_type_icons"));
  }
  f->run_command("En2");
  f->Close(true);
  pump(300);
}

TEST(ListDisplay, DatesFollowTheUsersTimeLocale) {
  REQUIRE_TOOL("hformat");
  if (run("locale -a | grep -qix fr_FR.utf8 && locale -a | grep -qix en_US.utf8").rc != 0)
    GTEST_SKIP() << "the locales of scripts/setup are not installed";
  testkit::TempDir dir;
  std::string img = hfs_image_with(dir, {"dated.txt"});
  const char* saved_all = std::getenv("LC_ALL");
  std::string saved = saved_all ? saved_all : "";
  unsetenv("LC_ALL");
  const struct {
    const char* locale;
    int language;
    const char* shape;
    const char* picture;
  } k_cases[] = {{"fr_FR.UTF-8", 10000, R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)", "list_dates_french"},
                 {"en_US.UTF-8", 0, R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M)", "list_dates_american"}};
  for (const auto& c : k_cases) {
    setenv("LC_TIME", c.locale, 1);
    g_language_offset = c.language;
    auto* f = new MainFrame(nullptr);
    f->Show();
    f->start_up({img});
    pump(400);
    ASSERT_TRUE(g_volume.mounted);
    long row = row_of(f->file_list(), "dated.txt");
    ASSERT_GE(row, 0);
    std::string shown = f->file_list()->GetItemText(row, k_col_modification).utf8_string();
    EXPECT_TRUE(std::regex_match(shown, std::regex(c.shape))) << c.locale << ": " << shown;
    // The date command of that locale writes the same date the same way (HFS dates are local times).
    uint32_t modified = f->rows()[size_t(row)].modified;
    auto peer = run(std::string("LC_ALL= LC_TIME=") + c.locale + " date -u -d @" +
                    std::to_string(int64_t(modified) - 2082844800) + " '+%x %X'");
    ASSERT_EQ(peer.rc, 0) << peer.err;
    EXPECT_EQ(shown + "\n", peer.out) << c.locale;
    pump(300);
    EXPECT_TRUE(screenshot(f->GetTitle().utf8_string(), c.picture));
    f->Close(true);
    pump(300);
  }
  unsetenv("LC_TIME");
  if (!saved.empty()) setenv("LC_ALL", saved.c_str(), 1);
  std::setlocale(LC_TIME, "C");
  g_language_offset = 0;
}

// The time a folder of many files takes to show in the window, with the type
// icons and with the generic images, for bench/views.sh (not run by ctest):
// CORVANE_BENCH_IMAGE names the image, CORVANE_BENCH_FOLDER the folder's CNID.
TEST(ListDisplay, DISABLED_BigFolderShowsWithItsIcons) {
  const char* image = std::getenv("CORVANE_BENCH_IMAGE");
  const char* folder = std::getenv("CORVANE_BENCH_FOLDER");
  if (!image || !folder) GTEST_SKIP() << "CORVANE_BENCH_IMAGE and CORVANE_BENCH_FOLDER are not set";
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({});
  pump(300);
  f->run_command("MPart");
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); };
  auto t0 = Clock::now();
  ASSERT_TRUE(f->open_document(image, 1));
  f->Update();
  auto t1 = Clock::now();
  std::printf("open_and_tree %.3f\n", seconds(t0, t1));
  wxImageList* images = f->file_list()->GetImageList(wxIMAGE_LIST_SMALL);
  double best[2] = {1e9, 1e9};
  for (int round = 0; round < 3; ++round) {
    for (int icons : {1, 0}) {
      if (icons) {
        while (images->GetImageCount() > int(k_image_count)) images->Remove(images->GetImageCount() - 1);
        install_type_icons(images);  // the type icons fetched afresh
      } else {
        set_type_icon_source({});
      }
      f->show_item(2, 0);
      pump(50);
      auto a = Clock::now();
      f->show_item(int32_t(std::atol(folder)), 0);
      f->file_list()->Update();  // drawn: the rows shown and their icons asked for
      auto b = Clock::now();
      best[icons] = std::min(best[icons], seconds(a, b));
    }
  }
  std::printf("rows %d\nfolder_shown_with_icons %.3f\nfolder_shown_generic %.3f\n", f->file_list()->GetItemCount(),
              best[1], best[0]);
  install_type_icons(images);
  f->Close(true);
  pump(300);
}
