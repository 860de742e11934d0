// The process-wide worker pool behind ParallelRows.
#include "platform/thread_pool.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>

namespace qrv {

namespace {

unsigned CountFromEnvironment() {
  if (const char* env = std::getenv("QRV_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(env, &end, 10);
    if (end != env && *end == '\0' && n >= 1) return static_cast<unsigned>(std::min(n, 256L));
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n >= 1) return static_cast<unsigned>(std::min(n, 256));
  }
  const unsigned hw = std::thread::hardware_concurrency();
  return hw ? std::min(hw, 256u) : 1u;
}

// True on a thread while it runs a band: calls it makes run inline.
thread_local bool t_inBand = false;

class BandFlag {
 public:
  BandFlag() : old_(t_inBand) { t_inBand = true; }
  ~BandFlag() { t_inBand = old_; }

 private:
  bool old_;
};

// One call's bands: participants take band numbers from `next` until none is left.
struct Job {
  const std::function<void(uint32_t, uint32_t)>* fn = nullptr;
  uint32_t rows = 0, bandRows = 0, bands = 0;
  std::atomic<uint32_t> next{0};
  std::atomic<uint32_t> done{0};
  std::mutex errorLock;
  std::exception_ptr error;

  // Runs bands until none is left; true when this participant finished the last one.
  bool Work() {
    BandFlag flag;
    bool last = false;
    for (uint32_t b; (b = next.fetch_add(1)) < bands;) {
      const uint32_t y0 = b * bandRows;
      const uint32_t y1 = static_cast<uint32_t>(std::min<uint64_t>(rows, uint64_t(y0) + bandRows));
      try {
        (*fn)(y0, y1);
      } catch (...) {
        std::lock_guard<std::mutex> lock(errorLock);
        if (!error) error = std::current_exception();
      }
      last = done.fetch_add(1) + 1 == bands;
    }
    return last;
  }
};

class Pool {
 public:
  static Pool& Get() {
    // Never destroyed: workers may still be parked when static destructors run.
    static Pool* pool = new Pool();
    return *pool;
  }

  unsigned Count() const {
    const unsigned forced = forced_.load();
    return forced ? forced : count_;
  }
  void Force(unsigned n) { forced_.store(n); }

  // Runs `job` with up to `helpers` workers; false when the pool is busy with another call.
  bool Run(Job& job, unsigned helpers) {
    std::unique_lock<std::mutex> busy(runLock_, std::try_to_lock);
    if (!busy.owns_lock()) return false;
    helpers = StartWorkers(helpers);
    {
      std::lock_guard<std::mutex> lock(lock_);
      job_ = &job;
      wanted_ = helpers;
      ++generation_;
    }
    wake_.notify_all();
    job.Work();
    std::unique_lock<std::mutex> lock(lock_);
    // Every worker that joined must have left before the job goes out of scope.
    finished_.wait(lock, [&] { return job.done.load() == job.bands && active_ == 0; });
    job_ = nullptr;
    wanted_ = 0;
    return true;
  }

 private:
  Pool() : count_(CountFromEnvironment()) {}

  // Starts workers up to n; the count there is (fewer when the system refuses more threads).
  unsigned StartWorkers(unsigned n) {
    try {
      while (started_ < n) {
        std::thread([this] { Loop(); }).detach();  // parked for good between jobs
        ++started_;
      }
    } catch (const std::exception&) {
      // Work with the threads there are; the caller works on every band that is left.
    }
    return std::min(n, started_);
  }

  void Loop() {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
      wake_.wait(lock, [&] { return generation_ != seen && job_ && wanted_ > 0; });
      seen = generation_;
      --wanted_;
      ++active_;
      Job* job = job_;
      lock.unlock();
      job->Work();
      lock.lock();
      --active_;
      finished_.notify_all();
    }
  }

  const unsigned count_;
  std::atomic<unsigned> forced_{0};
  std::mutex runLock_;  // one call at a time uses the workers
  std::mutex lock_;
  std::condition_variable wake_, finished_;
  unsigned started_ = 0;  // workers running (touched only under runLock_)
  Job* job_ = nullptr;
  unsigned wanted_ = 0, active_ = 0;
  uint64_t generation_ = 0;
};

}  // namespace

unsigned ThreadCount() { return Pool::Get().Count(); }

void SetThreadCountForTesting(unsigned count) { Pool::Get().Force(std::min(count, 256u)); }

void ParallelRows(uint32_t rows, uint32_t minRows, const std::function<void(uint32_t, uint32_t)>& fn) {
  if (rows == 0) return;
  minRows = std::max<uint32_t>(minRows, 1);
  const unsigned threads = ThreadCount();
  if (threads <= 1 || t_inBand || rows < 2 * uint64_t(minRows)) {
    BandFlag flag;
    fn(0, rows);
    return;
  }
  // About four bands per thread, so that uneven bands and busy cores even out.
  const uint64_t wantedBands = uint64_t(threads) * 4;
  uint32_t bandRows = static_cast<uint32_t>(std::max<uint64_t>(minRows, (rows + wantedBands - 1) / wantedBands));
  Job job;
  job.fn = &fn;
  job.rows = rows;
  job.bandRows = bandRows;
  job.bands = static_cast<uint32_t>((uint64_t(rows) + bandRows - 1) / bandRows);
  const unsigned helpers = static_cast<unsigned>(std::min<uint64_t>(threads - 1, job.bands - 1));
  if (!Pool::Get().Run(job, helpers)) job.Work();  // the pool serves another call: work alone
  if (job.error) std::rethrow_exception(job.error);
}

}  // namespace qrv
