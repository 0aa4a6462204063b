// The form of the signature table offered at the first start (see sigtable_offer.h).
#pragma once

#include <string>

class wxWindow;
struct SignatureOffer;

// Shows the offer over owner. 1 with chosen set to the table taken, 0 when the
// user wants none (chosen empty).
int run_signature_offer(wxWindow* owner, SignatureOffer& offer, std::string& chosen);
// The start-up's offer over the main window, of the installed table and the
// tables of the current folder. 0 when it was shown (chosen: the table taken,
// "" for none); -1 when there is nothing to offer.
int offer_signature_table(std::string& chosen);
