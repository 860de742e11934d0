// The glue between CISIO streams and libtiff: the client procedures, the per-handle reading
// state, the tag extender and the open and close calls that the TIFF reader and writer share.
#pragma once

#include <cstdint>

#include <tiffio.h>

#include "imaging/core/CISIO.h"

// Progress hook of the RGBA reading: (row, rows, user word) -> non-zero to abort.
using TIFFProgressHook = int (*)(uint32_t row, uint32_t rows, uintptr_t user);

// What the RGBA reading consults for one open TIFF handle.
struct TIFFReadState {
  TIFFProgressHook progress = nullptr;
  uintptr_t user = 0;
  ISErrorCode error = IS_ERR_OK;  // 14 when the hook aborted a read
  int32_t alphaOverride = -1;     // -1: no override of an unspecified extra sample
  bool rawCMYK = false;           // 8-bit separated pages packed unconverted
  bool allocationRefused = false; // libtiff refused an allocation over the handle's limit
};

// The client data of every TIFF handle: libtiff reads and writes through its own copy of the
// caller's stream, and the reading state lives beside it.
struct TIFFClientData {
  explicit TIFFClientData(const CISIO& stream) : io(stream) {}
  CISIO io;
  TIFFReadState state;
  // The most libtiff, and a codec library behind it, may allocate at once for this handle.
  uint64_t memoryLimit = 0;
  // The last byte of the strip or tile decoded last through this handle (0 before the first),
  // from which the strip decoder picks the byte it lays before the next.
  uint8_t lastStripEnd = 0;
  // libtiff's messages about the pixel data of this handle so far: a decoder that says a row
  // went wrong says so before it gives the row.
  uint64_t messages = 0;
  // The row libtiff's JPEG codec was at when libjpeg first warned of its data (the data ended,
  // a marker met inside them) since the strip decoder last set it to UINT32_MAX.
  uint32_t libjpegWarnedAt = UINT32_MAX;
};

// Largest single allocation libtiff may make for one handle: the library's own limit.
constexpr tmsize_t kTIFFMaxSingleAlloc = 0x7FFDEFFF;

// The most libtiff may allocate at once while it reads the directories of `stream`: what the
// decode budget could allow any read of a file of that size (see ISDecodeBudget.h).
uint64_t TIFFDirectoryAllocLimit(CISIO& stream);

// Installs the extender of tags 34665 and 32932 once per process, chained to the previous one.
void InstallTIFFTagExtender();

// Opens a TIFF over a copy of `stream` in `mode` ("r", "wW" or "a"), where libtiff allocates at
// most `maxSingleAlloc` bytes at once; null when libtiff refuses. libtiff's errors and warnings
// go to the silent trace; those about the pixels, and a refused allocation, are kept for
// ISGetLastWarning.
// Selects page `page` (from 0) of an open file; on failure leaves the reason for
// ISGetLastWarning and error 20 (an allocation refused) or 11 (no such page, or one that cannot
// be read).
bool SelectTIFFPage(ISErrorCode& error, TIFF* tif, DWORD page);
TIFF* OpenTIFFClient(const CISIO& stream, const char* mode, uint64_t maxSingleAlloc = kTIFFMaxSingleAlloc);
// TIFFClose, then the client data freed; the caller's stream stays open.
void CloseTIFFClient(TIFF* tif);

TIFFClientData* TIFFClientOf(TIFF* tif);

// Closes a TIFF handle when it leaves scope.
class TIFFHandleHolder {
 public:
  explicit TIFFHandleHolder(TIFF* tif) : tif_(tif) {}
  TIFFHandleHolder(const TIFFHandleHolder&) = delete;
  TIFFHandleHolder& operator=(const TIFFHandleHolder&) = delete;
  ~TIFFHandleHolder() {
    if (tif_) CloseTIFFClient(tif_);
  }
  TIFF* Get() const { return tif_; }
  // Closes now; later calls do nothing.
  void Close() {
    if (tif_) CloseTIFFClient(tif_);
    tif_ = nullptr;
  }
  // Closes the handle held and holds `tif` instead.
  void Reset(TIFF* tif) {
    Close();
    tif_ = tif;
  }

 private:
  TIFF* tif_;
};

// The library's diagnostic trace: shows nothing.
inline void TIFFTrace(const char*, ...) {}
