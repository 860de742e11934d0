// The TIFF page reader behind ISReadTIFF and ISGetTIFFInfo: the page's fields, the four
// readers (bilevel, 8-bit palette, 16-bit grey, true colour), the orientation step and the
// final layout of the caller's block (packed rows or a packed DIB).
#pragma once

#include <cstdint>

#include <tiffio.h>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISContainers.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/tiff/TIFFClient.h"

// Read flags (the last argument of ISReadTIFF).
enum : DWORD {
  kTIFFIgnoreOrientation = 1,
  kTIFFAsStored = 2,
  kTIFFRawCMYK = 4,
  kTIFFBilevelTopFirst = 8,
  kTIFF16TopFirst = 16,
  kTIFF16PadRows = 32,
};

// The fields of the selected directory that the readers decide by.
struct TIFFPageInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bitsPerSample = 1;
  uint16_t samplesPerPixel = 1;
  uint16_t extraSamples = 0;
  bool hasPhotometric = false;
  uint16_t photometric = 0;
  bool hasColorMap = false;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint16_t compression = COMPRESSION_NONE;
  uint16_t orientation = ORIENTATION_TOPLEFT;
  bool tiled = false;
};
TIFFPageInfo GetTIFFPageInfo(TIFF* tif);
// Keeps the colour profile, IPTC record and XMP packet of the directory at that offset for
// ISGetReadMetadata (TIFFMetadataTags.cpp).
void KeepTIFFMetadataTags(CISIO& source, uint64_t directory, bool bigEndian, bool bigTiff);

// One page being read: its handle, fields, flags and the resolution for a DIB header.
struct TIFFPageRead {
  TIFF* tif = nullptr;
  TIFFPageInfo info;
  DWORD flags = 0;
  // Orientation the step applies: 1 when flag bit 0 (or a reader's own rule) says so.
  uint32_t Orientation() const { return (flags & kTIFFIgnoreOrientation) ? 1u : info.orientation; }
};

// The working picture of a reader: packed rows (no padding) of 1, 8, 16, 24 or 32 bits per
// pixel, bottom row first once the reader has laid it out.
struct TIFFPicture {
  ISArray<uint8_t> pixels;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits = 0;
  uint64_t RowBytes() const { return bits == 1 ? (uint64_t{width} + 7) / 8 : uint64_t{width} * (bits / 8); }
  // Zeroed storage for width x height; false when the size is not one the library allocates.
  bool Allocate(uint32_t w, uint32_t h, uint32_t b);
};

// The orientation step over a bottom-up picture: the turn, flip and mirror of the page's
// Orientation value; with `dib` the flip is inverted so that the rows stay bottom row first.
bool OrientTIFFPicture(ISErrorCode& error, TIFFPicture& picture, uint32_t orientation, bool dib);

// The caller's block: packed rows (or 16-bit rows padded to 4 bytes with `padRows`), or, with
// `dib`, a packed DIB with the colour table `palette` (count entries) and the page's
// resolution in pixels per metre. On success *width and *height get the picture's size; null
// with error 1 when the block cannot be allocated.
void* FinishTIFFPicture(ISErrorCode& error, TIFF* tif, const TIFFPicture& picture, bool dib, bool padRows,
                        const RGBQUAD* palette, uint32_t paletteCount, uint32_t* width, uint32_t* height);

// The readers: each returns the caller's block or null with `error` set.
void* ReadTIFFBilevel(ISErrorCode& error, TIFFPageRead& page, RGBQUAD* palette, uint32_t* width, uint32_t* height);
void* ReadTIFFPalette(ISErrorCode& error, TIFFPageRead& page, RGBQUAD* palette, uint32_t* width, uint32_t* height);
void* ReadTIFF16(ISErrorCode& error, TIFFPageRead& page, uint32_t* width, uint32_t* height);
void* ReadTIFFTrueColor(ISErrorCode& error, TIFFPageRead& page, uint32_t bits, uint32_t* width, uint32_t* height);

