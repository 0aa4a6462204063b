// The name the accessibility bus announces for a control; shared by both
// window programs (the icon program compiles this file into itself).
#pragma once

class wxString;
class wxWindow;

// Gives w the name the accessibility bus announces: a button that shows only
// a picture or a sign has none that says what it does (its tooltip is only
// its description).
void set_accessible_name(wxWindow* w, const wxString& name);
