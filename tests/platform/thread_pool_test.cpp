#include "platform/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(ThreadPool, BandsCoverEveryRowOnceWithTheirMinimum) {
  struct Case {
    unsigned threads;
    uint32_t rows, minRows;
  };
  for (const Case& c : {Case{1, 100, 1}, Case{3, 1, 1}, Case{8, 1001, 7}, Case{8, 13, 7}, Case{2, 64, 64},
                        Case{5, 997, 1}}) {
    qrv::ScopedThreadCount forced(c.threads);
    std::vector<std::atomic<int>> hits(c.rows);
    std::atomic<int> shortBands{0};
    qrv::ParallelRows(c.rows, c.minRows, [&](uint32_t y0, uint32_t y1) {
      ASSERT_LT(y0, y1);
      if (y1 - y0 < c.minRows && y1 != c.rows) ++shortBands;
      for (uint32_t y = y0; y < y1; ++y) ++hits[y];
    });
    for (uint32_t y = 0; y < c.rows; ++y) ASSERT_EQ(hits[y], 1) << c.threads << " threads, row " << y;
    EXPECT_EQ(shortBands, 0);
  }
}

TEST(ThreadPool, SharesWorkNestsInlineAndCarriesExceptionsBack) {
  qrv::ScopedThreadCount forced(4);
  EXPECT_EQ(qrv::ThreadCount(), 4u);
  std::mutex lock;
  std::set<std::thread::id> ids;
  std::atomic<int> inner{0};
  qrv::ParallelRows(4000, 1, [&](uint32_t y0, uint32_t y1) {
    {
      std::lock_guard<std::mutex> g(lock);
      ids.insert(std::this_thread::get_id());
    }
    // A call from inside a band runs in one piece on the same thread.
    const std::thread::id self = std::this_thread::get_id();
    qrv::ParallelRows(y1 - y0 + 50, 1, [&](uint32_t a, uint32_t b) {
      EXPECT_EQ(std::this_thread::get_id(), self);
      EXPECT_EQ(a, 0u);
      EXPECT_EQ(b, y1 - y0 + 50);
      ++inner;
    });
    // Each band waits (a while at most) for a second thread to have taken a band, so that the
    // caller cannot finish every band alone before the workers wake on a busy machine.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      {
        std::lock_guard<std::mutex> g(lock);
        if (ids.size() > 1) break;
      }
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::yield();
    }
  });
  EXPECT_GT(ids.size(), 1u);
  EXPECT_GT(inner.load(), 1);
  EXPECT_THROW(qrv::ParallelRows(100, 1,
                                 [](uint32_t y0, uint32_t) {
                                   if (y0 > 0) throw std::runtime_error("band");
                                 }),
               std::runtime_error);
  // The pool still works after a band threw, also from two threads at once.
  std::atomic<uint64_t> sum{0};
  auto work = [&] {
    qrv::ParallelRows(1000, 1, [&](uint32_t y0, uint32_t y1) {
      for (uint32_t y = y0; y < y1; ++y) sum += y;
    });
  };
  std::thread other(work);
  work();
  other.join();
  EXPECT_EQ(sum.load(), 2u * 999u * 1000u / 2u);
}
