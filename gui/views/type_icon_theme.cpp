#include "gui/views/type_icon_theme.h"

#include <gio/gio.h>
#include <wx/artprov.h>
#include <wx/imaglist.h>

#include <string>

#include "gui/views/type_icons.h"

namespace {

wxImageList* g_images = nullptr;

std::string content_type_of(const std::string& name) {
  gboolean uncertain = FALSE;
  gchar* type = g_content_type_guess(name.c_str(), nullptr, 0, &uncertain);
  if (!type) return std::string();
  std::string out = type;
  g_free(type);
  // What the desktop knows nothing of is the generic file.
  if (g_content_type_is_unknown(out.c_str()) || out == "application/octet-stream") return std::string();
  return out;
}

// The theme's icon of the type: the first of its names the theme draws (the
// type's own, then the generic ones of its kind).
int add_type_icon(const std::string& type) {
  if (!g_images) return -1;
  GIcon* icon = g_content_type_get_icon(type.c_str());
  int index = -1;
  if (icon && G_IS_THEMED_ICON(icon)) {
    for (const gchar* const* name = g_themed_icon_get_names(G_THEMED_ICON(icon)); name && *name && index < 0;
         ++name) {
      wxBitmap b = wxArtProvider::GetBitmap(wxString::FromUTF8(*name), wxART_LIST, wxSize(16, 16));
      if (b.IsOk() && b.GetWidth() == 16 && b.GetHeight() == 16) index = g_images->Add(b);
    }
  }
  if (icon) g_object_unref(icon);
  return index;
}

}  // namespace

void install_type_icons(wxImageList* images) {
  g_images = images;
  set_type_icon_source({content_type_of, add_type_icon});
}

void remove_type_icons(wxImageList* images) {
  if (images != g_images) return;
  g_images = nullptr;
  set_type_icon_source({});
}
