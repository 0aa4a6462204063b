// The texts of the string table as the forms show them.
#pragma once

#include <wx/string.h>

// A text of the string table, in the current language.
wxString tr(int id);
