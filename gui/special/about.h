// What the About box shows.
#pragma once

#include <string>

// "Version " and the program's version.
std::string about_version_text();
