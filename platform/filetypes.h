// Registration of the product's document types with the desktop: a
// freedesktop MIME type per document class, the program's .desktop entry that
// opens them, and the program made their default application.
#pragma once

#include <string>

// $XDG_DATA_HOME, else ~/.local/share.
std::string user_data_folder();
// "Corvane.proj" -> "application/x-corvane-proj".
std::string mime_type_for_class(const std::string& class_name);

// "application/x-corvane-proj" -> "application-x-corvane-proj", the name of the
// type's icon in the icon theme.
std::string icon_name_for_type(const std::string& type);

// Registers files ending in extension (".cvpr") as the class's MIME type,
// opened by program with the document path as its one argument:
// <data>/mime/packages/<type>.xml, <data>/applications/corvane.desktop
// (MimeType= gathers every registered type) and the default application in
// <config>/mimeapps.list; the desktop caches are refreshed when their tools are
// installed. The type's icon is the one installed under its own name
// (icon_name_for_type), the entry's the program's ("corvane"); icon_index,
// the kind's icon in the program (2 project, 3 partition, 4 ISO+), is not needed for them.
// 0 success, -1 when a file cannot be written.
[[nodiscard]] int register_desktop_file_type(const std::string& extension, const std::string& class_name, int icon_index,
                                             const std::string& program);
