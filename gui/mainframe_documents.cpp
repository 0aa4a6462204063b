// The documents of the three working modes: the hybrid project, the HFS or
// HFS+ partition image and the ISO+ project, with their New, Open, Save,
// Save As, Close and recent commands, and the hybridisation of an ISO image.
#include <sys/stat.h>
#include <unistd.h>

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <cstring>
#include <filesystem>

#include "IO/fileio.h"
#include "IO/paths.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/commands.h"
#include "compiler/hfspart.h"
#include "compiler/project.h"
#include "gui/commandline.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/tr.h"
#include "gui/mainframe.h"
#include "gui/mainframe_parts.h"
#include "gui/recent.h"
#include "gui/views/mode_views.h"
#include "gui/views/new_image.h"
#include "hfs/alloc.h"
#include "hfs/mount.h"
#include "hfs/newimage.h"
#include "hfs/volume.h"
#include "platform/files.h"
#include "platform/replacefile.h"

std::function<std::string(const std::string&)> g_file_dialog_answer;
std::string g_file_dialog_proposed;

namespace {

wxString utf8(const std::string& s) { return wxString::FromUTF8(s); }

bool exists(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0;
}

long file_length(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

// The file dialogs' texts of each mode: default extension, file name of New
// and Save As, of Open, the filter, and the titles of New, Open and Save As.
struct ModeFileTexts {
  int extension, new_name, open_name, filter, new_title, open_title, save_title;
};
const ModeFileTexts k_file_texts[3] = {
    {1353, 1372, 1354, 1349, 1350, 1351, 1352},
    {1359, 1373, 1360, 1355, 1356, 1357, 1358},
    {1365, 1366, 1366, 1361, 1363, 1362, 1364},
};

// A file dialog owned by the main window: Open (the file must exist) or
// Save, starting in the project folder. The path chosen ("" for Cancel),
// with the default extension added to a name that has none.
std::string ask_file(wxWindow* owner, int title, int filter, const std::string& name, const std::string& extension,
                     bool save, bool remember = true) {
  std::string chosen;
  // A Save dialog proposes a real name, and a name with a wildcard is never written.
  const std::string proposed = save ? save_dialog_name(name, "", extension) : name;
  g_file_dialog_proposed = proposed.substr(proposed.rfind('/') + 1);
  for (bool again = true; again;) {
    if (g_file_dialog_answer) {
      chosen = g_file_dialog_answer(ui_text(title));
    } else {
      char folder[k_text_size * 2];
      get_project_folder(folder);
      std::string start = folder, file = proposed;
      if (proposed.find('/') != std::string::npos) {  // a path: its folder and its name
        start = folder_of_path(proposed);
        file = proposed.substr(proposed.rfind('/') + 1);
      }
      wxFileDialog dialog(owner, tr(title), utf8(start), utf8(file), utf8(wildcard_both_cases(ui_text(filter))),
                          save ? wxFD_SAVE : wxFD_OPEN | wxFD_FILE_MUST_EXIST);
      if (run_modal(dialog) != wxID_OK) return std::string();
      chosen = dialog.GetPath().utf8_string();
    }
    again = save && !chosen.empty() && !writable_file_name(chosen);
    if (again) show_message(format_text(ui_text(6661).c_str(), chosen.c_str()).c_str());
  }
  if (chosen.empty()) return chosen;
  size_t slash = chosen.rfind('/');
  std::string leaf = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
  if (save && !extension.empty() && leaf.find('.') == std::string::npos) chosen += "." + extension;
  if (remember) remember_project_folder(chosen.c_str());
  return chosen;
}

// The label, size and format of a new partition image, and the allocation
// block size the volume will get, shown as the size is typed.
class NewImageDialog : public FormDialog {
 public:
  NewImageDialog(wxWindow* owner, const std::string& path) : FormDialog(owner, "NewImage", 1064, 111), path_(path) {
    model_.label = ui_text(k_text_untitled);
    model_.hfsplus = (g_preferences & k_pref_hfsplus_default) != 0;
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* settings = new wxStaticBoxSizer(wxVERTICAL, this, tr(1070));
    auto* grid = new wxFlexGridSizer(2, 6, 8);
    grid->AddGrowableCol(1);
    // The label: 27 characters, whatever the format (the new-image request's field).
    name_ = add_row(grid, settings->GetStaticBox(), 1066, "VolumeName", model_.label, int(k_hfs_volume_name_limit), 220);
    grid->Add(add_label(settings->GetStaticBox(), 1065), 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
    size_ = new wxSpinCtrl(settings->GetStaticBox(), wxID_ANY, utf8(model_.size_text), wxDefaultPosition,
                           wxSize(140, -1), wxSP_ARROW_KEYS, int(k_new_image_min_mb), int(k_new_hfsplus_max_mb), 1);
    size_->SetName("Size");
    grid->Add(size_, 0, wxALL, 3);
    settings->Add(grid, 0, wxALL | wxEXPAND, 6);
    top->Add(settings, 0, wxEXPAND | wxBOTTOM, 8);
    auto* making = new wxStaticBoxSizer(wxVERTICAL, this, tr(1069));
    zero_ = add_check(making->GetStaticBox(), "Zero", 1071, model_.zero_fill);
    making->Add(zero_, 0, wxALL, 4);
    plus_ = add_check(making->GetStaticBox(), "HfsPlus", 1383, model_.hfsplus);
    making->Add(plus_, 0, wxALL, 4);
    auto* block = new wxBoxSizer(wxHORIZONTAL);
    block->Add(add_label(making->GetStaticBox(), 1072), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    // Wide enough for the largest size and block in either language.
    block_ = new wxStaticText(making->GetStaticBox(), wxID_ANY, wxString(), wxDefaultPosition, wxSize(190, -1));
    block_->SetName("BlockSize");
    block->Add(block_, 1, wxALIGN_CENTER_VERTICAL);
    making->Add(block, 0, wxALL | wxEXPAND, 4);
    top->Add(making, 0, wxEXPAND);
    finish(top, {.ok_text = 1067, .cancel_text = 1068});
    size_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { show_block_size(); });
    size_->Bind(wxEVT_SPINCTRL, [this](wxSpinEvent&) { show_block_size(); });
    plus_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { show_block_size(); });
    show_block_size();
    on_ok = [this](int& result) {
      read_model();
      std::string label;
      uint32_t mb = 0;
      int refused = check_new_image(model_, path_, label, mb);
      if (refused == k_text_bad_size) {
        refuse(format_text(ui_text(refused).c_str(), int(new_image_max_mb(model_.hfsplus))));
      } else if (refused == k_text_name_too_long) {
        refuse(dialog_refusal_text(refused, NameField::hfs_volume_name));
      } else if (refused != 0) {
        refuse(ui_text(refused));
      } else {
        size_mb_ = mb;
        result = 1;
        return true;
      }
      return false;
    };
  }
  uint32_t size_mb() const { return size_mb_; }
  std::string volume_name() const { return model_.label.empty() ? ui_text(k_text_untitled) : model_.label; }
  bool hfsplus() const { return model_.hfsplus; }
  bool zero_fill() const { return model_.zero_fill; }
  std::string block_size_text() const { return block_->GetLabel().utf8_string(); }

 private:
  std::string path_;
  NewImageModel model_;
  uint32_t size_mb_ = 0;
  wxTextCtrl* name_;
  wxSpinCtrl* size_;
  wxCheckBox *zero_, *plus_;
  wxStaticText* block_;

  void read_model() {
    model_.label = name_->GetValue().utf8_string();
    model_.size_text = size_->GetTextValue().utf8_string();
    model_.zero_fill = zero_->GetValue();
    model_.hfsplus = plus_->GetValue();
  }
  void show_block_size() {
    read_model();
    block_->SetLabel(utf8(new_image_block_text(model_)));
  }
};

// The HFS partitions an image holds, one to choose.
class PartitionChooser : public wxDialog {
 public:
  PartitionChooser(wxWindow* owner, const std::vector<PartitionListEntry>& parts)
      : wxDialog(owner, wxID_ANY, tr(6127)) {
    SetName("Partitions");
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(new wxStaticText(this, wxID_ANY, tr(6128)), 0, wxALL, 10);
    list_ = new wxListBox(this, wxID_ANY, wxDefaultPosition, wxSize(380, 120));
    list_->SetName("PartitionList");
    for (size_t i = 0; i < parts.size(); ++i) {
      char size[k_size_text];
      list_->Append(utf8(format_text(ui_text(6129).c_str(), int(i + 1), parts[i].name,
                                     format_size_mb(parts[i].size * 512, size))));
    }
    list_->SetSelection(0);
    top->Add(list_, 1, wxEXPAND | wxLEFT | wxRIGHT, 10);
    top->Add(form_button_row(*this, nullptr), 0, wxEXPAND | wxALL, 4);
    list_->Bind(wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) { EndModal(wxID_OK); });
    SetSizerAndFit(top);
    CentreOnParent();
  }
  int chosen() const { return list_->GetSelection(); }

 private:
  wxListBox* list_;
};

}  // namespace

