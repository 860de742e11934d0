// The one decode budget: every reader and the metafile render ask it before they allocate a
// picture, or let a codec allocate or work for one. The area asked is what the read decodes
// and buffers (whole tiles and strips, every plane, every component's blocks), not only the
// picture the caller receives.
#pragma once

#include <cstdint>

#include "qrv/imaging.h"

namespace RovIrirev {

// One rule for every format:
// - Up to 64 megapixels (above any camera's picture): where the stored bytes bound what they
//   decode to (no compression, the run-length codes, LZW, deflate, Huffman-coded JPEG), the
//   area must be one that the data the read uses could give, and a damaged file still passes
//   while that data could give at least half of it, so that it is read as far as it goes.
//   Where nothing bounds the output (arithmetic-coded JPEG, the fax codes, JBIG, the newer
//   TIFF codecs, every metafile render), the 64-megapixel ceiling alone holds.
// - Above 64 megapixels, whatever the codec, the data must hold at least one byte per 16
//   pixels (half a bit a pixel; camera files and stitched panoramas hold one to four bits),
//   and where the data bounds its output, the whole area must be one it could give.
// - Every reader, and every step after it, does some work once a row: a row weighs at least
//   as much as 64 pixels. Both rules above judge the weighed area (height x max(width, 64))
//   against the ceiling and the stored bytes, and the picture's own pixels against what the
//   data could give. Pictures at least 64 pixels wide are weighed as they are; a 1 x 67108864
//   picture weighs as 64 x 67108864, and needs four stored bytes a row.
// So a file of under 4 MB never decodes more than 64 megapixels, nor more than a million rows,
// and a larger one decodes at most 16 pixels (or a quarter of a row) per stored byte.
constexpr uint64_t kUncheckedPixelLimit = uint64_t{64} << 20;
constexpr uint64_t kPixelsPerStoredByte = 16;
constexpr uint64_t kRowWeightPixels = 64;

// The area the rules judge: height x max(width, kRowWeightPixels), saturating.
uint64_t DecodeBudgetWeight(uint64_t width, uint64_t height);

// `dataPixels` for a codec whose output no stored size bounds.
constexpr uint64_t kUnboundedData = UINT64_MAX;

// Whether a width x height area may be decoded from `dataBytes` stored bytes that could give
// at most `dataPixels` pixels (kUnboundedData when nothing bounds them). A refusal leaves its
// reason for ISGetLastWarning, replacing any earlier warning of the call, and gives false.
bool DecodeBudgetAllows(uint64_t width, uint64_t height, uint64_t dataPixels, uint64_t dataBytes);

// As DecodeBudgetAllows, throwing ISException(code) on refusal.
void CheckDecodeBudget(ISErrorCode code, uint64_t width, uint64_t height, uint64_t dataPixels,
                       uint64_t dataBytes);

// The most a codec library may allocate in all for one read of an area of `pixels` that the
// budget allowed: room for 48-bit samples of every pixel and the library's own tables. Readers
// hand it to libjpeg's memory manager, libtiff's open options and libpng's user limits, so that
// a library never allocates past what the budget judged.
uint64_t DecodeMemoryLimit(uint64_t pixels);

// The calling thread's last question to the budget and its answer, for the tests of what a
// reader asks.
struct DecodeBudgetQuery {
  uint64_t width = 0, height = 0, dataPixels = 0, dataBytes = 0;
  bool allowed = false;
  uint64_t count = 0;  // questions asked on this thread so far
};
const DecodeBudgetQuery& LastDecodeBudgetQuery();

// Saturating arithmetic for the callers' bounds: a product or sum that would overflow is
// UINT64_MAX, which no picture reaches.
constexpr uint64_t BudgetMultiply(uint64_t a, uint64_t b) {
  return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b;
}
constexpr uint64_t BudgetAdd(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

}  // namespace RovIrirev
