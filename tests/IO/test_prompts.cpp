// What the engine computes around its prompts: copy counters and their text,
// the Esc poll, long PC paths, the folder browser, printed pages; and parse_int.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "IO/busycursor.h"
#include "IO/prompts.h"
#include "IO/settings.h"
#include "IO/strlib.h"
#include "IO/uitext.h"
#include "IO/windowutil.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::TempDir;

TEST(Prompts, CopyProgressCountsWhatTheCopyMethodSelects) {
  reset_copy_progress();
  // A copy is never shown as 0.000 MB.
  EXPECT_EQ(count_copy_progress("src", "dst", 0, 0, 1), "Copy of \"src\" to \"dst\" - Copied: 1 f. (0.001 MB)");
  EXPECT_EQ(count_copy_progress("a", "b", 3u << 20, 5000, 1), "Copy of \"a\" to \"b\" - Copied: 2 f. (3.000 MB)");
  EXPECT_EQ(g_copied_bytes, 3u << 20);
  count_copy_progress("a", "b", 1000, 2048, 2);  // the resource fork only
  EXPECT_EQ(g_copied_bytes, (3u << 20) + 2048);
  count_copy_progress("a", "b", 1024, 1024, 4);  // both
  EXPECT_EQ(g_copied_bytes, (3u << 20) + 4096);
  count_copy_progress("a", "b", 1024, 1024, 8);  // counted, no bytes
  EXPECT_EQ(g_copied_items, 5u);
  EXPECT_EQ(g_copied_bytes, (3u << 20) + 4096);
  // The remainder is held at 999.
  reset_copy_progress();
  EXPECT_NE(count_copy_progress("a", "b", (1u << 20) - 1, 0, 1).find("(0.999 MB)"), std::string::npos);
  EXPECT_EQ(count_deleting_item("Old"), "Deleting « Old »");
  EXPECT_EQ(g_copied_items, 2u);
}

TEST(Prompts, EscAsksOnceAndRestartsTheCursorOnNo) {
  recorded_ui().clear();
  EXPECT_FALSE(escape_abort_requested());  // no window: no key
  EXPECT_TRUE(recorded_ui().messages.empty());
  static int key = 0;
  WindowBackend b;
  b.poll_escape = [] { return key; };
  set_window_backend(&b);
  key = 27;
  start_busy_cursor();
  recorded_ui().answers = {0, 1};
  EXPECT_FALSE(escape_abort_requested());
  EXPECT_TRUE(busy_cursor_running());
  EXPECT_TRUE(escape_abort_requested());
  EXPECT_FALSE(busy_cursor_running());
  EXPECT_EQ(recorded_ui().messages, (std::vector<std::string>{ui_text(1124), ui_text(1124)}));
  key = 13;  // another key is no Esc
  EXPECT_FALSE(escape_abort_requested());
  set_window_backend(nullptr);
}

TEST(Prompts, LongPathsFitOrLoseTheEndOfTheirBaseName) {
  const std::string folder = "/" + std::string(250, 'f') + "/";  // 252 bytes
  EXPECT_TRUE(long_path_fits("", folder, "abcd", ".txt"));        // 260
  EXPECT_FALSE(long_path_fits("", folder, "abcde", ".txt"));      // 261
  EXPECT_FALSE(long_path_fits("", "/", std::string(252, 'n'), ".txt"));  // a 256-byte name
  std::string base = "abcdefgh";
  EXPECT_EQ(shorten_long_path("", folder, base, ".txt"), 0);
  EXPECT_EQ(base, "abcd");
  base = "ab\xC3\xA9\xC3\xA9";  // "abéé": never cut inside a character
  EXPECT_EQ(shorten_long_path("", folder, base, ".txt"), 0);
  EXPECT_EQ(base, "ab\xC3\xA9");
  base = std::string(300, 'n');
  EXPECT_EQ(shorten_long_path("", "/", base, ".txt"), 0);
  EXPECT_EQ(base.size(), 251u);  // the name limit binds first
  base = "x";
  EXPECT_EQ(shorten_long_path("", "/" + std::string(259, 'f'), base, ".txt"), -1);
}

TEST(Prompts, FolderBrowserStartsAtTheWorkFolderAndRemembersTheChoice) {
  TempDir dir;
  setenv("CORVANE_CONFIG_DIR", dir.str("config").c_str(), 1);
  g_settings_root = 0;
  init_settings_root();
  FolderBrowserSetup setup;
  EXPECT_EQ(browse_folder_callback(k_browser_initialized, "/data/images/last.img", &setup), 0);
  EXPECT_EQ(setup.select, "/data/images/");
  EXPECT_EQ(setup.title, ui_text(1129));
  EXPECT_EQ(browse_folder_callback(k_browser_validate_failed, nullptr, nullptr), 1);

  recorded_ui().clear();
  std::string path = "Choose a folder";
  EXPECT_EQ(browse_for_folder(nullptr, path, nullptr), 0);  // cancelled: the prompt stays
  EXPECT_EQ(path, "Choose a folder");
  recorded_ui().browser_choice = "/srv/out";
  EXPECT_EQ(browse_for_folder(nullptr, path, nullptr), 1);
  EXPECT_EQ(path, "/srv/out/");
  EXPECT_EQ(recorded_ui().browser_prompts, (std::vector<std::string>{"Choose a folder", "Choose a folder"}));
  char buf[512];
  EXPECT_STREQ(read_work_folder(buf), "/srv/out/");
  EXPECT_EQ(browse_folder_callback(k_browser_initialized, nullptr, &setup), 0);
  EXPECT_EQ(setup.select, "/srv/out/");
  // A start folder given: the choice is not remembered.
  recorded_ui().browser_choice = "/elsewhere";
  EXPECT_EQ(browse_for_folder(nullptr, path, "/srv/"), 1);
  EXPECT_STREQ(read_work_folder(buf), "/srv/out/");
  unsetenv("CORVANE_CONFIG_DIR");
  g_settings_root = 0;
}

TEST(Prompts, PrintedTextIsSplitIntoLinesAndPages) {
  EXPECT_EQ(text_page_starts(10, 10, 35), (std::vector<size_t>{0, 3, 6, 9}));
  EXPECT_EQ(text_page_starts(3, 50, 35), (std::vector<size_t>{0, 1, 2}));  // a line taller than the page
  EXPECT_TRUE(text_page_starts(0, 10, 35).empty());
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::string text = "one\r\ntwo\n\nthree\r" + std::string(300, 'z') + "\n";
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  recorded_ui().clear();
  EXPECT_EQ(print_text_file(f), 0);
  std::fclose(f);
  EXPECT_EQ(recorded_ui().printed,
            (std::vector<std::string>{"one", "two", "", "three", std::string(256, 'z'), std::string(44, 'z')}));
}

TEST(Prompts, ParseIntTakesBlanksSignAndDigits) {
  EXPECT_EQ(parse_int("  -42abc"), -42);
  EXPECT_EQ(parse_int("+7"), 7);
  EXPECT_EQ(parse_int("0012"), 12);
  EXPECT_EQ(parse_int("abc"), 0);
  EXPECT_EQ(parse_int(""), 0);
  EXPECT_EQ(parse_int(nullptr), 0);
  EXPECT_EQ(parse_int("- 5"), 0);
  EXPECT_EQ(parse_int("99999999999"), INT_MAX);
  EXPECT_EQ(parse_int("-2147483648"), INT_MIN);
  EXPECT_EQ(parse_int("-99999999999"), INT_MIN);
}