FILE*& project_stream(int mode) { return mode == 2 ? g_isoplus_file : g_project_file; }

std::string MainFrame::choose_file(int mode, FileChoice which, const std::string& name) {
  const ModeFileTexts& t = k_file_texts[mode >= 0 && mode <= 2 ? mode : 0];
  int title = which == FileChoice::create ? t.new_title : which == FileChoice::open ? t.open_title : t.save_title;
  bool save = which != FileChoice::open;
  std::string shown = name.empty() ? ui_text(t.open_name) : name;
  // A project under a name of its own is offered its label, or "Untitled".
  if (save && name.empty())
    shown = save_dialog_name("", project_file_base_name(mode == 1 ? nullptr : project_stream(mode)), ui_text(t.extension));
  return ask_file(this, title, t.filter, shown, ui_text(t.extension), save);
}

// --- opening ---------------------------------------------------------------------------------------------
bool MainFrame::open_document(const std::string& path, int kind) {
  // The mode's document goes first, as with every command that opens one.
  if (kind == 1) {
    close_image();
    return open_image(path);
  }
  if (kind != 0 && kind != 2) return false;
  close_project(kind, true);
  return open_project(path, kind);
}

bool MainFrame::open_project(const std::string& path, int mode) {
  ProjectDocument doc;
  std::string message;
  {
    wxBusyCursor busy;
    status_text(format_text(ui_text(6106).c_str(), path.c_str()));
    int rc = open_project_document(path, mode == 2, (g_preferences & k_pref_no_backup) != 0, doc, message);
    status_text(std::string());
    // A damaged project is never edited; what it holds may be looked at.
    if (rc == k_doc_damaged) {
      if (!ask_yes_no((message + "\n\n" + ui_text(6781)).c_str())) return false;
      rc = open_project_read_only(path, mode == 2, doc, message);
    }
    if (rc != k_doc_ok) {
      if (!message.empty()) show_message(message.c_str());
      return false;
    }
  }
  project_stream(mode) = doc.file;
  doc_path_[mode] = path;
  project_read_only_[mode] = doc.read_only;
  g_total_sectors = recount_project_totals(doc.file);
  if (doc.read_only) std::clearerr(doc.file);  // its header is not rewritten
  if (mode == 2) g_isoplus_folder = k_root_folder_id;
  else g_selected_folder = k_root_folder_id;
  document_opened(mode);  // the status bar says it is read-only
  return true;
}

