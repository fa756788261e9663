#include "agent/store/pipe_server.h"

#include <sched.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "records/pipe_records.h"

namespace torvane {

bool ReadPeerIdentity(int fd, PeerIdentity& out) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return false;
  out.pid = cred.pid;
  out.uid = cred.uid;
  out.gid = cred.gid;
  out.groups.clear();
  // The kernel says how many groups there are when the first buffer is too small.
  std::vector<gid_t> groups(32);
  for (int round = 0; round < 2; ++round) {
    socklen_t glen = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &glen) == 0) {
      groups.resize(glen / sizeof(gid_t));
      out.groups = std::move(groups);
      return true;
    }
    if (errno != ERANGE) break;
    groups.resize(glen / sizeof(gid_t) + 1);
  }
  // Without the peer's groups the client is taken with none, which can only
  // narrow what it may write.
  return true;
}

namespace {

long RawGetGroups(std::vector<gid_t>& out) {
  long n = syscall(SYS_getgroups, 0, nullptr);
  if (n < 0) return -1;
  out.resize(static_cast<size_t>(n));
  n = syscall(SYS_getgroups, n, out.data());
  if (n < 0) return -1;
  out.resize(static_cast<size_t>(n));
  return n;
}

long RawSetGroups(const std::vector<gid_t>& groups) {
  return syscall(SYS_setgroups, groups.size(), groups.empty() ? nullptr : groups.data());
}

uid_t CurrentFsuid() { return static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))); }
gid_t CurrentFsgid() { return static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))); }

// Binds the socket so that its file is made with mode 0666: every local user may
// connect, and what a client may change is decided per connection by the
// write-right check. The mode is given at creation, never by a chmod of the path
// afterwards, which would follow whatever someone with write access to the
// folder put there meanwhile. Linux makes the file with the socket's own mode
// (set by fchmod before the bind) less the umask. The umask belongs to every
// thread of the process, so the bind runs on a short thread of its own with a
// private file-system context, where the umask can be 0 without touching files
// that other threads create meanwhile.
bool BindConnectableByAll(int fd, const sockaddr* address, socklen_t length) {
  if (fchmod(fd, 0666) != 0) return false;
  bool bound = false;
  try {
    std::thread binder([&] {
      // Should the kernel refuse a private context, the mask is the process's
      // for the moment of the bind.
      unshare(CLONE_FS);
      mode_t old = umask(0);
      bound = bind(fd, address, length) == 0;
      umask(old);
    });
    binder.join();
  } catch (const std::system_error&) {
    return false;
  }
  return bound;
}

