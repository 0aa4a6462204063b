// The run-time signature table loader over any file: every row it keeps fits
// its columns, the lookups answer from those rows, and a second load of the
// same file gives the same table. The first byte picks the language. Seeds:
// the signature editor's, a file of one section and one of both languages.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "macfiles/signatures.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

namespace {

bool terminated(const char* field, size_t size) { return std::memchr(field, 0, size) != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static std::string path;
  if (path.empty()) {
    char tmpl[] = "/tmp/cvsigXXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) return 0;
    close(fd);
    path = tmpl;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);
  int language = (data[0] & 1) ? 10000 : 0;
  clear_signature_table();
  int rc = load_signature_table(path, "TXT", language);
  if (size - 1 > k_max_signature_file_bytes) {
    if (rc != -1 || g_signature_table) std::abort();  // refused, nothing loaded
    return 0;
  }
  if (rc != 0) std::abort();
  if (g_signature_count < 1 || g_signature_count > k_signature_rows) std::abort();
  std::string first_rows;
  for (int i = 0; i < g_signature_count; ++i) {
    const SignatureEntry& r = g_signature_table[i];
    if (!terminated(r.extension, sizeof r.extension) || !terminated(r.type_creator, sizeof r.type_creator) ||
        !terminated(r.comment, sizeof r.comment))
      std::abort();
    if (std::strlen(r.type_creator) != 8 || std::strlen(r.extension) > 4) std::abort();
    first_rows += std::string(r.extension) + "," + r.type_creator + "," + r.comment + "\n";
    // Each row's signature finds a row; its extension gives a signature.
    if (!find_signature_entry(r.type_creator, false)) std::abort();
    if (type_creator_for_filename(std::string("x.") + r.extension).size() != 8) std::abort();
    signature_comment(r.type_creator);
    signature_icon_index(r.type_creator);
  }
  (void)load_signature_table(path, "TXT", language);
  std::string again;
  for (int i = 0; i < g_signature_count; ++i) {
    const SignatureEntry& r = g_signature_table[i];
    again += std::string(r.extension) + "," + r.type_creator + "," + r.comment + "\n";
  }
  if (again != first_rows) std::abort();
  return 0;
}
