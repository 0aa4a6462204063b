// Advisory locks on a whole file, held by one open file description: two
// opens of the same file conflict even inside one process, every descriptor
// dup'ed from one open shares its lock, and the system lets go when the last
// descriptor of the open is closed (also when its process dies). Changing a
// held lock from shared to exclusive either succeeds or leaves the shared
// lock held: it is never dropped on the way.
//
// The lock covers every byte the file can reach but one, far past any end:
// the mark, a second lock a holder may take beside the first to say what
// kind of holder it is (the window marks the project it shows).
#pragma once

enum class FileLock { none, shared, exclusive };

// Takes (or changes to) the lock on fd's open. wait: blocks until no other
// open holds a conflicting lock; else fails at once. An exclusive lock needs
// fd open for writing. 0, or -1 (errno EAGAIN when another open holds it).
[[nodiscard]] int lock_file(int fd, FileLock kind, bool wait = false);
// Whether another open of the file that fd names holds a lock that conflicts
// with kind (for a file about to be replaced: a writer must not lose it). A
// failure to ask answers false.
bool file_locked_elsewhere(int fd, FileLock kind);
// The mark, taken shared (none lets go of it), never waiting. 0 or -1.
[[nodiscard]] int mark_file(int fd, FileLock kind);
// Whether another open of the file holds the mark.
bool file_marked_elsewhere(int fd);
