// The frame every structure viewer shares: a dialog built from a viewer's
// layout (pages of caption/value lines with their go buttons, a list, the
// B-tree display), the side buttons, the help button and "&Close". A go button
// records its target and closes the form; the dump window then shows it.
#pragma once

#include <wx/dialog.h>
#include <wx/treebase.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "gui/inspector/btree_walk_job.h"
#include "gui/inspector/viewer_layout.h"

class wxBookCtrlBase;
class wxButton;
class wxListCtrl;
class wxSizer;
class wxTreeCtrl;

// What a viewer needs beyond its layout: the walk of the B-tree header node's
// display (its setup and a reader usable on another thread).
struct ViewerHost {
  BTreeWalkSetup walk_setup;
  SectorReader walk_reader;
};

class ViewerForm : public wxDialog {
 public:
  ViewerForm(wxWindow* owner, const ViewerLayout& layout, ViewerHost host = {});
  ~ViewerForm() override;

  // The button that closed the form (its action and sector), or none.
  struct Choice {
    int action = -1;
    int64_t sector = -1;
  };
  const Choice& choice() const { return choice_; }

  // The B-tree display: running, and what the walk has shown so far.
  bool walking() const { return job_ && job_->running(); }
  size_t walk_items() const { return items_.size(); }
  wxTreeCtrl* walk_tree() const { return tree_; }
  const std::string& walk_message() const { return walk_message_; }
  bool walk_done() const { return walk_done_; }

 private:
  const ViewerLayout layout_;
  ViewerHost host_;
  Choice choice_;
  wxBookCtrlBase* book_ = nullptr;
  std::vector<wxButton*> go_buttons_;
  wxButton* close_ = nullptr;
  wxButton* display_ = nullptr;
  wxTreeCtrl* tree_ = nullptr;
  wxWindow* tree_page_ = nullptr;
  wxString tree_caption_;
  std::unique_ptr<BTreeWalkJob> job_;
  std::vector<wxTreeItemId> items_;
  std::string walk_message_;
  bool walk_done_ = false;

  wxWindow* build_page(wxWindow* parent, const LayoutPage& page);
  wxSizer* build_lines(wxWindow* panel, const std::vector<LayoutLine>& lines);
  wxListCtrl* build_list(wxWindow* panel, const LayoutList& l);
  wxButton* make_button(wxWindow* parent, const LayoutButton& b);
  void choose(int action, int64_t sector);
  void start_walk();
  void add_walk_node(const BTreeWalkNode& node);
  void end_walk(int result, const std::string& message);
  void close_form();
};

// Shows the viewer of layout modally over owner; returns what closed it.
ViewerForm::Choice run_viewer(wxWindow* owner, const ViewerLayout& layout, ViewerHost host = {});
