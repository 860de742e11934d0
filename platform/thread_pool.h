// One process-wide pool of worker threads that the heavy pixel operations share. Work is split
// into bands of rows; the calling thread works on bands too and returns when every band is done.
// Results never depend on how many threads there are: each band writes only its own rows.
#pragma once

#include <cstdint>
#include <functional>

namespace qrv {

// How many threads the heavy operations share: QRV_THREADS=N when it is set to a whole number
// of 1 or more (at most 256 are used), else the cores the process may run on. Read once.
unsigned ThreadCount();

// Runs fn(y0, y1) over bands [y0, y1) that together cover [0, rows) exactly once, each of at
// least minRows rows (the last may be shorter), and returns when all are done. A call made while
// the pool is already running bands (from inside a band, or from another thread) runs its bands
// on the calling thread. An exception thrown by fn is caught in the thread that ran the band;
// the first one is thrown again from ParallelRows once every band has ended.
void ParallelRows(uint32_t rows, uint32_t minRows, const std::function<void(uint32_t y0, uint32_t y1)>& fn);

// The thread count as ParallelRows sees it, for tests that compare results across counts:
// 0 goes back to the count of ThreadCount().
void SetThreadCountForTesting(unsigned count);

// Holds the test thread count for as long as it lives, then gives the pool its own back.
class ScopedThreadCount {
 public:
  explicit ScopedThreadCount(unsigned count) { SetThreadCountForTesting(count); }
  ~ScopedThreadCount() { SetThreadCountForTesting(0); }
  ScopedThreadCount(const ScopedThreadCount&) = delete;
  ScopedThreadCount& operator=(const ScopedThreadCount&) = delete;
};

}  // namespace qrv
