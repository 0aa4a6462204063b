// The main window's own controls and window ids, shared by its sources.
#pragma once

#include <wx/listctrl.h>
#include <wx/treectrl.h>

#include <cstdint>
#include <cstdio>

#include "gui/menumodel.h"
#include "gui/views/file_table.h"

class MainFrame;

// The project file of mode 0 or 2 (null when none is open).
FILE*& project_stream(int mode);

// Window ids of the window's own actions (no menu command of their own).
enum MainFrameIds {
  k_id_recent = k_first_command_id + 2000,  // + mode * 10 + index: the recent documents
  k_id_open_folder = k_first_command_id + 3000,  // the list pop-up's "Open Folder"
  k_id_rename_volume,  // the tree pop-up's rename on the volume's root
  k_id_refresh,        // F5
  k_id_change_mode,    // Ctrl+M: the next working mode
};

// The file list: a virtual report list whose rows the window's file table holds.
class FileListCtrl : public wxListCtrl {
 public:
  FileListCtrl(wxWindow* parent, MainFrame* frame);
  wxString OnGetItemText(long item, long column) const override;
  int OnGetItemImage(long item) const override;

 private:
  MainFrame* frame_;
};

// The node data of the folder tree: the folder's id, and its name as the list sorts it.
class FolderData : public wxTreeItemData {
 public:
  explicit FolderData(int32_t id, FileTableEntry key = FileTableEntry()) : id(id), key(std::move(key)) {}
  int32_t id;
  FileTableEntry key;
};

// The folder tree: nodes sorted by name as the list sorts them (without regard to case).
class FolderTreeCtrl : public wxTreeCtrl {
 public:
  explicit FolderTreeCtrl(wxWindow* parent);
  int OnCompareItems(const wxTreeItemId& a, const wxTreeItemId& b) override;
  // The folder id of a node, 0 for none.
  int32_t id_of(const wxTreeItemId& node) const;

 private:
  wxDECLARE_DYNAMIC_CLASS_NO_COPY(FolderTreeCtrl);
  FolderTreeCtrl() = default;
};
