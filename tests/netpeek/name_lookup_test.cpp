// ctest-labels: unit;threaded
// The name lookups of the TCP and UDP views: results reach the model only on the
// model's thread (here the test's, draining what the pool posts) and only while
// the fill they were asked for is shown; the same address is looked up once; the
// wait before saving is bounded; closures that outlive the pool do nothing.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "netpeek/name_lookup.h"

namespace torvane::netpeek {
namespace {

using namespace std::chrono_literals;

uint32_t Address(const char* dotted) {
  in_addr a{};
  EXPECT_EQ(::inet_pton(AF_INET, dotted, &a), 1);
  return a.s_addr;
}

// What the pool posts, run when the model's thread drains it.
class PostQueue {
 public:
  std::function<void(std::function<void()>)> post() {
    return [this](std::function<void()> f) {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(f));
    };
  }
  size_t drain() {
    std::vector<std::function<void()>> ready;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ready.swap(queue_);
    }
    for (auto& f : ready) f();
    return ready.size();
  }

 private:
  std::mutex mutex_;
  std::vector<std::function<void()>> queue_;
};

// A resolver that names 10.0.0.x "host-x" and holds every lookup until opened.
class GatedResolver {
 public:
  NameLookupPool::Resolver resolver() {
    return [this](uint32_t address) -> std::optional<std::string> {
      ++calls;
      std::unique_lock<std::mutex> lock(mutex_);
      ++waiting_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return open_; });
      --waiting_;
      const auto* b = reinterpret_cast<const uint8_t*>(&address);
      if (b[0] != 10) return std::nullopt;
      return "host-" + std::to_string(b[3]);
    };
  }
  void open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool wait_for_waiting(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return waiting_ >= n; });
  }
  std::atomic<int> calls{0};

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int waiting_ = 0;
};

ReportModel ModelWithRows(size_t rows) {
  ReportModel m;
  for (size_t r = 0; r < rows; ++r) {
    m.add_row("tcp");
    m.set_cell(r, 1, "10.0.0." + std::to_string(r));
  }
  return m;
}

TEST(NameLookupPool, AppliesOnlyResultsOfTheFillShown) {
  ReportModel model = ModelWithRows(4);
  PostQueue queue;
  GatedResolver gate;
  {
    NameLookupPool pool(model, queue.post(), 2, gate.resolver());
    pool.begin_fill(1);
    pool.request(1, 0, 1, Address("10.0.0.1"));
    pool.request(1, 1, 1, Address("10.0.0.2"));
    pool.request(1, 2, 1, Address("10.0.0.3"));  // still queued when the next fill begins
    ASSERT_TRUE(gate.wait_for_waiting(2));      // two are being looked up
    pool.begin_fill(2);
    pool.request(2, 3, 1, Address("10.0.0.4"));
    gate.open();
    ASSERT_TRUE(pool.wait_idle(5s));
    queue.drain();
    EXPECT_EQ(pool.lookups_done(), 3u);  // the queued one of fill 1 was dropped unasked
  }
  EXPECT_EQ(model.cell(0, 1), "10.0.0.0");
  EXPECT_EQ(model.cell(1, 1), "10.0.0.1");
  EXPECT_EQ(model.cell(2, 1), "10.0.0.2");
  EXPECT_EQ(model.cell(3, 1), "host-4");
  EXPECT_EQ(gate.calls, 3);
}

TEST(NameLookupPool, LooksUpEachAddressOnceAndLeavesUnnamedCells) {
  ReportModel model = ModelWithRows(40);
  PostQueue queue;
  GatedResolver gate;
  gate.open();
  NameLookupPool pool(model, queue.post(), 1, gate.resolver());
  pool.begin_fill(5);
  for (size_t r = 0; r < 30; ++r) pool.request(5, r, 1, Address("10.0.0.9"));
  for (size_t r = 30; r < 40; ++r) pool.request(5, r, 1, Address("192.0.2.1"));  // has no name
  ASSERT_TRUE(pool.wait_idle(5s));
  EXPECT_EQ(queue.drain(), 30u);
  EXPECT_EQ(gate.calls, 2);
  for (size_t r = 0; r < 30; ++r) EXPECT_EQ(model.cell(r, 1), "host-9") << r;
  for (size_t r = 30; r < 40; ++r) EXPECT_EQ(model.cell(r, 1), "10.0.0." + std::to_string(r)) << r;
}

TEST(NameLookupPool, WaitIsBoundedAndClosuresOutlivingThePoolDoNothing) {
  ReportModel model = ModelWithRows(1);
  PostQueue queue;
  GatedResolver gate;
  {
    NameLookupPool pool(model, queue.post(), 1, gate.resolver());
    pool.begin_fill(1);
    pool.request(1, 0, 1, Address("10.0.0.7"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(pool.wait_idle(100ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    gate.open();
    ASSERT_TRUE(pool.wait_idle(5s));
  }
  // The pool is gone with its result still queued.
  EXPECT_EQ(queue.drain(), 1u);
  EXPECT_EQ(model.cell(0, 1), "10.0.0.0");
}

// Fills follow one another while lookups of earlier fills are still under way:
// at the end only the last fill's names are in the model, each in its own cell.
TEST(NameLookupPool, RefillsUnderLoad) {
  constexpr size_t kRows = 64;
  ReportModel model = ModelWithRows(kRows);
  PostQueue queue;
  NameLookupPool pool(
      model, queue.post(), 4, [](uint32_t address) -> std::optional<std::string> {
        const auto* b = reinterpret_cast<const uint8_t*>(&address);
        return "g" + std::to_string(b[2]) + "-" + std::to_string(b[3]);
      });
  for (uint64_t fill = 1; fill <= 20; ++fill) {
    pool.begin_fill(fill);
    for (size_t r = 0; r < kRows; ++r) {
      model.set_cell(r, 1, "?");
      std::string dotted = "10.0." + std::to_string(fill) + "." + std::to_string(r);
      pool.request(fill, r, 1, Address(dotted.c_str()));
    }
    queue.drain();  // some results of this fill and earlier ones
  }
  ASSERT_TRUE(pool.wait_idle(10s));
  queue.drain();
  for (size_t r = 0; r < kRows; ++r) EXPECT_EQ(model.cell(r, 1), "g20-" + std::to_string(r)) << r;
}

TEST(NameLookup, SystemLookups) {
  // /etc/hosts names the loopback address.
  std::optional<std::string> name = lookup_host_name(Address("127.0.0.1"));
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(*name, "localhost");
  EXPECT_EQ(service_name(22), "ssh");
  EXPECT_EQ(service_name(161), "snmp");
  EXPECT_EQ(service_name(0), "");
}

}  // namespace
}  // namespace torvane::netpeek
