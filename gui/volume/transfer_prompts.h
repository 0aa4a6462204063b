// The windows behind two prompts of the copies between the PC and a volume,
// installed by the forms (the GUI bodies of ask_long_path and
// show_folder_browser call them; without them they answer as the console does).
#pragma once

#include <functional>
#include <string>

#include "IO/prompts.h"

// The long path prompt over the four parts: 0 accepted (the parts edited), -1 cancelled.
extern std::function<int(std::string& drive, std::string& folder, std::string& base, std::string& extension)>
    g_long_path_prompt;
// The folder browser, set up by browse_folder_callback: 1 with chosen, 0 cancelled.
extern std::function<int(const std::string& prompt, const FolderBrowserSetup& setup, std::string& chosen)>
    g_folder_browser;
