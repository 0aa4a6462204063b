// Help topics by number: the book's project file (.hhp) names each number in
// its [MAP] section ("#define IDH_TOPICS 998") and gives each name its page in
// its [ALIAS] section ("IDH_TOPICS=index.html"); the help window is asked for
// the page.
#pragma once

#include <string>

// The page of topic in the text of a project file; empty when it lists none.
std::string help_page_for_topic(const std::string& project_text, int topic);
