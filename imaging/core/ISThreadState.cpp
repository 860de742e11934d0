// Per-thread records and the process-wide list that owns them.
#include "imaging/core/ISThreadState.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace {

struct RecordNode {
  RecordNode* next;
  RecordNode* prev;
  ISThreadState* record;
};

// Owns every record; built by constant initialisation, so a library call made during another
// static initialiser still finds it. After tear-down no record is handed out any more.
class ISThreadStateSlot {
 public:
  constexpr ISThreadStateSlot() = default;
  ~ISThreadStateSlot() {
    alive_.store(false);
    std::lock_guard<std::mutex> lock(mutex_);
    RecordNode* n = head_;
    while (n) {
      RecordNode* next = n->next;
      delete n->record;
      delete n;
      n = next;
    }
    head_ = nullptr;
    count_ = 0;
  }

  bool Alive() const { return alive_.load(std::memory_order_acquire); }

  RecordNode* Add(ISThreadState* record) {
    RecordNode* node = new (std::nothrow) RecordNode{nullptr, nullptr, record};
    if (!node) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Alive()) {
      delete node;
      return nullptr;
    }
    node->next = head_;
    if (head_) head_->prev = node;
    head_ = node;
    ++count_;
    return node;
  }

  void Remove(RecordNode* node) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Alive()) return;  // tear-down already freed it
    if (node->prev) node->prev->next = node->next;
    else head_ = node->next;
    if (node->next) node->next->prev = node->prev;
    --count_;
    delete node->record;
    delete node;
  }

  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  RecordNode* head_ = nullptr;
  size_t count_ = 0;
  std::atomic<bool> alive_{true};
};

ISThreadStateSlot g_slot;

// The thread's record; freed when the thread ends (or with the slot at process exit).
struct ThreadRecordHolder {
  RecordNode* node = nullptr;
  ~ThreadRecordHolder() {
    if (node) g_slot.Remove(node);
  }
};
thread_local ThreadRecordHolder t_holder;

}  // namespace

ISThreadState* GetThreadState() {
  if (!g_slot.Alive()) return nullptr;
  if (t_holder.node) return t_holder.node->record;
  ISThreadState* record = new (std::nothrow) ISThreadState();
  if (!record) return nullptr;
  RecordNode* node = g_slot.Add(record);
  if (!node) {
    delete record;
    return nullptr;
  }
  t_holder.node = node;
  return record;
}

size_t ThreadStateRecordCount() { return g_slot.Count(); }

void SetLastErrorCode(ISErrorCode code) {
  if (ISThreadState* ts = GetThreadState()) ts->lastError = code;
}

void SetLastWarning(const char* text) {
  ISThreadState* ts = GetThreadState();
  if (!ts || !ts->lastWarning.empty() || !text) return;
  try {
    std::string warning(text, strnlen(text, kMaxWarningText));
    while (!warning.empty() && (warning.back() == '\n' || warning.back() == ' ')) warning.pop_back();
    ts->lastWarning = warning.empty() ? "warning" : warning;
  } catch (...) {
  }
}

void ReplaceLastWarning(const char* text) {
  if (ISThreadState* ts = GetThreadState()) {
    ts->lastWarning.clear();
    SetLastWarning(text);
  }
}

void WarnEndedEarly(const char* format, uint64_t decoded, uint64_t total, const char* units) {
  char text[128];
  std::snprintf(text, sizeof text, "%s file ended early: %" PRIu64 " of %" PRIu64 " %s decoded", format, decoded,
                total, units);
  SetLastWarning(text);
}

void EnterLibraryCall() {
  if (ISThreadState* ts = GetThreadState()) ++ts->callDepth;
}

void LeaveLibraryCall() {
  if (ISThreadState* ts = GetThreadState()) --ts->callDepth;
}

bool ReportProgress(DWORD done, DWORD total, bool stopOnNegative) {
  ISThreadState* ts = GetThreadState();
  if (!ts || ts->callDepth != 1 || !ts->progressCallback) return true;
  BOOL reply = ts->progressCallback(done, total, ts->progressUser);
  return !(reply == 0 || (stopOnNegative && reply < 0));
}

HGLOBAL SafeGlobalAlloc(uint64_t n) {
  if (n >= kGlobalAllocLimit) return nullptr;
  return GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, n);
}

HGLOBAL SafeGlobalReAlloc(HGLOBAL block, uint64_t n) {
  if (n >= kGlobalAllocLimit) return nullptr;
  return GlobalReAlloc(block, n, GMEM_MOVEABLE);
}

const uint8_t* ProductTable() {
  struct Table {
    uint8_t p[65536];
    Table() {
      for (int b = 0; b < 256; ++b)
        for (int a = 0; a < 256; ++a) p[b * 256 + a] = static_cast<uint8_t>(a * (b / 255.0));
    }
  };
  static const Table table;
  return table.p;
}
