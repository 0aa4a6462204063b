// Stand-ins for the main window's views, forms and dialogs, for the tests of
// the volume commands.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "IO/ui_services.h"
#include "compiler/project.h"
#include "gui/guiforms.h"
#include "gui/mainviews.h"
#include "gui/views/volume_view.h"
#include "gui/volume/transfer_dialogs.h"
#include "gui/volume/volume_commands.h"
#include "hfs/volume_fixture.h"
#include "quiet_forms.h"
#include "support/testkit.h"
#include "volume_images.h"

namespace volkit {

// The forms the engine's messages go to: they keep every text and say "Yes".
struct Forms : QuietForms {
  std::vector<std::string> messages;
  int questions = 0;
  bool answer = true;
  void message(const std::string& t, int) override { messages.push_back(t); }
  bool yes_no(const std::string& t) override { messages.push_back(t); ++questions; return answer; }
  int yes_no_remember(const std::string& t) override { messages.push_back(t); ++questions; return answer ? -3 : -1; }
  bool announcement(const std::string& t) override { messages.push_back(t); return false; }
  bool said(const std::string& text) const {
    for (const std::string& m : messages)
      if (m == text) return true;
    return false;
  }
};

// The views as the commands see them: a selection set by the test.
struct Views : MainViews {
  std::vector<FileTableEntry> selection;
  int32_t tree = 0;
  int refreshes = 0;
  int32_t shown_folder = 0, shown_item = 0;
  std::vector<FileTableEntry> selected_entries() const override { return selection; }
  int32_t tree_selection() const override { return tree; }
  void refresh_views() override { ++refreshes; }
  void show_item(int32_t folder, int32_t item) override { shown_folder = folder; shown_item = item; }
};

// The row of a volume folder whose name is text (as the list shows it).
inline FileTableEntry row(uint32_t folder, const std::string& text) {
  VolumeListing l;
  EXPECT_EQ(fill_volume_file_table(folder, l), 0) << "folder " << folder;
  for (const FileTableEntry& e : l.entries)
    if (display_name(e) == text) return e;
  ADD_FAILURE() << "no row " << text << " in folder " << folder;
  return FileTableEntry{};
}
inline uint32_t folder_id(uint32_t parent, const std::string& text) { return uint32_t(row(parent, text).id); }

// Forms, views and dialogs installed for a test, taken away after it. The
// name prompt takes the names queued, each checked as the form checks it (a
// refused one is kept in refused, and the next is tried); none left: cancelled.
struct CommandBench {
  Forms forms;
  Views views;
  std::vector<std::string> names;
  std::vector<int> refused;
  std::function<void(VolumeItemProperties&)> edit_item;
  std::function<void(VolumePropertiesModel&)> edit_volume;
  std::vector<std::string> browser_paths;
  std::string destination;
  int bells = 0, dialogs = 0;
  CommandBench() {
    g_gui_forms = &forms;
    g_main_views = &views;
    saved_mode = g_working_mode;
    g_working_mode = k_mode_partition;
    g_partition_folder = 2;
    g_popup_source = 1;
    g_volume_dialogs.ask_name = [this](int, int, size_t, std::string& text,
                                       const std::function<int(const std::string&)>& check) {
      ++dialogs;
      while (!names.empty()) {
        std::string typed = names.front();
        names.erase(names.begin());
        if (int rc = check(typed)) {
          refused.push_back(rc);
          continue;
        }
        text = typed;
        return true;
      }
      return false;
    };
    g_volume_dialogs.item_properties = [this](VolumeItemProperties& m) {
      ++dialogs;
      if (!edit_item) return false;
      edit_item(m);
      return true;
    };
    g_volume_dialogs.volume_properties = [this](VolumePropertiesModel& m) {
      ++dialogs;
      if (!edit_volume) return false;
      edit_volume(m);
      return true;
    };
    g_volume_dialogs.destination = [this] {
      ++dialogs;
      if (destination.empty()) return false;
      std::string message;
      return accept_destination(destination, message) == 0;
    };
    g_volume_dialogs.pc_browser = [this](std::vector<std::string>& paths) {
      ++dialogs;
      paths = browser_paths;
      return !paths.empty();
    };
    g_volume_dialogs.bell = [this] { ++bells; };
  }
  ~CommandBench() {
    g_gui_forms = nullptr;
    g_main_views = nullptr;
    g_volume_dialogs = VolumeCommandDialogs{};
    g_working_mode = saved_mode;
  }
  int saved_mode = 0;
  void select(std::initializer_list<std::string> texts, uint32_t folder = 2) {
    views.selection.clear();
    for (const std::string& t : texts) views.selection.push_back(row(folder, t));
    g_popup_source = 1;
  }
  void select_tree(uint32_t folder) {
    views.tree = int32_t(folder);
    g_popup_source = 0;
  }
};

}  // namespace volkit
