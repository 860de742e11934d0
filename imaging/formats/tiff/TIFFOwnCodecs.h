// JBIG, Zstandard and LZMA strips and tiles, decoded here from their stored bytes rather than
// by libtiff's codecs: libtiff lets none of their libraries be bounded (libjbig allocates the
// bitmap a header names and ends the process when it cannot, the Zstandard stream reserves the
// window its frame names, liblzma the dictionary of each block), and its JBIG codec reverses
// and patches the stored bytes in place. Each strip is decoded once per read, in one pass
// into the caller's buffer, then finished as libtiff finishes it (the predictor and the file's
// byte order), so that a whole strip is the same bytes libtiff gives.
#pragma once

#include <cstddef>
#include <cstdint>

#include <tiffio.h>

// Whether strips of `compression` are decoded by DecodeTIFFOwnCodec.
bool TIFFOwnCodecDecodes(uint16_t compression);

// Decodes strip or tile `index` (of `rows` rows; tiles of their full length) from its `size`
// stored bytes `data` into `out`, which holds the strip's decoded bytes. Returns how many whole
// rows it wrote, always the strip's first ones and finished; when that is fewer than `rows`,
// the reason goes to ISGetLastWarning. The codec library gets at most the strip, a private copy
// of `data` and its own fixed tables; `data` is left as it is.
uint32_t DecodeTIFFOwnCodec(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size,
                            uint8_t* out);

// JBIG: whether the header libjbig would read from the first `size` stored bytes `data` of
// strip or tile `index` (a NEWLEN marker applied as libjbig's own jbg_newlen finds it) fits the
// strip: one plane of the strip's width, rows of the strip's row bytes, and no more rows than
// the strip. When `whole` is false the bytes are only the strip's first ones, and a
// variable-length stream taller than the strip is let pass (its NEWLEN may lie further on).
// False with the reason in `reason` (of `reasonSize` bytes).
bool TIFFJBIGHeaderFits(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size, bool whole,
                        char* reason, size_t reasonSize);
