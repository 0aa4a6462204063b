// The icons of file types in the main list. A file's type comes from its name
// alone (no file is read): the desktop's content type of the name, whose icon
// the desktop's icon theme draws. Each type's icon is fetched once and kept in
// the list's images for the program's life; names are looked up by their
// extension, so a folder of a hundred thousand files asks the desktop once per
// extension it shows.
#pragma once

#include <functional>
#include <string>

struct TypeIconSource {
  // The content type of a file name; "" when the desktop does not know it.
  std::function<std::string(const std::string& name)> content_type;
  // Adds the small icon of a content type to the list's images: its index, or
  // -1 when the theme has none.
  std::function<int(const std::string& type)> add_icon;
};
// The window's source (its image list made anew); the caches are emptied. A
// default source gives no icons (every file keeps the generic image).
void set_type_icon_source(TypeIconSource source);

// The icon of a file name, by its extension (upper-cased, with its "."; a name
// without one by its whole self): -1 for a name of a "." and more (hidden on the
// Macintosh), for an unknown type and for a type the theme draws no icon of.
int extension_icon_index(const std::string& name);

// The icon of each row of the signature table (its icon field), by the row's
// extension, for signature_icon_index; done again after each load of the table.
void load_signature_icons();
// The icon of a file of the volume or of a project's HFS view: its signature's
// row, else the icon of its name; -1 when neither has one.
int signature_or_name_icon(const char* signature, const std::string& name);
