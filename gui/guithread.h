// The GUI thread and the road to it. Every user-interface effect the engine
// asks for off the GUI thread is carried out on it: the request is posted
// (the forms post with the framework's CallAfter) and the caller waits until
// it has run, so the data it points at stays valid.
#pragma once

#include <functional>

// Posts work to the GUI thread's event loop; must be callable from any thread.
using GuiPoster = void (*)(std::function<void()> work);

// The calling thread becomes the GUI thread; poster carries work onto it.
void set_gui_thread(GuiPoster poster);
void clear_gui_thread();
bool on_gui_thread();
bool have_gui_thread();
// Runs work on the GUI thread and returns once it has run: at once when the
// caller is the GUI thread (or there is none), else through the poster.
void run_on_gui_thread(const std::function<void()>& work);
// Posts work to the GUI thread without waiting (at once when there is none).
void post_to_gui_thread(std::function<void()> work);
