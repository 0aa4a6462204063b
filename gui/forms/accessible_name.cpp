#include "gui/forms/accessible_name.h"

#include <dlfcn.h>

#include <wx/string.h>
#include <wx/window.h>

// The toolkit's calls are looked up in the running program (the toolkit comes
// with the windowing library; its headers are not needed to build).
void set_accessible_name(wxWindow* w, const wxString& name) {
  using AccessibleOf = void* (*)(void*);
  using SetName = void (*)(void*, const char*);
  static const auto accessible_of = reinterpret_cast<AccessibleOf>(dlsym(RTLD_DEFAULT, "gtk_widget_get_accessible"));
  static const auto set_name = reinterpret_cast<SetName>(dlsym(RTLD_DEFAULT, "atk_object_set_name"));
  if (!w || !w->GetHandle() || !accessible_of || !set_name) return;
  if (void* accessible = accessible_of(w->GetHandle())) set_name(accessible, name.utf8_str());
}
