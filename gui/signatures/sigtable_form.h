// The signature editor window: one .sig file's section of the interface
// language in a list, with its File, Edit, Registry and Help menus, the item
// dialog and the registry dialog.
#pragma once

#include <string>

class wxWindow;
class wxDC;
class wxRect;
struct SigEditor;
struct SigRow;

// Menu items of the window (and of its list's pop-up menu).
enum SigCommand {
  k_sig_new = 6460,  // N1
  k_sig_open,        // Ou1
  k_sig_save,        // S1
  k_sig_save_as,     // Sas1
  k_sig_close,       // F2
  k_sig_printer_setup,  // PrS
  k_sig_print,       // Pr
  k_sig_quit,        // Q1
  k_sig_edit_item,   // Ed1, Ped1
  k_sig_add_item,    // Ad1, Padd1
  k_sig_cut,         // Cut1
  k_sig_copy,        // Cop1
  k_sig_paste,       // Col1
  k_sig_move_up,     // Rem1, Pup1
  k_sig_move_down,   // Des1, PDn1
  k_sig_register,    // Val1
};

// Shows the editor over owner on the table the setting "Sign" names. -1 when a
// file was saved while it was open (the caller reloads its table), else 0.
int run_signature_editor(wxWindow* owner);

// The edit (row given) or add (row null) dialog: true on OK, with out taken by
// the dialog's limits.
bool run_signature_item_dialog(wxWindow* owner, const SigRow* row, SigRow& out);

// The printed table: the path and "Page n" at the top right of every page,
// then one line a row (extension, type, creator, comment in four columns).
// page 0 draws nothing. Returns the number of pages.
int draw_signature_page(wxDC& dc, const wxRect& area, int page, const SigEditor& ed);
