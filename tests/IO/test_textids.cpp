// Every text id the code uses has an English and a French text, and no id is
// defined twice across the texts files of the work areas.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "IO/uitext.h"

namespace fs = std::filesystem;

namespace {

std::string read_all(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every source file of the program (not the build folders).
std::vector<fs::path> source_files(const std::vector<std::string>& extensions) {
  std::vector<fs::path> out;
  fs::path root = CORVANE_SOURCE_DIR;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string name = it->path().filename().string();
    if (it->is_directory() && (name.rfind("build", 0) == 0 || name[0] == '.')) {
      it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file()) continue;
    for (const auto& e : extensions)
      if (name.size() > e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0) out.push_back(it->path());
  }
  return out;
}

// The values a printf format takes, in order: each conversion with its length
// modifier, and a "*" for a width or precision given as a value.
std::string conversions(const char* format) {
  std::string out;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    if (*++p == '%') continue;
    for (; *p && std::strchr("-+ #0123456789.*", *p); ++p)
      if (*p == '*') out += "* ";
    while (*p && std::strchr("hlLqjzt", *p)) out += *p++;
    if (!*p) break;
    out += *p;
    out += ' ';
  }
  return out;
}

}  // namespace

TEST(UiTexts, EveryIdUsedHasEnglishAndFrenchAndIdsAreUnique) {
  std::map<int, std::string> defined;  // id -> file
  std::regex entry(R"(^\s*\{\s*(\d+)\s*,)");
  for (const fs::path& p : source_files({".inc"})) {
    if (p.filename().string().rfind("texts", 0) != 0) continue;
    std::istringstream in(read_all(p));
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
      if (std::regex_search(line, m, entry)) {
        int id = std::stoi(m[1]);
        auto [it, fresh] = defined.emplace(id, fs::relative(p, CORVANE_SOURCE_DIR).string());
        EXPECT_TRUE(fresh) << "text " << id << " in " << fs::relative(p, CORVANE_SOURCE_DIR) << " and in " << it->second;
      }
  }
  ASSERT_FALSE(defined.empty());
  for (const auto& [id, file] : defined) {
    EXPECT_TRUE(has_ui_text(id, 0)) << "no English text " << id << " (" << file << ")";
    EXPECT_TRUE(has_ui_text(id, 10000)) << "no French text " << id << " (" << file << ")";
  }
  std::regex call(R"(\b(load_string|load_string_w|ui_text)\(\s*(\d+))");
  int calls = 0;
  for (const fs::path& p : source_files({".cpp", ".h"})) {
    std::string text = read_all(p);
    for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) {
      int id = std::stoi((*it)[2]);
      ++calls;
      EXPECT_TRUE(has_ui_text(id, 0) && has_ui_text(id, 10000)) << p << " uses text " << id;
    }
  }
  EXPECT_GT(calls, 0);
}


// Formats loaded by id are filled with the same values in either language, so
// a French text must take exactly the values its English text takes.
TEST(UiTexts, FrenchFormatsTakeTheValuesOfTheEnglish) {
  ASSERT_GT(g_text_table_size, 0u);
  for (size_t i = 0; i < g_text_table_size; ++i) {
    const TextEntry& t = g_text_table[i];
    EXPECT_EQ(conversions(t.french), conversions(t.english)) << "text " << t.id << ": " << t.french;
  }
}
