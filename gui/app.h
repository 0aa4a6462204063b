// The program's entry: settings root, language, one instance per user, the
// command line, then the main window and its event loop.
#pragma once

#include <wx/app.h>

#include <string>
#include <vector>

#include "gui/instance.h"

class CorvaneApp : public wxApp {
 public:
  bool OnInit() override;
  int OnExit() override;
};

// Carries work onto the GUI thread through the framework's CallAfter.
void post_with_call_after(std::function<void()> work);
// The entry: 1 when another instance runs, else 0 (or the command's result).
int corvane_main(int argc, char** argv);
// Shared with the entry: the arguments and the instance channel.
extern std::vector<std::string> g_start_arguments;
extern InstanceChannel g_instance_channel;
extern bool g_start_command_tried;
