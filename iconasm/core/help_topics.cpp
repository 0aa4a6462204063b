#include "iconasm/core/help_topics.h"

#include <map>
#include <sstream>

namespace {

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

}  // namespace

std::string help_page_for_topic(const std::string& project_text, int topic) {
  std::map<std::string, std::string> alias;
  std::string name, section;
  std::istringstream in(project_text);
  for (std::string line; std::getline(in, line);) {
    line = trimmed(line);
    if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
      section = line;
    } else if (section == "[MAP]" && line.rfind("#define", 0) == 0) {
      std::istringstream def(line.substr(7));
      std::string n;
      long number = 0;
      if (def >> n >> number && number == topic && name.empty()) name = n;
    } else if (section == "[ALIAS]" && line.find('=') != std::string::npos) {
      size_t eq = line.find('=');
      alias.emplace(trimmed(line.substr(0, eq)), trimmed(line.substr(eq + 1)));
    }
  }
  auto it = alias.find(name);
  return name.empty() || it == alias.end() ? std::string() : it->second;
}