// A compressed image expanded after the user agreed: into a file the user
// names, or into a temporary one removed when the document closes.
bool MainFrame::expand_image(const std::string& path, std::string& opened, bool& temporary) {
  if (!ask_yes_no(format_text(ui_text(6103).c_str(), path.c_str()).c_str())) return false;
  status_text(format_text(ui_text(6104).c_str(), path.c_str()));
  std::string save_path;
  if (ask_yes_no(ui_text(6105).c_str())) {
    // Cancelling the name keeps the expansion temporary; the source is never the target.
    for (;;) {
      save_path = ask_file(this, 1504, 1355, "*.dmg", "dmg", true);
      if (save_path.empty() || !exists(save_path) || ask_overwrite(save_path.c_str())) break;
    }
  }
  std::string message;
  wxBusyCursor busy;
  int rc = expand_compressed_image(path, save_path, opened, message);
  status_text(std::string());
  if (rc != k_doc_ok) {
    show_message(message.c_str());
    return false;
  }
  temporary = save_path.empty();
  return true;
}

int MainFrame::choose_partition(const ImageDocument& doc) {
  PartitionChooser chooser(this, doc.partitions);
  if (run_modal(chooser) != wxID_OK) return -1;
  return chooser.chosen();
}

bool MainFrame::open_image(const std::string& path) {
  ImageDocument doc;
  std::string message, opened = path;
  bool temporary = false;
  int rc;
  {
    wxBusyCursor busy;
    status_text(format_text(ui_text(6106).c_str(), path.c_str()));
    rc = open_image_document(path, 0, doc, message);
    status_text(std::string());
  }
  if (rc == k_doc_compressed) {
    if (!expand_image(path, opened, temporary)) return false;
    wxBusyCursor busy;
    rc = open_image_document(opened, 0, doc, message);
    if (rc != k_doc_ok && temporary) ::unlink(opened.c_str());
  }
  if (rc == k_doc_empty) {
    show_timed_message(message.c_str());
    return false;
  }
  if (rc != k_doc_ok) {
    if (!message.empty()) show_message(message.c_str());  // a sparse image is refused without a word
    return false;
  }
  doc.expanded_temporary = temporary;
  doc.shown_path = temporary ? path : opened;
  // Several HFS partitions: the user says which one.
  if (doc.partitions.size() > 1) {
    int which = choose_partition(doc);
    if (which < 0) {
      close_image_document(doc);
      return false;
    }
    if (which > 0) {
      ImageDocument chosen;
      bool keep_temporary = doc.expanded_temporary;
      std::string shown = doc.shown_path;
      doc.expanded_temporary = false;  // the file is opened again below
      close_image_document(doc);
      if (open_image_document(opened, which, chosen, message) != k_doc_ok) {
        if (keep_temporary) ::unlink(opened.c_str());
        if (!message.empty()) show_message(message.c_str());
        return false;
      }
      chosen.expanded_temporary = keep_temporary;
      chosen.shown_path = shown;
      doc = chosen;
    }
  }
  image_ = doc;
  doc_path_[1] = doc.shown_path;
  g_partition_folder = 2;
  document_opened(1);  // the status bar says why when it is read-only
  return true;
}

