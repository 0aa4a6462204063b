#include "gui/signatures/sigreplace.h"

#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "compiler/project.h"
#include "gui/signatures/signature_edit.h"
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

std::string generic_signature() {
  return g_signature_table ? std::string(g_signature_table[0].type_creator, 8) : std::string("TEXT????");
}

bool looks_for_generic_signature(const SignatureReplace& values) {
  return std::string_view(values.original(), 8) == generic_signature();
}

SignatureReview review_generic_signatures(FILE* f, const SignatureReplace& values, const SignatureAsk& ask) {
  SignatureReview review;
  ProjectHeader h;
  if (!f || !read_project_header(f, h)) {
    review.changed = -1;
    return review;
  }
  const std::string generic = generic_signature();
  const std::string_view replacement(values.replacement(), 8);
  const char* proposal = replacement.find_first_not_of(' ') == std::string_view::npos ? nullptr : values.replacement();
  // The answers first: nothing is written while the forms are shown.
  std::vector<std::pair<long, ProjectRecord>> edits;
  bool asking = true, all = false;
  char all_type[4] = {}, all_creator[4] = {};
  bool all_sets_type = false, all_sets_creator = false;
  const long n = project_record_count(f);
  ProjectRecord r;
  for (long i = 1; i < n; ++i) {
    const long at = i * long(k_project_record_size);
    if (std::fseek(f, at, SEEK_SET) != 0 || !read_project_record(f, r)) break;
    if (r.is_folder() || std::string_view(r.type_creator, 8) != generic) continue;
    ++review.found;
    if (all) {
      if (all_sets_type) std::memcpy(r.type_creator, all_type, 4);
      if (all_sets_creator) std::memcpy(r.type_creator + 4, all_creator, 4);
      edits.emplace_back(at, r);
      continue;
    }
    if (!asking) continue;
    char sig[8];
    std::memcpy(sig, r.type_creator, 8);
    int answer = ask(sig, proposal, r.pc_name);
    if (answer == k_sig_ignore_all) asking = false;
    if (answer != k_sig_change && answer != k_sig_change_all) continue;
    if (answer == k_sig_change_all) {
      all = true;
      all_sets_type = std::memcmp(sig, r.type_creator, 4) != 0;
      all_sets_creator = std::memcmp(sig + 4, r.type_creator + 4, 4) != 0;
      std::memcpy(all_type, sig, 4);
      std::memcpy(all_creator, sig + 4, 4);
    }
    std::memcpy(r.type_creator, sig, 8);
    edits.emplace_back(at, r);
  }
  begin_project_edit(f);
  int changed = 0;
  for (const auto& [at, edited] : edits) {
    if (project_edit_failed(f)) break;
    if (std::fseek(f, at, SEEK_SET) != 0 || !write_project_record(f, edited)) {
      refuse_project_edit(f);
      break;
    }
    ++changed;
  }
  review.changed = end_project_edit(f, changed);
  return review;
}
