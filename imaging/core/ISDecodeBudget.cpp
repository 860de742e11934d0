// The decode budget's verdicts and the reasons a refusal leaves for ISGetLastWarning.
// Refusals carry the caller's error code (the format's own); nothing here allocates a picture.
#include "imaging/core/ISDecodeBudget.h"

#include <cinttypes>
#include <cstdio>

#include "imaging/core/ISContainers.h"
#include "imaging/core/ISThreadState.h"

namespace RovIrirev {

bool DecodeBudgetAllows(uint64_t width, uint64_t height, uint64_t dataPixels, uint64_t dataBytes) {
  const uint64_t pixels = BudgetMultiply(width, height);
  char reason[160];
  if (dataPixels == kUnboundedData) {
    if (pixels <= kUncheckedPixelLimit) return true;
    std::snprintf(reason, sizeof reason,
                  "%" PRIu64 " x %" PRIu64 " is over the %" PRIu64
                  "-megapixel limit for data whose size cannot be checked",
                  width, height, kUncheckedPixelLimit >> 20);
  } else {
    // Half of the picture from what the data could give: a cut file is still read.
    if (pixels <= BudgetMultiply(dataPixels, 2)) return true;
    std::snprintf(reason, sizeof reason,
                  "%" PRIu64 " x %" PRIu64 " is more than %" PRIu64 " bytes of picture data could hold",
                  width, height, dataBytes);
  }
  ReplaceLastWarning(reason);
  return false;
}

void CheckDecodeBudget(ISErrorCode code, uint64_t width, uint64_t height, uint64_t dataPixels,
                       uint64_t dataBytes) {
  if (!DecodeBudgetAllows(width, height, dataPixels, dataBytes)) throw ISException(code, "over the decode budget");
}

}  // namespace RovIrirev