void SetTimeout(int fd, int option, std::chrono::milliseconds limit) {
  if (limit.count() <= 0) return;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(limit.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((limit.count() % 1000) * 1000);
  setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

}  // namespace

WriteRight RunAsPeer(const PeerIdentity& peer, const std::function<bool()>& attempt) {
  const uid_t ownUid = CurrentFsuid();
  const gid_t ownGid = CurrentFsgid();
  if (peer.uid == ownUid) {
    // The client is the agent's own user: it may write whatever the agent may.
    return attempt() ? WriteRight::kGranted : WriteRight::kDenied;
  }
  std::vector<gid_t> saved;
  if (RawGetGroups(saved) < 0) return WriteRight::kFailed;
  if (RawSetGroups(peer.groups) != 0) return WriteRight::kFailed;
  setfsgid(peer.gid);
  setfsuid(peer.uid);
  bool switched = CurrentFsuid() == peer.uid && CurrentFsgid() == peer.gid;
  bool wrote = switched && attempt();
  setfsuid(ownUid);
  setfsgid(ownGid);
  bool restored = RawSetGroups(saved) == 0 && CurrentFsuid() == ownUid && CurrentFsgid() == ownGid;
  if (!switched || !restored) return WriteRight::kFailed;
  return wrote ? WriteRight::kGranted : WriteRight::kDenied;
}

int CreateQueryPipe(const std::string& path, ino_t* inode) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return -1;
  std::memcpy(addr.sun_path, path.data(), path.size());
  const auto* sa = reinterpret_cast<const sockaddr*>(&addr);

  struct stat st{};
  if (lstat(path.c_str(), &st) == 0) {
    int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (probe < 0) return -1;
    int rc = connect(probe, sa, sizeof addr);
    int err = errno;
    close(probe);
    if (rc == 0) return -1;  // an agent answers there: it keeps its socket
    if (err == ECONNREFUSED) {
      if (unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
    } else if (err != ENOENT) {
      return -1;  // busy or unreachable: not provably stale
    }
  }

  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (!BindConnectableByAll(fd, sa, sizeof addr)) {
    close(fd);
    return -1;
  }
  // What is at the path now is ours only when it is a socket; a link or a file
  // put there in the meantime is left alone, and this start fails.
  struct stat mine{};
  if (lstat(path.c_str(), &mine) != 0 || !S_ISSOCK(mine.st_mode)) {
    close(fd);
    return -1;
  }
  if (listen(fd, SOMAXCONN) != 0) {
    unlink(path.c_str());
    close(fd);
    return -1;
  }
  if (inode) *inode = mine.st_ino;
  return fd;
}

bool PipeSlotFree(uid_t uid, size_t active, size_t activeOfUser, const PipeServerOptions& options) {
  if (active >= options.maxClients) return false;
  if (uid == 0) return true;
  size_t reserve = options.rootReserve < options.maxClients ? options.rootReserve : options.maxClients;
  return active < options.maxClients - reserve && activeOfUser < options.perUserMax;
}

PipeServer::PipeServer(std::string path, PipeRequestHandler& handler, WriteRightCheck& right,
                       PipeServerOptions options)
    : path_(std::move(path)), handler_(handler), right_(right), options_(options) {}

PipeServer::~PipeServer() { Stop(); }

void PipeServer::Start() {
  if (started_) return;
  started_ = true;
  stopping_ = false;
  listenFd_ = CreateQueryPipe(path_, &inode_);
  if (listenFd_ < 0) return;
  listening_ = true;
  try {
    listener_ = std::thread(&PipeServer::PipeListener, this);
  } catch (const std::system_error&) {
    listening_ = false;
  }
}

size_t PipeServer::ActiveClients() const {
  std::lock_guard<std::mutex> lock(clientsMutex_);
  size_t n = 0;
  for (const auto& c : clients_) n += c->done ? 0 : 1;
  return n;
}

void PipeServer::ReapFinished() {
  std::list<std::unique_ptr<Client>> finished;
  {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
      if ((*it)->done) {
        auto next = std::next(it);
        finished.splice(finished.end(), clients_, it);
        it = next;
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) c->thread.join();
}

void PipeServer::PauseAfterFailure() {
  std::unique_lock<std::mutex> lock(pauseMutex_);
  pauseCv_.wait_for(lock, options_.acceptRetry, [&] { return stopping_.load(); });
}

void PipeServer::PipeListener() {
  while (!stopping_) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      int err = errno;
      if (stopping_) break;
      if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM ||
          err == ECONNABORTED || err == EINTR) {
        PauseAfterFailure();
        continue;
      }
      break;  // the socket is gone: the listener ends
    }
    if (stopping_) {
      close(fd);
      break;
    }
    ReapFinished();
    auto client = std::make_unique<Client>();
    client->fd = fd;
    if (!ReadPeerIdentity(fd, client->peer)) {
      close(fd);
      continue;
    }
    SetTimeout(fd, SO_SNDTIMEO, options_.sendTimeout);
    // A wait for the next request ends after the idle time; the client thread
    // then closes the connection and frees its slot.
    SetTimeout(fd, SO_RCVTIMEO, options_.idleTimeout);

    std::lock_guard<std::mutex> lock(clientsMutex_);
    size_t active = 0;
    size_t activeOfUser = 0;
    for (const auto& c : clients_) {
      if (c->done) continue;
      active++;
      if (c->peer.uid == client->peer.uid) activeOfUser++;
    }
    if (!PipeSlotFree(client->peer.uid, active, activeOfUser, options_)) {
      close(fd);  // turned away: the client sees the connection closed unanswered
      continue;
    }
    Client* raw = client.get();
    try {
      raw->thread = std::thread(&PipeServer::PipeClient, this, raw);
    } catch (const std::system_error&) {
      close(fd);
      continue;
    }
    clients_.push_back(std::move(client));
  }
  listening_ = false;
}

void PipeServer::PipeClient(Client* client) {
  uint8_t buffer[kPipeMessageMax];
  bool decided = false;
  bool mayWrite = false;
  const int fd = client->fd;  // stays open until this thread closes it below
  while (!stopping_) {
    ssize_t got;
    do {
      got = recv(fd, buffer, sizeof buffer, MSG_TRUNC);
    } while (got < 0 && errno == EINTR);
    // A failed read, a closed connection, the idle time running out and a
    // message longer than the buffer all end this client; nothing it sent is
    // trusted past that point.
    if (got <= 0 || static_cast<size_t>(got) > sizeof buffer) break;
    if (!decided) {
      WriteRight right = right_.Decide(client->peer);
      if (right == WriteRight::kFailed) break;
      mayWrite = right == WriteRight::kGranted;
      decided = true;
    }
    size_t reply;
    {
      std::lock_guard<std::mutex> lock(pipeLock_);
      reply = handler_.Handle(buffer, static_cast<size_t>(got), mayWrite);
    }
    // An empty message would read as a closed connection on the other side.
    if (reply == 0 || reply > sizeof buffer) break;
    ssize_t sent;
    do {
      sent = send(fd, buffer, reply, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(reply)) break;
  }
  std::lock_guard<std::mutex> lock(clientsMutex_);
  close(client->fd);
  client->fd = -1;
  client->done = true;
}

void PipeServer::Stop() {
  if (!started_) return;
  started_ = false;
  {
    std::lock_guard<std::mutex> lock(pauseMutex_);
    stopping_ = true;
  }
  pauseCv_.notify_all();
  if (listenFd_ >= 0) shutdown(listenFd_, SHUT_RDWR);  // wakes the blocked accept
  if (listener_.joinable()) listener_.join();
  {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    for (auto& c : clients_) {
      if (c->fd >= 0) shutdown(c->fd, SHUT_RDWR);  // wakes a blocked read
    }
  }
  std::list<std::unique_ptr<Client>> all;
  {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    all.swap(clients_);
  }
  for (auto& c : all) c->thread.join();
  if (listenFd_ >= 0) {
    close(listenFd_);
    listenFd_ = -1;
    // Remove the socket file only while it is still ours.
    struct stat st{};
    if (stat(path_.c_str(), &st) == 0 && st.st_ino == inode_) unlink(path_.c_str());
  }
  listening_ = false;
}

}  // namespace torvane
