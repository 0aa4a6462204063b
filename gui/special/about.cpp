#include "gui/special/about.h"

#include "IO/uitext.h"
#include "IO/version.h"

namespace {
constexpr int k_text_version = 1032;
}  // namespace

std::string about_version_text() { return ui_text(k_text_version) + module_version_text(); }
