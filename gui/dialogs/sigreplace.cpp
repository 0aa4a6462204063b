#include "gui/dialogs/sigreplace.h"

#include <cstring>
#include <string_view>

#include "compiler/project.h"
#include "macfiles/signatures.h"

namespace {

void put_slot(char* slot, const std::string& text) {
  size_t n = std::min<size_t>(text.size(), 4);
  std::memset(slot, ' ', 4);
  std::memcpy(slot, text.data(), n);
}

}  // namespace

int fill_signature_replace(SignatureReplace& out, const std::string& orig_type, const std::string& orig_creator,
                           const std::string& new_type, const std::string& new_creator) {
  out = SignatureReplace();
  put_slot(out.slots, orig_type);
  put_slot(out.slots + 4, orig_creator);
  put_slot(out.slots + 8, new_type);
  put_slot(out.slots + 12, new_creator);
  out.slots[16] = '\0';
  return orig_type.empty() && orig_creator.empty() ? 0 : -1;
}

int replace_project_signature(FILE* f, const SignatureReplace& values) {
  ProjectHeader h;
  if (!f || !read_project_header(f, h)) return -1;
  const std::string_view pattern(values.original(), 8);
  begin_project_edit(f);
  int changed = 0;
  long n = project_record_count(f);
  ProjectRecord r;
  for (long i = 1; i < n && !project_edit_failed(f); ++i) {
    const long at = i * long(k_project_record_size);
    if (std::fseek(f, at, SEEK_SET) != 0 || !read_project_record(f, r)) break;
    if (r.is_folder() || signature_mismatch(pattern, r.type_creator) != 0) continue;
    std::memcpy(r.type_creator, values.replacement(), 8);
    if (std::fseek(f, at, SEEK_SET) != 0 || !write_project_record(f, r)) {
      refuse_project_edit(f);
      break;
    }
    ++changed;
  }
  return end_project_edit(f, changed);
}
