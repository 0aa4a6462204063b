#include "gui/app.h"

#include <unistd.h>

#include <wx/iconbndl.h>
#include <wx/image.h>

#include <cstdio>
#include <cstdlib>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/commands.h"
#include "gui/commandline.h"
#include "gui/forms/accessibility.h"
#include "gui/forms/messageforms.h"
#include "gui/guithread.h"
#include "gui/mainframe.h"
#include "gui/window_backends.h"
#include "hfs/engine.h"
#include "platform/files.h"

std::vector<std::string> g_start_arguments;
InstanceChannel g_instance_channel;
bool g_start_command_tried = false;

void post_with_call_after(std::function<void()> work) {
  if (wxTheApp) wxTheApp->CallAfter(std::move(work));
}

bool CorvaneApp::OnInit() {
  SetAppName("Corvane");
  wxInitAllImageHandlers();
  set_gui_thread(post_with_call_after);
  cut_long_insertions();
  auto* frame = new MainFrame(&g_instance_channel);
  wxIconBundle icons;  // the installed program's own icon, at each size it comes in
  for (const std::string& file : installed_icon_files("corvane")) icons.AddIcon(wxString::FromUTF8(file));
  if (!icons.IsEmpty()) frame->SetIcons(icons);
  frame->command_already_run = g_start_command_tried;
  frame->Show();
  // What the start-up asks (the signature table to take, the journal's file, a
  // message on a document named) opens over the window, once it is there.
  when_on_screen(frame, [frame] { frame->start_up(g_start_arguments); });
  return true;
}

int CorvaneApp::OnExit() {
  clear_gui_thread();
  return wxApp::OnExit();
}

namespace {

bool have_display() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

// A message of a start that opens no window: on stderr, and in a form that
// closes itself when there is a display to show it on.
void start_message(int argc, char** argv, const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  if (!have_display()) return;
  int one = 1;
  if (!wxEntryStart(one, argv)) return;
  {
    MessageForm form(nullptr, MessageForm::ok, text, 3000);
    run_modal(form);
  }
  wxEntryCleanup();
}

bool file_exists(const std::string& p) { return ::access(p.c_str(), F_OK) == 0; }

// How long a second start waits for the running instance to take its
// arguments (it answers before it opens any form of its own).
constexpr int k_handover_wait_ms = 30000;

}  // namespace

int corvane_main(int argc, char** argv) {
  init_settings_root();
  g_language_offset = detect_language_offset();
  g_language_offset = read_language_choice();
  for (int i = 1; i < argc && i <= 3; ++i) g_start_arguments.emplace_back(argv[i]);  // a fourth and later are ignored

  std::string error;
  int claim = claim_instance(g_instance_channel, error);
  if (claim == 0) {
    if (g_start_arguments.empty()) {
      start_message(argc, argv, ui_text(1347));
      return 1;
    }
    for (const std::string& a : g_start_arguments)
      if (a.size() > k_max_gui_argument)
        std::fprintf(stderr, "%s\n", format_text(ui_text(2901).c_str(), int(a.size()), int(k_max_gui_argument),
                                                 a.substr(0, 60).c_str()).c_str());
    // The running instance works in another folder: paths go over absolute.
    std::vector<char> cwd(4096);
    std::string here = ::getcwd(cwd.data(), cwd.size()) ? std::string(cwd.data()) : std::string();
    int reply = hand_over_arguments(g_instance_channel, handover_arguments(g_start_arguments, here, file_exists),
                                    k_handover_wait_ms);
    if (reply == k_handover_busy) std::fprintf(stderr, "%s\n", ui_text(2902).c_str());
    else if (reply == k_handover_waiting) std::fprintf(stderr, "%s\n", ui_text(2909).c_str());
    else if (reply == 0) std::fprintf(stderr, "%s\n", ui_text(2905).c_str());
    return 1;
  }
  if (claim < 0) std::fprintf(stderr, "%s\n", error.c_str());

  // A command runs as the console runs it, without a window; only when it
  // fails does the program start and take the argument for a document.
  if (!g_start_arguments.empty() && classify_argument(g_start_arguments[0], file_exists) == ArgumentKind::command) {
    bool fits = true;
    for (size_t i = 1; i < g_start_arguments.size(); ++i)
      fits = fits && g_start_arguments[i].size() <= k_max_command_operand;
    if (fits && init_volume_engine() == 0) {
      load_command_settings();
      std::string word = command_word(g_start_arguments[0]);
      int rc = run_command_line_operation(word.c_str(),
                                          g_start_arguments.size() > 1 ? g_start_arguments[1].c_str() : nullptr,
                                          g_start_arguments.size() > 2 ? g_start_arguments[2].c_str() : nullptr);
      release_volume_engine();
      g_command_mode = false;
      if (g_log_file) {
        std::fclose(g_log_file);
        g_log_file = nullptr;
      }
      if (rc == 0) {
        release_instance(g_instance_channel);
        return 0;
      }
    }
    g_start_command_tried = true;
  }
  if (!have_display()) {
    std::fprintf(stderr, "Corvane: no display to open the window on.\n");
    release_instance(g_instance_channel);
    return 1;
  }
  int one = 1;
  int rc = wxEntry(one, argv);
  release_instance(g_instance_channel);
  return rc;
}
