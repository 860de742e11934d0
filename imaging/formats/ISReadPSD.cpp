// ISReadPSD: the flattened image of a Photoshop file as R, G, B (A) rows, palette indices or a
// packed DIB as stored; flags bit 2 keeps CMYK channels. Errors: 1, 3, 5, 14, 38, 46, 47.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/PSDFormat.h"

namespace {

// Sets the thread's allocation callbacks aside, so the reader's blocks come from global
// memory, and puts them back on the way out.
class AllocCallbacksAside {
 public:
  explicit AllocCallbacksAside(ISThreadState& ts)
      : ts_(ts), alloc_(ts.allocCallback), realloc_(ts.reallocCallback), free_(ts.freeCallback) {
    ts.allocCallback = nullptr;
    ts.reallocCallback = nullptr;
    ts.freeCallback = nullptr;
  }
  ~AllocCallbacksAside() {
    ts_.allocCallback = alloc_;
    ts_.reallocCallback = realloc_;
    ts_.freeCallback = free_;
  }
  AllocCallbacksAside(const AllocCallbacksAside&) = delete;
  AllocCallbacksAside& operator=(const AllocCallbacksAside&) = delete;

 private:
  ISThreadState& ts_;
  ISAllocCallback alloc_;
  ISReAllocCallback realloc_;
  ISFreeCallback free_;
};

}  // namespace

extern "C" HGLOBAL ISReadPSD(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette,
                             DWORD flags) {
  return ISRunReader(source, [&](CISIO& io, ISErrorCode& error, ISThreadState& ts) -> HGLOBAL {
    AllocCallbacksAside aside(ts);
    if (flags & IS_READ_AS_STORED) return ReadPSDAsStored(io, error, width, height, flags);
    if (bits == 8) return ReadPSD8(io, error, width, height, palette);
    if (bits == 24 || bits == 32) return ReadPSDRGB(io, error, width, height, bits, flags);
    error = IS_ERR_BADPARAM;
    return nullptr;
  });
}
