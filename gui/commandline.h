// What the GUI program does with an argument, from its own command line or
// handed over by a second start; the hand-over's wire form; the caption; the
// scratch project's place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The longest argument taken whole (a Linux path); longer ones are refused, never cut.
constexpr size_t k_max_gui_argument = 4095;
// Operands of a command keep the console's limit (the engine's path fields).
constexpr size_t k_max_command_operand = 255;

enum class ArgumentKind { command, document, too_long, empty };

// An argument is a command when it is "-" followed by one to three letters, or
// "/" followed by one to three letters and nothing else that names no existing
// file. Everything else (an absolute path begins with "/") is a document.
ArgumentKind classify_argument(const std::string& arg, bool (*file_exists)(const std::string&));
// The command in the console's spelling: "/c" becomes "-c".
std::string command_word(const std::string& arg);

// The arguments a second start hands over, as the running instance (in
// another working folder) must take them: each path made absolute against
// cwd, the document's and a command's operands alike; option words, labels
// ("-l") and a project's folder chain ("-f") stay as they are.
std::vector<std::string> handover_arguments(const std::vector<std::string>& args, const std::string& cwd,
                                            bool (*file_exists)(const std::string&));

// The working mode a document opens in (0 project, 1 partition image, 2 ISO+
// project), -1 when it is none of ours. Its extension decides; where that
// says nothing, its first sectors decide as the desktop's content types do: a
// project's magic (of this format or an older one; the open says which), or
// an Apple disk or an HFS volume as the partition scan finds them (a map
// without HFS partition too: the open says there is none). Reads the file
// and changes nothing, the open volume's state included.
int document_kind(const std::string& path);

// Main window caption: "Corvane" without a document, else "name [Corvane]".
std::string main_caption(const std::string& document_path);

// $XDG_DATA_HOME/corvane (default ~/.local/share/corvane); "" when neither is set.
std::string gui_data_folder();
// The scratch project of a mode: "cvpr.cvpr" (0) or "cvso.cvso" (2) in the data folder.
std::string scratch_project_path(int mode);
// Only that exact file is the scratch project, never one whose name merely contains its name.
bool is_scratch_project(const std::string& path, int mode);

// --- hand-over -------------------------------------------------------------------------------
// A second start sends "CVH1", the argument count (u32 little-endian), then
// each argument as its length (u32) and bytes. The running instance answers
// with one byte once it has handled them.
enum HandoverReply : uint8_t {
  k_handover_done = 'D',      // handled (a document opened, a command run, or its message shown)
  k_handover_busy = 'B',      // refused: a compile runs
  k_handover_waiting = 'W',   // refused: a form of the running instance waits for an answer
  k_handover_refused = 'R',   // refused: an argument too long or a malformed message
};
constexpr size_t k_max_handover_arguments = 3;
std::string encode_handover(const std::vector<std::string>& args);

// Incremental reader of the hand-over: bytes go in as they arrive; an
// argument longer than k_max_gui_argument is counted but never stored.
class HandoverDecoder {
 public:
  enum State { reading, complete, malformed };
  State feed(const uint8_t* data, size_t size);
  State state() const { return state_; }
  const std::vector<std::string>& arguments() const { return args_; }
  // Lengths of the arguments refused for their size (their bytes were skipped).
  const std::vector<uint64_t>& refused_lengths() const { return refused_; }
  // The first bytes of the first refused argument, to name it in the message.
  const std::string& refused_head() const { return refused_head_; }

 private:
  State state_ = reading;
  std::string header_;        // magic and count, then each length, as gathered
  uint32_t count_ = 0;
  bool have_count_ = false;
  bool have_length_ = false;
  uint64_t length_ = 0, taken_ = 0;
  bool skipping_ = false;
  std::string current_;
  std::vector<std::string> args_;
  std::vector<uint64_t> refused_;
  std::string refused_head_;
  size_t done_ = 0;
  void finish_argument();
};