void MainFrame::document_opened(int mode) {
  const std::string& path = doc_path_[mode];
  if (!is_scratch_project(path, mode)) {
    recent_[mode] = add_recent_path(mode, path);
    remember_project_folder(path.c_str());
  }
  if (mode == mode_index()) {
    fill_recent_menu(mode);
    fill_tree(mode_root_folder(mode));
  }
  update_commands();
}

// --- closing ---------------------------------------------------------------------------------------------
bool MainFrame::close_document(bool at_shut_down) {
  int mode = mode_index();
  if (mode == 1) close_image();
  else close_project(mode, true);
  if (!at_shut_down) update_commands();
  return true;
}

// Leaves the mode's project: a scratch project holding more than its root
// record is first offered a name of its own; an empty one is removed.
bool MainFrame::close_project(int mode, bool offer_save) {
  FILE*& f = project_stream(mode);
  if (f) {
    std::string path = doc_path_[mode];
    if (is_scratch_project(path, mode)) {
      std::fflush(f);
      if (file_length(path) > long(k_project_record_size)) {
        if (offer_save) save_project_as_command(mode);
      } else {
        ::unlink(path.c_str());  // while still locked
        (void)close_project_stream(f);  // the file is gone already
        f = nullptr;
      }
    }
    if (f && project_read_only_[mode]) {
      std::fclose(f);  // looked at only: nothing to write
      f = nullptr;
    }
    if (f) {
      // The totals and the id counters live in the header: the next run hands out new ids.
      write_project_totals(f, mode == 2);
      if (close_project_stream(f) != 0) report_open_error(doc_path_[mode].c_str());
      f = nullptr;
    }
  }
  project_read_only_[mode] = false;
  doc_path_[mode].clear();
  g_total_sectors = 0;
  if (mode == 2) g_isoplus_folder = k_root_folder_id;
  else g_selected_folder = k_root_folder_id;
  if (mode == mode_index()) clear_views();
  return true;
}

void MainFrame::close_image() {
  if (image_.fd >= 0) {
    std::string message;
    // Writes only what an edit left loaded; the image closes whatever comes of it.
    if (write_back_image(image_, message) != k_doc_ok) show_message(message.c_str());
    free_allocation_bitmap();
    close_image_document(image_);  // removes a temporary expansion too
  }
  image_ = ImageDocument();
  doc_path_[1].clear();
  g_partition_folder = 2;
  if (mode_index() == 1) clear_views();
}

