// The stream headers of the codec libraries that take what their data claim, read before
// libtiff hands a strip or tile to them: JBIG (its library allocates the bitmap its header
// names and ends the process when it cannot), WebP (the picture's size), Zstandard (a frame's
// window) and LZMA (a block's dictionary). The page reader refuses a page they fail with
// error 20.
#pragma once

#include <cstdint>

#include <tiffio.h>

#include "imaging/formats/tiff/TIFFRead.h"

// What the header of a strip or tile's stored bytes claims, judged against the strip or tile:
// the reason is empty when it fits.
struct TIFFCodecVerdict {
  bool fits = true;
  char reason[kMaxWarningText + 1] = {};
};

// Judges the first `size` stored bytes `data` of strip or tile `index`, which decodes to
// `rows` rows, for the page's compression, where a codec library may allocate at most
// `memory` bytes. JBIG: one plane of exactly the strip's width and rows (a NEWLEN marker
// included when `whole` says the bytes are all the strip's); WebP: the strip's width and rows;
// Zstandard: the first frame's decoding buffers; LZMA: the dictionary of each block whose
// place the headers give, and with `whole` liblzma's decode of the strip held to `memory`.
// Bytes too few to hold a header fit: the decoder fails on them without allocating.
TIFFCodecVerdict JudgeTIFFCodecHeader(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size,
                                      uint64_t memory, bool whole);

// Before strip or tile `index` is decoded from its stored bytes `data`: false, with the reason
// for ISGetLastWarning, when its header does not fit (the strip is then damaged data).
bool TIFFCodecHeaderFits(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size);

// At page open, before anything is allocated for the page: the header of every strip or tile
// of the page's planes (a few bytes each, read from the file), judged with `memory`, the most
// the page's handle lets a library allocate. False, with the reason replacing the last warning,
// when one does not fit.
bool TIFFPageCodecHeadersFit(TIFF* tif, const TIFFPageInfo& info, uint64_t memory);
