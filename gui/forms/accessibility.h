// What the accessibility bus is told of the forms' controls, and how a text
// field limited in length takes a text too long for it.
#pragma once

class wxString;
class wxWindow;

// Gives w the name the accessibility bus announces: a button that shows only
// a picture has none of its own (its tooltip is only its description).
void set_accessible_name(wxWindow* w, const wxString& name);

// A text put into a limited field in one piece (pasted, or set over the
// accessibility bus) is cut to what the field holds, as typing stops at the
// limit; the toolkit alone drops such a text whole and leaves the field empty.
// Once for the program, on the GUI thread.
void cut_long_insertions();
