#include "gui/forms/accessibility.h"

#include <dlfcn.h>
#include <glib-object.h>

#include <string>

#include <wx/string.h>
#include <wx/window.h>

// The toolkit's calls are looked up in the running program (the toolkit comes
// with the windowing library; its headers are not needed to build).
namespace {

template <class F>
F toolkit_call(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

using TypeOf = GType (*)();
using BufferOf = GObject* (*)(void*);
using LengthOf = int (*)(GObject*);
using Insert = void (*)(void*, const char*, int, int*);

struct EntryCalls {
  TypeOf entry_type = toolkit_call<TypeOf>("gtk_entry_get_type");
  TypeOf editable_type = toolkit_call<TypeOf>("gtk_editable_get_type");
  BufferOf buffer_of = toolkit_call<BufferOf>("gtk_entry_get_buffer");
  LengthOf max_length = toolkit_call<LengthOf>("gtk_entry_buffer_get_max_length");
  LengthOf length = toolkit_call<LengthOf>("gtk_entry_buffer_get_length");
  Insert insert = toolkit_call<Insert>("gtk_editable_insert_text");
  bool ok() const { return entry_type && editable_type && buffer_of && max_length && length && insert; }
};

const EntryCalls& entry_calls() {
  static const EntryCalls calls;
  return calls;
}

// Runs before the field's own handlers of "insert-text" (editable, text,
// length in bytes or -1, position): a text longer than the room left is put
// in cut to that room first, the same way. The whole text then no longer
// fits and is refused as before, so what the field ends with is what typing
// the text would have left.
gboolean cut_insertion(GSignalInvocationHint*, guint count, const GValue* values, gpointer) {
  const EntryCalls& c = entry_calls();
  if (count < 4) return TRUE;
  GObject* editable = static_cast<GObject*>(g_value_get_object(&values[0]));
  const char* text = g_value_get_string(&values[1]);
  const int bytes = g_value_get_int(&values[2]);
  auto* position = static_cast<int*>(g_value_get_pointer(&values[3]));
  if (!editable || !text || !position || !G_TYPE_CHECK_INSTANCE_TYPE(editable, c.entry_type())) return TRUE;
  GObject* buffer = c.buffer_of(editable);
  const int limit = buffer ? c.max_length(buffer) : 0;
  if (limit <= 0) return TRUE;
  const glong adding = g_utf8_strlen(text, bytes);
  const int room = limit - c.length(buffer);
  if (adding <= room || room <= 0) return TRUE;
  // A text of its own, ended where it is cut: the toolkit's own handler
  // measures the text to its end, whatever length comes with it.
  const std::string cut(text, size_t(g_utf8_offset_to_pointer(text, room) - text));
  c.insert(editable, cut.c_str(), int(cut.size()), position);  // fits: taken by the field's handlers
  return TRUE;  // stays for the next insertion
}

}  // namespace

void cut_long_insertions() {
  static bool installed = false;
  const EntryCalls& c = entry_calls();
  if (installed || !c.ok()) return;
  // The signal is made with the interface, which no field may have needed yet.
  g_type_default_interface_ref(c.editable_type());
  guint signal = g_signal_lookup("insert-text", c.editable_type());
  if (signal == 0) return;
  g_signal_add_emission_hook(signal, 0, cut_insertion, nullptr, nullptr);
  installed = true;
}
