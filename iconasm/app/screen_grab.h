// What the screen shows, for Print and for the test scripts' pictures.
#pragma once

#include <wx/bitmap.h>
#include <wx/gdicmn.h>

// The pixels the screen shows in rect (clipped to the screen), read from the
// X server at each call: the toolkit's screen context keeps giving the first
// picture it took. Through the toolkit where there is no X display.
wxBitmap grab_screen(wxRect rect);