// Asks the decode budget whether the selected page may be read from the strips or tiles of the
// planes `planes` (plane 0 alone for a contiguous page). The area judged is what the read
// decodes and buffers: whole tiles (tile size times tiles, not the part inside the picture),
// or the picture's rows for strips. The data are the stored bytes those strips or tiles use,
// bytes that several of them share counted once; each strip or tile can give no more than its
// bytes times the greatest expansion of the page's compression, and all of them together no
// more than their bytes would; codecs that nothing bounds get the budget's ceiling. One strip or
// tile decoded must also fit the memory the page is given. On success *memory is that memory,
// the most libtiff may allocate at once for the page. A refusal leaves its reason for
// ISGetLastWarning; the readers allocate nothing for a page that fails this.
bool TIFFPageWithinBudget(TIFF* tif, const TIFFPageInfo& info, const uint16_t* planes, uint32_t planeCount,
                          uint64_t* memory);

// Where the stored bytes of strip or tile `index` lie and how many of them a read uses: those
// the file holds (cut at its end, `cut` then set), and no more than ten times the
// `decodedBytes` they decode to and 4 KB besides (libtiff itself reads no more of a strip of
// over a megabyte).
struct TIFFStoredBytes {
  uint64_t offset = 0;
  uint64_t held = 0;
  bool cut = false;
};
TIFFStoredBytes GetTIFFStoredBytes(TIFF* tif, uint32_t index, uint64_t fileSize, uint64_t decodedBytes);

// Decodes strip or tile `index` (of `rows` rows; tiles always of their full length) into `out`
// once, as far as its data goes, and returns the rows decoded. The stored bytes the file holds
// are read into `raw` and decoded; when they end early or turn bad, the rows decoded before
// that are kept. Only rows the decoder wrote whole count, whatever libtiff returned, and
// wherever in the strip it left bytes unwritten (TIFFStrips.cpp says how each codec is judged;
// some strips are decoded a second time to tell). What it lays and remembers is kept with the
// handle. libtiff's words, or a plain note, go to ISGetLastWarning whenever fewer than `rows`
// rows are returned.
uint32_t DecodeTIFFStrile(TIFF* tif, uint32_t index, uint32_t rows, uint8_t* out, ISArray<uint8_t>& raw);

// True, with error 20, once libtiff has refused an allocation over the handle's limit: the read
// stops there.
bool TIFFAllocationRefused(ISErrorCode& error, TIFF* tif);

// Decoded bytes of the current strip or tile's first `rows` rows.
uint64_t TIFFStrileBytes(TIFF* tif, uint32_t rows);
// The most rows (at most `rows`) that the first `bytes` decoded bytes of a strip or tile hold
// whole.
uint32_t TIFFWholeRows(TIFF* tif, uint64_t bytes, uint32_t rows);

// What libtiff does to the first `bytes` decoded bytes of strip or tile `index` before it returns
// them (the predictor undone, samples put in the host's byte order): also for the rows a failed
// decode gave, which libtiff leaves as decoded. False, with the reason, for the predictors and
// layouts libtiff refuses.
bool TIFFFinishDecoded(TIFF* tif, uint32_t index, uint8_t* out, uint64_t bytes);

// Decodes of strips and tiles this thread has run so far (a strip decoded a second time counts
// twice), for the tests of how much work a read does.
uint64_t TIFFStrilesDecoded();

// Begins libtiff's RGBA conversion of the page as the true-colour reader does it: the alpha
// override applied, the raw-CMYK put routines chosen. `planes` gets the planes the conversion
// takes (0 alone for a contiguous page) and *opaque whether every alpha byte is to be set
// opaque after the read. False, with the library's message traced, when libtiff refuses the page.
bool BeginTIFFRGBA(TIFF* tif, const TIFFReadState& state, TIFFRGBAImage& img, uint16_t planes[4], uint32_t* planeCount,
                   bool* opaque);

// The 256-entry palette of an index page (grey ramps, the colour map, or zeros).
bool MakeTIFFPalette(ISErrorCode& error, TIFF* tif, const TIFFPageInfo& info, RGBQUAD* palette);

// Page information: every output 0 first; error 20 when the TIFF cannot be opened, 5 when the
// page does not exist.
bool GetTIFFInfo(ISErrorCode& error, CISIO& source, DWORD page, DWORD* width, DWORD* height, DWORD* bitsPerPixel,
                 DWORD* xRes, DWORD* yRes, DWORD* unit);

// One page read at `bits` (1, 8 with a palette; 16, 24, 32), or as stored with flag bit 1.
void* ReadTIFF(ISErrorCode& error, const ISThreadState& ts, CISIO& source, DWORD* width, DWORD* height, DWORD page,
               DWORD bits, RGBQUAD* palette, DWORD flags);
