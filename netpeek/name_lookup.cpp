#include "netpeek/name_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace torvane::netpeek {

NameLookups::~NameLookups() = default;

std::optional<std::string> lookup_host_name(uint32_t address_network_order) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address_network_order;
  char host[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof a, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
    return std::nullopt;
  return std::string(host);
}

std::string service_name(uint16_t port) {
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (::getservbyport_r(htons(port), nullptr, &entry, buffer, sizeof buffer, &found) != 0 || !found ||
      !found->s_name)
    return {};
  return found->s_name;
}

NameLookupPool::NameLookupPool(ReportModel& model, std::function<void(std::function<void()>)> post, size_t threads,
                               Resolver resolver)
    : model_(model),
      post_(std::move(post)),
      resolver_(resolver ? std::move(resolver) : Resolver(lookup_host_name)),
      shown_(std::make_shared<Shown>()) {
  if (threads == 0) threads = 1;
  threads_.reserve(threads);
  for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

NameLookupPool::~NameLookupPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  // A lookup under way ends by its resolver's own time-out.
  for (std::thread& t : threads_) t.join();
}

void NameLookupPool::begin_fill(uint64_t generation) {
  shown_->generation.store(generation);
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(jobs_, [generation](const Job& j) { return j.generation != generation; });
  if (jobs_.empty() && busy_ == 0) idle_.notify_all();
}

void NameLookupPool::request(uint64_t generation, size_t row, size_t column, uint32_t address_network_order) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return;
    jobs_.push_back({generation, row, column, address_network_order});
  }
  wake_.notify_one();
}

bool NameLookupPool::wait_idle(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, limit, [this] { return jobs_.empty() && busy_ == 0; });
}

size_t NameLookupPool::lookups_done() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

void NameLookupPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
    if (quit_) return;
    Job job = jobs_.front();
    jobs_.pop_front();
    if (job.generation != shown_->generation.load()) {
      if (jobs_.empty() && busy_ == 0) idle_.notify_all();
      continue;  // asked for a fill that is no longer shown
    }
    ++busy_;
    std::optional<std::string> name;
    auto known = names_.find(job.address);
    if (known != names_.end()) {
      name = known->second;
    } else {
      lock.unlock();
      name = resolver_(job.address);
      lock.lock();
      names_.emplace(job.address, name);
      ++done_;
    }
    if (name) {
      lock.unlock();
      std::weak_ptr<Shown> shown = shown_;
      ReportModel* model = &model_;
      post_([shown, model, job, text = std::move(*name)]() mutable {
        // Runs on the model's thread: the pool (and with it the model's owner's
        // promise that the model lives) may have gone, or another fill begun.
        std::shared_ptr<Shown> s = shown.lock();
        if (s && s->generation.load() == job.generation) model->set_cell(job.row, job.column, std::move(text));
      });
      lock.lock();
    }
    --busy_;
    if (jobs_.empty() && busy_ == 0) idle_.notify_all();
  }
}

}  // namespace torvane::netpeek
