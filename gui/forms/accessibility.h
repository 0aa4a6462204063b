// What the accessibility bus is told of the forms' controls, and how a text
// field limited in length takes a text too long for it.
#pragma once

#include "gui/forms/accessible_name.h"

// A text put into a limited field in one piece (pasted, or set over the
// accessibility bus) is cut to what the field holds, as typing stops at the
// limit; the toolkit alone drops such a text whole and leaves the field empty.
// Once for the program, on the GUI thread.
void cut_long_insertions();
