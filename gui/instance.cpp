#include "gui/instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : int(left);
}

bool write_all(int fd, const char* data, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, remaining_ms(deadline)) <= 0) return false;
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data += n;
    size -= size_t(n);
  }
  return true;
}

}  // namespace

std::string instance_folder(std::string& error) {
  std::string folder;
  const char* run = std::getenv("XDG_RUNTIME_DIR");
  if (run && *run == '/') {
    folder = std::string(run) + "/corvane";
  } else {
    const char* tmp = std::getenv("TMPDIR");
    folder = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/corvane-" + std::to_string(::getuid());
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = folder + ": " + std::strerror(errno);
    return std::string();
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
    error = folder + ": not a folder of this user";
    return std::string();
  }
  if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
    error = folder + ": cannot be made private";
    return std::string();
  }
  return folder;
}

int claim_instance(InstanceChannel& ch, std::string& error) {
  ch.folder = instance_folder(error);
  if (ch.folder.empty()) return -1;
  ch.socket_path = ch.folder + "/instance.sock";
  sockaddr_un addr{};
  if (ch.socket_path.size() >= sizeof addr.sun_path) {
    error = ch.socket_path + ": path too long for a socket";
    return -1;
  }
  std::string lock_path = ch.folder + "/instance.lock";
  ch.lock_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (ch.lock_fd < 0) {
    error = lock_path + ": " + std::strerror(errno);
    return -1;
  }
  if (::flock(ch.lock_fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(ch.lock_fd);
    ch.lock_fd = -1;
    return 0;  // another instance holds it
  }
  ::unlink(ch.socket_path.c_str());  // left by an instance that ended without cleaning up
  ch.listen_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, ch.socket_path.c_str(), ch.socket_path.size() + 1);
  if (ch.listen_fd < 0 || ::bind(ch.listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(ch.listen_fd, 8) != 0) {
    error = ch.socket_path + ": " + std::strerror(errno);
    if (ch.listen_fd >= 0) ::close(ch.listen_fd);
    ch.listen_fd = -1;
    return 1;  // still the first instance; it just cannot be reached
  }
  ::chmod(ch.socket_path.c_str(), 0600);
  return 1;
}

int hand_over_arguments(const InstanceChannel& ch, const std::vector<std::string>& args, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  sockaddr_un addr{};
  if (ch.socket_path.size() >= sizeof addr.sun_path) return 0;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, ch.socket_path.c_str(), ch.socket_path.size() + 1);
  int fd = -1;
  // The first instance may still be starting: try for a while.
  while (true) {
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
    ::close(fd);
    fd = -1;
    if (remaining_ms(deadline) == 0) return 0;
    ::usleep(100 * 1000);
  }
  std::string message = encode_handover(args);
  uint8_t reply = 0;
  if (write_all(fd, message.data(), message.size(), deadline)) {
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, remaining_ms(deadline)) > 0) {
      ssize_t n = ::recv(fd, &reply, 1, 0);
      if (n == 1 || (n < 0 && errno != EINTR)) break;
      if (n == 0) break;
    }
  }
  ::close(fd);
  return reply;
}

void reply_handover(int connection, uint8_t reply) {
  if (connection < 0) return;
  ::send(connection, &reply, 1, MSG_NOSIGNAL);
  ::close(connection);
}

namespace {

constexpr size_t k_max_pending_handovers = 16;

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

}  // namespace

HandoverInbox::~HandoverInbox() {
  for (Pending& p : pending_) ::close(p.fd);
}

int HandoverInbox::next(const InstanceChannel& ch, HandoverDecoder& out, int idle_ms) {
  int64_t now = now_ms();
  while (ch.listen_fd >= 0) {
    int fd = ::accept4(ch.listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) break;
    if (pending_.size() >= k_max_pending_handovers) {
      reply_handover(fd, k_handover_refused);
      continue;
    }
    Pending p;
    p.fd = fd;
    p.deadline_ms = now + idle_ms;
    pending_.push_back(std::move(p));
  }
  for (size_t i = 0; i < pending_.size();) {
    Pending& p = pending_[i];
    bool ended = false;  // the sender closed its side
    uint8_t buf[4096];
    while (p.decoder.state() == HandoverDecoder::reading) {
      ssize_t n = ::recv(p.fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        p.decoder.feed(buf, size_t(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
      break;
    }
    if (ended || p.decoder.state() != HandoverDecoder::reading) {
      int fd = p.fd;
      out = std::move(p.decoder);
      pending_.erase(pending_.begin() + long(i));
      return fd;
    }
    if (now >= p.deadline_ms) {
      reply_handover(p.fd, k_handover_refused);
      pending_.erase(pending_.begin() + long(i));
      continue;
    }
    ++i;
  }
  return -1;
}

void release_instance(InstanceChannel& ch) {
  if (ch.listen_fd >= 0) {
    ::close(ch.listen_fd);
    ::unlink(ch.socket_path.c_str());
    ch.listen_fd = -1;
  }
  if (ch.lock_fd >= 0) {
    ::close(ch.lock_fd);
    ch.lock_fd = -1;
  }
}
