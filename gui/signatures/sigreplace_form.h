// The small form that asks for the signature to look for and its replacement.
#pragma once

class wxWindow;
struct SignatureReplace;

// -1 after "Replace" (values filled, the original signature not empty), else 0.
int run_signature_replace_form(wxWindow* owner, SignatureReplace& values);
