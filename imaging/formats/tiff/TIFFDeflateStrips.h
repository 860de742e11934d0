// Deflate strips and tiles told whole exactly, and read as far as their data go when they are not.
#pragma once

#include <cstdint>

#include <tiffio.h>

// Whether a deflate strip or tile that libtiff decoded into `out` (its `whole` bytes, finished)
// is its stored stream's own: the checksum at the end of the `held` stored bytes `raw`, taken as
// libtiff sees them (bits reversed for a page of the other fill order), is that of the bytes
// libtiff's decoder gave before its finishing (the predictor, the file's byte order). libtiff's
// decoder calls a stream cut short decoded when libdeflate, reading zero bits past its end,
// fills the strip; a stream that codes more than its strip, or a layout not undone here, is not
// told whole either.
bool TIFFDeflateDecodedWhole(TIFF* tif, const uint8_t* raw, uint64_t held, const uint8_t* out, uint64_t whole);

// The rows of strip or tile `index` (of `rows` rows, `whole` bytes) that its `held` stored bytes
// `raw` decode, decoded again by zlib's streaming inflate into `out`: it stops where the data
// stop or turn bad and says how many bytes it wrote. The whole rows among them are kept,
// finished as libtiff finishes them; 0 when none.
uint32_t TIFFDeflateRowsHeld(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* raw, uint64_t held,
                             uint8_t* out);
