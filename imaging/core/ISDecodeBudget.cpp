// The decode budget's verdicts and the reasons a refusal leaves for ISGetLastWarning.
// Refusals carry the caller's error code (the format's own); nothing here allocates a picture.
#include "imaging/core/ISDecodeBudget.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "imaging/core/ISContainers.h"
#include "imaging/core/ISThreadState.h"

namespace RovIrirev {

namespace {

thread_local DecodeBudgetQuery lastQuery;

bool Verdict(uint64_t width, uint64_t height, uint64_t dataPixels, uint64_t dataBytes, char* reason,
             size_t reasonSize) {
  const uint64_t pixels = BudgetMultiply(width, height);
  const uint64_t weight = DecodeBudgetWeight(width, height);
  const bool bounded = dataPixels != kUnboundedData;
  if (weight <= kUncheckedPixelLimit) {
    // Half of the area from what the data could give: a cut file is still read.
    if (!bounded || pixels <= BudgetMultiply(dataPixels, 2)) return true;
  } else {
    if (weight > BudgetMultiply(dataBytes, kPixelsPerStoredByte)) {
      // A picture of narrow rows says what it was weighed as.
      char weighed[80] = "";
      if (weight != pixels)
        std::snprintf(weighed, sizeof weighed, ", weighed as %" PRIu64 " x %" PRIu64 " for its rows of fewer than %" PRIu64 " pixels,",
                      kRowWeightPixels, height, kRowWeightPixels);
      std::snprintf(reason, reasonSize,
                    "%" PRIu64 " x %" PRIu64 "%s is over %" PRIu64
                    " megapixels with less than one byte of picture data per %" PRIu64 " pixels (%" PRIu64 " bytes)",
                    width, height, weighed, kUncheckedPixelLimit >> 20, kPixelsPerStoredByte, dataBytes);
      return false;
    }
    if (!bounded || pixels <= dataPixels) return true;
  }
  std::snprintf(reason, reasonSize, "%" PRIu64 " x %" PRIu64 " is more than %" PRIu64 " bytes of picture data could hold",
                width, height, dataBytes);
  return false;
}

}  // namespace

uint64_t DecodeBudgetWeight(uint64_t width, uint64_t height) {
  return BudgetMultiply(std::max(width, kRowWeightPixels), height);
}

bool DecodeBudgetAllows(uint64_t width, uint64_t height, uint64_t dataPixels, uint64_t dataBytes) {
  char reason[200];
  const bool allowed = Verdict(width, height, dataPixels, dataBytes, reason, sizeof reason);
  const uint64_t count = lastQuery.count + 1;
  lastQuery = {width, height, dataPixels, dataBytes, allowed, count};
  if (!allowed) ReplaceLastWarning(reason);
  return allowed;
}

void CheckDecodeBudget(ISErrorCode code, uint64_t width, uint64_t height, uint64_t dataPixels,
                       uint64_t dataBytes) {
  if (!DecodeBudgetAllows(width, height, dataPixels, dataBytes)) throw ISException(code, "over the decode budget");
}

uint64_t DecodeMemoryLimit(uint64_t pixels) {
  // Six bytes a pixel hold 48-bit samples, or a progressive JPEG's coefficients of three
  // full-resolution components; two more cover row buffers, and 16 MB the tables.
  return BudgetAdd(BudgetMultiply(pixels, 8), uint64_t{16} << 20);
}

const DecodeBudgetQuery& LastDecodeBudgetQuery() { return lastQuery; }

}  // namespace RovIrirev
