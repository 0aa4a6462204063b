// One instance per user: a lock file and a Unix socket in a private folder
// ($XDG_RUNTIME_DIR/corvane, or $TMPDIR/corvane-<uid> when that is unset),
// mode 0700. The first start holds the lock and listens; a second start hands
// its arguments over on the socket and waits for the answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gui/commandline.h"

struct InstanceChannel {
  int lock_fd = -1;
  int listen_fd = -1;
  std::string folder;
  std::string socket_path;
};

// The private folder, made when missing; "" with a reason in error when it
// cannot be had or is not ours alone.
std::string instance_folder(std::string& error);
// 1: this is the first instance (lock held, socket listening); 0: another runs;
// -1: no channel could be made (error says why; the program runs on alone).
[[nodiscard]] int claim_instance(InstanceChannel& ch, std::string& error);
// Sends the arguments to the running instance and waits up to timeout_ms for
// its answer: the reply byte, or 0 when it could not be reached or did not answer.
int hand_over_arguments(const InstanceChannel& ch, const std::vector<std::string>& args, int timeout_ms);
void reply_handover(int connection, uint8_t reply);

// The hand-overs of second starts as the running window reads them, never
// waiting: every connection waiting is taken at once and keeps its own
// reader; one that has not sent its whole hand-over within idle_ms is
// answered refused and closed, so a client that connects and sends nothing
// holds nothing up.
class HandoverInbox {
 public:
  ~HandoverInbox();
  // Takes what arrived. The connection of the first hand-over that is read
  // whole (out: its reader; a connection closed early or a malformed message
  // comes back too, not complete), still open for its answer; -1 when none is.
  int next(const InstanceChannel& ch, HandoverDecoder& out, int idle_ms);

 private:
  struct Pending {
    int fd = -1;
    HandoverDecoder decoder;
    int64_t deadline_ms = 0;
  };
  std::vector<Pending> pending_;
};

void release_instance(InstanceChannel& ch);