bool MainFrame::make_scratch_project(int mode) {
  if (project_stream(mode)) return true;
  std::string folder = gui_data_folder();
  std::error_code ec;
  if (folder.empty() || (std::filesystem::create_directories(folder, ec), ec)) {
    show_message(format_text(ui_text(2903).c_str(), folder.c_str()).c_str());
    return false;
  }
  std::string path = scratch_project_path(mode);
  FILE* f = nullptr;
  int rc = create_project_stream(path, g_preferences, nullptr, FileLock::shared, f);
  if (rc != 0) {
    if (rc == k_project_in_use) show_message(ui_text(6600).c_str());
    else report_open_error(path.c_str());
    return false;
  }
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  project_stream(mode) = f;
  doc_path_[mode] = path;
  g_total_sectors = 0;
  return true;
}

// --- project commands ------------------------------------------------------------------------------------
void MainFrame::new_project_command(int mode) {
  close_project(mode, true);
  std::string path = choose_file(mode, FileChoice::create, std::string());
  if (path.empty() || (exists(path) && !ask_overwrite(path.c_str()))) {
    update_commands();
    return;
  }
  ProjectDocument doc;
  std::string message;
  if (create_project_document(path, g_preferences, mode == 2, doc, message) != k_doc_ok) {
    show_message(message.c_str());
    update_commands();
    return;
  }
  project_stream(mode) = doc.file;
  doc_path_[mode] = path;
  read_project_id_counters(doc.file, g_last_folder_id, g_last_file_serial);
  g_total_sectors = 0;
  document_opened(mode);
}

void MainFrame::open_command(int mode) {
  // The mode's document is closed first, also when the dialog is then cancelled.
  close_document(false);
  std::string path = choose_file(mode, FileChoice::open, std::string());
  if (!path.empty()) open_document(path, mode);
  update_commands();
}

void MainFrame::recent_command(int mode, size_t index) {
  if (index >= recent_[mode].size()) return;
  std::string path = recent_[mode][index];
  close_document(false);
  open_document(path, mode);
  update_commands();
}

void MainFrame::save_project_command(int mode) {
  if (FILE* f = project_stream(mode)) {
    write_project_totals(f, mode == 2);
    std::fflush(f);
  }
}

// Save As: the scratch project is moved to the name chosen; a named project
// is copied there and the copy becomes the document, the old file staying as
// it was. The current file itself is simply saved.
bool MainFrame::save_project_as_command(int mode) {
  FILE*& f = project_stream(mode);
  if (!f) return false;
  std::string current = doc_path_[mode];
  bool scratch = is_scratch_project(current, mode);
  std::string target;
  for (;;) {
    target = choose_file(mode, FileChoice::save_as, scratch ? std::string() : current);
    if (target.empty()) return false;
    write_project_totals(f, mode == 2);
    std::fflush(f);
    if (target == current || same_file(target, current)) return true;
    if (!exists(target) || ask_overwrite(target.c_str())) break;
  }
  std::string message;
  if (scratch) {
    (void)close_project_stream(f);  // each command flushed its changes; the move takes the file
    f = nullptr;
    if (move_document_file(current, target, message) != k_doc_ok) {
      show_message(message.c_str());
      (void)open_project_stream(current, "r+b", FileLock::shared, false, f);  // the scratch project stays the document
      return false;
    }
    if (open_project_stream(target, "r+b", FileLock::shared, false, f) != 0) {
      report_open_error(target.c_str());
      doc_path_[mode].clear();
      clear_views();
      update_commands();
      return false;
    }
    (void)mark_window_project(f);  // the file was just moved here by this window: no other window has it
  } else {
    if (copy_project_file(f, current, target, message) != k_doc_ok) {
      show_message(message.c_str());
      return false;
    }
    FILE* copy = nullptr;
    if (open_project_stream(target, "r+b", FileLock::shared, false, copy) != 0) {
      report_open_error(target.c_str());
      return false;
    }
    (void)mark_window_project(copy);  // the copy was just made by this window: no other window has it
    (void)close_project_stream(f);  // the copy is the document now
    f = copy;
  }
  doc_path_[mode] = target;
  recent_[mode] = add_recent_path(mode, target);
  remember_project_folder(target.c_str());
  if (mode == mode_index()) fill_recent_menu(mode);
  update_commands();
  return true;
}

