// quorvel: the console program. One command per run, given by an option and one
// or two operands; it reports through its exit code, and its only output is the
// usage text and the line of a refusal the code alone does not explain.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "IO/results.h"
#include "IO/uitext.h"
#include "cli/console.h"
#include "compiler/commands.h"
#include "compiler/hfspart.h"
#include "compiler/project.h"

namespace {

// Operands are limited to this many bytes (as the fixed path fields are).
constexpr size_t k_max_argument = 255;

}  // namespace

const char* const k_usage_lines[] = {
    "\n\nquorvel - v. 4.0 - Command Line Version of Corvane\n",
    "Copyright (c) Veltron. All rights reserved.\n",
    "\n",
    "Project compilation:  quorvel -c  e:\\projects\\file.cvpr\n",
    "ISO only compilation: quorvel -ci e:\\projects\\file.cvpr\n",
    "HFS only compilation: quorvel -ch e:\\projects\\file.cvpr\n",
    "ISO deshybridation:   quorvel -dh e:\\projects\\image.iso\n",
    "DMG decompression:    quorvel -dc e:\\data\\image.dmg e:\\data\\decimg.dmg\n",
    "Folder creation:      quorvel -f  e:\\projects\\file.cvpr foldername\\subfoldername\n",
    "F. creation (ISO):    quorvel -fi e:\\projects\\file.cvpr foldername\\subfoldername\n",
    "F. creation (HFS):    quorvel -fh e:\\projects\\file.cvpr foldername\\subfoldername\n",
    "ISO hybridation:      quorvel -h  e:\\projects\\image.hfs e:\\projects\\image.iso\n",
    "File inclusion:       quorvel -i  e:\\projects\\file.cvpr c:\\temp\\folder\\file.ext\n",
    "F. inclusion (ISO):   quorvel -ii e:\\projects\\file.cvpr c:\\temp\\folder\\*.*\n",
    "F. inclusion (HFS):   quorvel -ih e:\\projects\\file.cvpr c:\\temp\\folder\\*.*\n",
    "Project labelling:    quorvel -l  e:\\projects\\file.cvpr \"Name with spaces\"\n",
    "P. labelling (ISO):   quorvel -li e:\\projects\\file.cvpr Name\n",
    "P. labelling (HFS):   quorvel -lh e:\\projects\\file.cvpr Name\n",
    "Project refreshing:   quorvel -r  e:\\projects\\file.cvpr\n",
    "Refreshing with log:  quorvel -rj e:\\projects\\file.cvpr c:\\temp\\journal.log\n",
    "\n",
    "More information on the Corvane web page: https://corvane.example/\n",
    "Hit a key...",
};

void print_usage(FILE* out) {
  for (const char* line : k_usage_lines) std::fputs(line, out);
  std::fflush(out);
}

// Waits for one key, but only from a terminal: with no stdin, or a pipe, it
// returns at once.
void wait_for_key() {
  if (isatty(STDIN_FILENO)) std::getchar();
}

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    print_usage(stdout);
    wait_for_key();
    return k_failed;
  }
  for (int i = 1; i < argc; ++i)
    if (std::strlen(argv[i]) > k_max_argument) return k_refused;  // refused, never cut
  if (!start_console()) return k_failed;
  int rc = run_command_line_operation(argv[1], argv[2], argc == 4 ? argv[3] : nullptr);
  // A refusal that the user would not guess from the code alone is said on stderr.
  if (rc == k_project_in_use) std::fprintf(stderr, "%s\n", format_text(ui_text(6601).c_str(), argv[2]).c_str());
  // A damaged project: what is wrong with it, as the window says it.
  if (rc != 0 && !g_refused_project_text.empty()) std::fprintf(stderr, "%s\n", g_refused_project_text.c_str());
  bool docking = std::strlen(argv[1]) == 2 && (argv[1][1] | 0x20) == 'h';
  if (docking && rc == k_hybridise_bad_volume) std::fprintf(stderr, "%s\n", ui_text(6604).c_str());
  end_console();
  return rc;
}
