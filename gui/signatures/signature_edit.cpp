#include "gui/signatures/signature_edit.h"

#include <sys/statvfs.h>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "IO/charsets.h"
#include "IO/prompts.h"
#include "IO/strlib.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "IO/version.h"
#include "hfs/btree.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "macfiles/aliasres.h"
#include "macfiles/signatures.h"

// --- signature editing --------------------------------------------------------------------------------

void init_signature_edit(const char signature[8], std::string_view name, SignatureEditModel& m, const char* proposal) {
  m.name = std::string(name);
  m.old_type = m.new_type = signature_half_text(signature);
  m.old_creator = m.new_creator = signature_half_text(signature + 4);
  if (proposal) {
    m.new_type = signature_half_text(proposal);
    m.new_creator = signature_half_text(proposal + 4);
  }
}

int apply_signature_edit(const SignatureEditModel& m, SignatureButton button, char signature[8]) {
  if (button == k_sig_ignore || button == k_sig_ignore_all) return button;
  int copied = 0;
  std::string sig = typed_signature(m.new_type, m.new_creator);
  if (m.new_type != m.old_type && signature_half_fits(m.new_type)) {
    std::memcpy(signature, sig.data(), 4);
    ++copied;
  }
  if (m.new_creator != m.old_creator && signature_half_fits(m.new_creator)) {
    std::memcpy(signature + 4, sig.data() + 4, 4);
    ++copied;
  }
  return copied ? button : 0;
}
