// The desktop's side of the list's file-type icons: the content type of a file
// name from the shared MIME database (GIO, by the name alone) and its icon from
// the desktop's icon theme, added to the list's images.
#pragma once

class wxImageList;

// The list's images take the type icons from here on (after the window's own).
void install_type_icons(wxImageList* images);
// Back to the generic images (the window closes).
void remove_type_icons(wxImageList* images);
