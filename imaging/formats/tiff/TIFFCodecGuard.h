// The stream headers of JBIG and WebP strips, read when a page is opened and before a WebP
// strip is decoded: libjbig allocates the bitmap its header names and ends the process when it
// cannot, libwebp the picture its header names. The page reader refuses a page they fail with
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
// `rows` rows, for the page's compression. JBIG: one plane of exactly the strip's width and
// rows, as libjbig reads its header (see TIFFJBIGHeaderFits; `whole` says the bytes are all the
// strip's); WebP: the strip's width and rows. Bytes too few to hold a header fit: the decoder
// fails on them without allocating.
TIFFCodecVerdict JudgeTIFFCodecHeader(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size,
                                      bool whole);

// Before strip or tile `index` is decoded from its stored bytes `data`: false, with the reason
// for ISGetLastWarning, when its header does not fit (the strip is then damaged data).
bool TIFFCodecHeaderFits(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size);

// At page open, before anything is allocated for the page: the header of every strip or tile
// of the page's planes (a few bytes each, read from the file). False, with the reason
// replacing the last warning, when one does not fit.
bool TIFFPageCodecHeadersFit(TIFF* tif, const TIFFPageInfo& info);
