// The names of addresses and ports that the TCP and UDP views show. Host names
// are looked up off the model's thread, on a small fixed pool of threads with
// getnameinfo (gethostbyaddr keeps one buffer for all threads); each result goes
// back, through a closure that the caller's post runs on the model's thread, to
// the cell it was asked for, and only while the fill it was asked for is still
// the one shown.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "netpeek/report_model.h"

namespace torvane::netpeek {

class NameLookups {
 public:
  virtual ~NameLookups();
  // Asks for the name of an address (4 bytes in network order) to be put into
  // the cell (row, column) of the fill `generation`.
  virtual void request(uint64_t generation, size_t row, size_t column, uint32_t address_network_order) = 0;
};

class NameLookupPool : public NameLookups {
 public:
  // Resolves an address (network order) to a host name; nullopt when it has none.
  using Resolver = std::function<std::optional<std::string>(uint32_t address_network_order)>;
  // post runs a closure on the model's thread (the window: a queued call; batch
  // mode: a queue it drains). Without a resolver, getnameinfo with NI_NAMEREQD.
  NameLookupPool(ReportModel& model, std::function<void(std::function<void()>)> post, size_t threads = 4,
                 Resolver resolver = {});
  ~NameLookupPool() override;
  NameLookupPool(const NameLookupPool&) = delete;
  NameLookupPool& operator=(const NameLookupPool&) = delete;

  // On the model's thread, before a view fills the model: from now on only the
  // results of this fill are applied; those still waiting for other fills are
  // dropped.
  void begin_fill(uint64_t generation);
  void request(uint64_t generation, size_t row, size_t column, uint32_t address_network_order) override;
  // Waits until every request has been looked up and its result posted (at most
  // limit); true when nothing is left.
  bool wait_idle(std::chrono::milliseconds limit);

  // Looked-up addresses, for tests and traces.
  size_t lookups_done() const;

 private:
  struct Job {
    uint64_t generation;
    size_t row;
    size_t column;
    uint32_t address;
  };
  // What the posted closures share with the pool: they may run after it has gone.
  struct Shown {
    std::atomic<uint64_t> generation{0};
  };
  void Work();

  ReportModel& model_;
  std::function<void(std::function<void()>)> post_;
  Resolver resolver_;
  std::shared_ptr<Shown> shown_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Job> jobs_;
  size_t busy_ = 0;
  bool quit_ = false;
  size_t done_ = 0;
  // Every address looked up, with its name or none: the same address fills many
  // rows of a view and every refill asks again.
  std::unordered_map<uint32_t, std::optional<std::string>> names_;
  std::vector<std::thread> threads_;
};

// A host name by getnameinfo (NI_NAMEREQD); nullopt when there is none.
std::optional<std::string> lookup_host_name(uint32_t address_network_order);
// The service name of a port (any protocol), as getservbyport finds it in the
// services database; "" when it has none.
std::string service_name(uint16_t port);

}  // namespace torvane::netpeek