void MainFrame::close_project_command(int mode) {
  FILE* f = project_stream(mode);
  if (!f) return;
  write_project_totals(f, mode == 2);
  std::fflush(f);
  // Closing the scratch project with items offers a name (the ISO+ one never does).
  std::string path = doc_path_[mode];
  if (mode == 0 && is_scratch_project(path, mode) && file_length(path) > long(k_project_record_size))
    save_project_as_command(mode);
  close_project(mode, false);
  if (mode == 0 && !g_volume.mounted) g_volume.is_hfsplus = (g_preferences & k_pref_hfsplus_target) ? 1 : 0;
  if (!simple_status_)
    for (int panel : {1, 2, 3, 4}) SetStatusText(wxString(), panel);
  update_commands();
}

// --- partition commands ----------------------------------------------------------------------------------
void MainFrame::new_image_command() {
  close_image();
  update_commands();
  std::string path = choose_file(1, FileChoice::create, std::string());
  if (path.empty() || (exists(path) && !ask_overwrite(path.c_str()))) return;
  NewImageDialog dialog(this, path);
  if (dialog.run() != 1) return;  // nothing was created
  std::string message;
  int rc;
  {
    wxBusyCursor busy;
    rc = new_partition_image(path, dialog.hfsplus(), dialog.size_mb(), dialog.volume_name(), message,
                             dialog.zero_fill());
  }
  if (rc != k_doc_ok) {
    if (!message.empty()) show_message(message.c_str());
    return;
  }
  open_image(path);
}

bool MainFrame::save_image_command() {
  std::string message;
  if (save_image_document(image_, message) == k_doc_ok) return true;
  show_message(message.c_str());
  return false;
}

void MainFrame::save_image_as_command() {
  if (image_.fd < 0) return;
  std::string target = choose_file(1, FileChoice::save_as, doc_path_[1]);
  if (target.empty()) return;
  // Onto the open image itself: nothing to copy, the image is saved where it is.
  if (target == image_.path || same_file(target, image_.path)) {
    save_image_command();
    return;
  }
  if (exists(target) && !ask_overwrite(target.c_str())) return;
  std::string message;
  // A copy of an image whose last edit is not all written would carry it half made.
  if (write_back_image(image_, message) != k_doc_ok) {
    show_message(message.c_str());
    return;
  }
  int rc;
  {
    wxBusyCursor busy;
    rc = save_image_as(image_, target, message);
  }
  if (rc != k_doc_ok) {
    if (!message.empty()) show_message(message.c_str());
    return;
  }
  // The copy becomes the document, the same partition of it shown at the same folder.
  int which = image_.partition;
  int32_t folder = current_folder();
  close_image();
  ImageDocument doc;
  if (open_image_document(target, which, doc, message) != k_doc_ok) {
    if (!message.empty()) show_message(message.c_str());
    update_commands();
    return;
  }
  image_ = doc;
  doc_path_[1] = target;
  recent_[1] = add_recent_path(1, target);
  fill_recent_menu(1);
  fill_tree(folder);
  update_commands();
}

void MainFrame::close_image_command() {
  close_image();
  update_commands();
}

void MainFrame::hybridise_command() {
  if (image_.fd < 0) return;
  std::string iso = ask_file(this, 1368, 1367, ui_text(1371), ui_text(1370), false, false);
  if (iso.empty()) return;
  std::string message;
  if (write_back_image(image_, message) != k_doc_ok) {
    show_message(message.c_str());
    return;
  }
  wxBusyCursor busy;
  // It says itself what stopped it; the open image is only read.
  (void)hybridise_image(image_.fd, iso.c_str());
}

// --- the target image of a compile -------------------------------------------------------------------------
std::string choose_target_image(const std::string& project_path, uint64_t bytes, bool hfs_only) {
  std::string name = set_extension(project_path, ui_text(hfs_only ? 1411 : 1370).c_str());
  char folder[k_text_size * 2];
  get_output_folder(folder);
  if (folder[0]) name = std::string(folder) + (folder[std::strlen(folder) - 1] == '/' ? "" : "/") +
                        name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
  std::string target = ask_file(g_main_frame, 1369, hfs_only ? 1410 : 1367, name,
                                ui_text(hfs_only ? 1411 : 1370), true, false);
  if (target.empty()) return target;
  if (target == project_path || same_file(target, project_path)) {  // the compile would overwrite its own project
    show_message(ui_text(6115).c_str());
    return std::string();
  }
  std::string message;
  if (check_target_image(target, bytes, message) != k_doc_ok) {
    show_message(message.c_str());
    return std::string();
  }
  if (exists(target) && !ask_overwrite(target.c_str())) return std::string();
  remember_output_folder(target.c_str());
  return target;
}
