// The pictures the desktop shows for the programs and their documents: the
// icons of corvane and facetor and of the three document kinds, drawn at any
// size from the shapes below (a disc for the CD image, a page for a document,
// a cut stone for the icon assembler), so each size is drawn for itself
// rather than scaled from another.
#pragma once

#include <string>
#include <vector>

#include "iconasm/core/icon_image.h"

enum class DesktopIcon { corvane, facetor, project, partition, isoplus };

// The picture at size x size pixels (1 to 1024), transparent around the shape.
IconImage draw_desktop_icon(DesktopIcon icon, int size);

// Where each picture goes in an icon theme: its context folder ("apps",
// "mimetypes") and its icon name (a document kind's icon is named after its
// MIME type, "application/x-corvane-proj" -> "application-x-corvane-proj").
struct DesktopIconName {
  DesktopIcon icon;
  const char* context;
  const char* name;
};
const std::vector<DesktopIconName>& desktop_icon_names();
// The sizes an icon theme's folders usually hold.
const std::vector<int>& desktop_icon_sizes();
