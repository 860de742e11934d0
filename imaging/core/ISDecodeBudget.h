// The one decode budget: every reader and the metafile render ask it before they allocate a
// picture, or let a codec allocate for one. Sizes count what the caller will receive.
#pragma once

#include <cstdint>

#include "qrv/imaging.h"

namespace RovIrirev {

// Where the stored bytes bound what they decode to (no compression, the run-length codes,
// LZW, deflate, Huffman-coded JPEG), a picture must be one that the data the read uses could
// give. A damaged file still passes while that data could give at least half of the picture,
// so that it is read as far as it goes. Where nothing bounds the output (arithmetic-coded
// JPEG, two-dimensional fax codes, JBIG, the newer TIFF codecs, every metafile render), one
// ceiling holds instead: 64 megapixels, above any camera's picture, so a run over such a file
// stays under a gigabyte.
constexpr uint64_t kUncheckedPixelLimit = uint64_t{64} << 20;

// `dataPixels` for a codec whose output no stored size bounds.
constexpr uint64_t kUnboundedData = UINT64_MAX;

// Whether a width x height picture may be decoded from data that could give at most
// `dataPixels` pixels (kUnboundedData when nothing bounds it); `dataBytes` is the size of that
// data, for the reason. A refusal leaves its reason for ISGetLastWarning, replacing any
// earlier warning of the call, and gives false.
bool DecodeBudgetAllows(uint64_t width, uint64_t height, uint64_t dataPixels, uint64_t dataBytes);

// As DecodeBudgetAllows, throwing ISException(code) on refusal.
void CheckDecodeBudget(ISErrorCode code, uint64_t width, uint64_t height, uint64_t dataPixels,
                       uint64_t dataBytes);

// Saturating arithmetic for the callers' bounds: a product or sum that would overflow is
// UINT64_MAX, which no picture reaches.
constexpr uint64_t BudgetMultiply(uint64_t a, uint64_t b) {
  return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b;
}
constexpr uint64_t BudgetAdd(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

}  // namespace RovIrirev
