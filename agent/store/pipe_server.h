// The query pipe's server transport: a SOCK_SEQPACKET Unix socket that any local
// user may connect to, one thread per connected client, one request at a time
// across all of them. What a request does is the handler's business; whether a
// client may change anything is decided once per connection by the write-right
// check, which tries a registry write under the client's identity.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/store/worker_interfaces.h"

namespace torvane {

// Turns the request held in `message` (`length` bytes received, the buffer holds
// kPipeMessageMax) into its reply, built in place; returns the reply's length
// (at least 4). Called with the pipe lock held.
class PipeRequestHandler {
 public:
  virtual ~PipeRequestHandler() = default;
  virtual size_t Handle(uint8_t* message, size_t length, bool mayWrite) = 0;
};

// Who is at the other end of a connection, as the kernel saw it at connect time.
struct PeerIdentity {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};
bool ReadPeerIdentity(int fd, PeerIdentity& out);

enum class WriteRight { kGranted, kDenied, kFailed };

// Decides a connection's write right on its first message. kFailed means the
// client's identity could not be taken on; the connection then ends unanswered.
class WriteRightCheck {
 public:
  virtual ~WriteRightCheck() = default;
  virtual WriteRight Decide(const PeerIdentity& peer) = 0;
};

// Runs `attempt` on the calling thread with the file-system identity of `peer`
// (its uid, gid and supplementary groups) and switches back. Only this thread's
// identity changes: the groups go through the raw system call, since the C
// library's setgroups changes every thread of the process. A peer with the
// process's own file-system uid needs no switch. kGranted when the attempt
// succeeded, kDenied when it failed, kFailed when the identity could not be
// taken on or given back.
WriteRight RunAsPeer(const PeerIdentity& peer, const std::function<bool()>& attempt);

// The write right as the agent decides it: a client may change things when it
// could write `attempt` (the registry value "Used") as itself.
class ImpersonatedWriteRight : public WriteRightCheck {
 public:
  explicit ImpersonatedWriteRight(std::function<bool()> attempt) : attempt_(std::move(attempt)) {}
  WriteRight Decide(const PeerIdentity& peer) override { return RunAsPeer(peer, attempt_); }

 private:
  std::function<bool()> attempt_;
};

// The listening socket at `path`. A file already there is taken for stale, and
// removed, only when a connect to it is refused; when an agent answers there it
// is left alone and this fails. The socket is made connectable by every local
// user. Returns the descriptor, or -1; `inode` receives the socket file's inode so
// that only our own file is removed at the end.
int CreateQueryPipe(const std::string& path, ino_t* inode);

struct PipeServerOptions {
  size_t maxClients = 255;
  // Of those, the last ones only root may take, so that the other users together
  // cannot lock root's clients out.
  size_t rootReserve = 32;
  // Connections that one user other than root may hold at once.
  size_t perUserMax = 16;
  // A connection that sends no request for this long is closed; its client opens
  // a new one when it has more to ask.
  std::chrono::milliseconds idleTimeout{30000};
  // Pause after a transient accept failure (out of descriptors or memory).
  std::chrono::milliseconds acceptRetry{100};
  // A client that leaves its replies unread this long is dropped.
  std::chrono::milliseconds sendTimeout{5000};
};

// Whether a new connection of `uid` may be served while `active` connections are,
// `activeOfUser` of them that user's.
bool PipeSlotFree(uid_t uid, size_t active, size_t activeOfUser, const PipeServerOptions& options);

class PipeServer : public PipeService {
 public:
  PipeServer(std::string path, PipeRequestHandler& handler, WriteRightCheck& right,
             PipeServerOptions options = {});
  ~PipeServer() override;
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Creates the socket and starts the listener thread; when the socket cannot be
  // created the listener ends at once (Listening() stays false).
  void Start() override;
  // Ends the listener and every client, joins their threads, removes the socket.
  void Stop() override;

  bool Listening() const { return listening_; }
  size_t ActiveClients() const;
  const std::string& Path() const { return path_; }

 private:
  struct Client {
    std::thread thread;
    int fd = -1;  // closed by the client thread under clientsMutex_
    PeerIdentity peer;
    std::atomic<bool> done{false};
  };

  void PipeListener();
  void PipeClient(Client* client);
  void ReapFinished();
  void PauseAfterFailure();

  std::string path_;
  PipeRequestHandler& handler_;
  WriteRightCheck& right_;
  PipeServerOptions options_;

  // One request at a time across all clients.
  std::mutex pipeLock_;

  int listenFd_ = -1;
  ino_t inode_ = 0;
  std::atomic<bool> listening_{false};
  std::atomic<bool> stopping_{false};
  bool started_ = false;
  std::thread listener_;

  mutable std::mutex clientsMutex_;
  std::list<std::unique_ptr<Client>> clients_;
  std::mutex pauseMutex_;
  std::condition_variable pauseCv_;
};

}  // namespace torvane
