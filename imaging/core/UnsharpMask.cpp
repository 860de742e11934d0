// Unsharp mask: the source is blurred into the destination, then every masked sample moves
// away from its blurred value by amount x the difference, where the difference exceeds the
// threshold. Errors: 5 null or shared buffers, 1 no room, 14 stopped.
#include <cmath>
#include <cstdlib>

#include "imaging/core/ISFilters.h"
#include "imaging/core/ISOpSupport.h"

bool UnsharpMask(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                 uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes, uint32_t threshold,
                 double amount, double radius, uint32_t channelMask) {
  error = IS_ERR_OK;
  if (!source || !destination || source == destination) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  {
    ISNestedCall nested;  // the blur is a step of this operation and reports nothing
    if (!GaussianBlur(error, source, destination, width, height, bytesPerPixel, sourceRowBytes,
                      destinationRowBytes, radius, channelMask))
      return false;
  }
  // T[b * 256 + o]: the sharpened value of source sample o whose blurred value is b.
  ISArray<uint8_t> table;
  if (!ResizeScratch(table, 65536)) {
    error = IS_ERR_NOMEM;
    return false;
  }
  for (int b = 0; b < 256; ++b) {
    for (int o = 0; o < 256; ++o) {
      const int d = o - b;
      double v = o;
      if (static_cast<uint32_t>(std::abs(d)) > threshold) {
        v = o + std::trunc(d * amount);
        if (std::isnan(v)) v = o;  // an amount that is not a number changes nothing
        v = v <= 0.0 ? 0.0 : v >= 255.0 ? 255.0 : v;
      }
      table[static_cast<uint32_t>(b * 256 + o)] = static_cast<uint8_t>(v);
    }
  }
  const uint8_t* T = table.Data();
  const uint32_t n = bytesPerPixel;
  if (!ProgressIsHeard()) {
    // Nobody hears the reports: the rows are shared out, each with all its masked bytes.
    bool masked[32] = {};
    bool every = n <= 32;
    for (uint32_t c = 0; c < n && c < 32; ++c) {
      masked[c] = ((channelMask >> c) & 1u) != 0;
      every = every && masked[c];
    }
    const size_t bytes = size_t(width) * n;
    qrv::ParallelRows(height, 64, [&](uint32_t y0, uint32_t y1) {
      // Copies that no byte store can reach, so they stay in registers.
      const uint8_t* const table = T;
      const size_t count = bytes;
      for (uint32_t y = y0; y < y1; ++y) {
        const uint8_t* s = source + size_t(y) * sourceRowBytes;
        uint8_t* d = destination + size_t(y) * destinationRowBytes;
        if (every) {
          for (size_t i = 0; i < count; ++i) d[i] = table[d[i] * 256u + s[i]];
          continue;
        }
        for (uint32_t c = 0; c < n && c < 32; ++c)
          if (masked[c])
            for (size_t i = c; i < count; i += n) d[i] = table[d[i] * 256u + s[i]];
      }
    });
    return true;
  }
  uint64_t counter = 0;  // rows of all masked channels
  for (uint32_t c = 0; c < n; ++c) {
    if (!(channelMask & (c < 32 ? 1u << c : 0u))) continue;
    for (uint32_t y = 0; y < height; ++y) {
      if (counter % 3 == 0 && !ProgressOrStop(error, n ? counter / n : 0, height)) return false;
      ++counter;
      const uint8_t* s = source + size_t(y) * sourceRowBytes + c;
      uint8_t* d = destination + size_t(y) * destinationRowBytes + c;
      for (uint32_t x = 0; x < width; ++x) {
        const size_t i = size_t(x) * n;
        d[i] = T[d[i] * 256u + s[i]];
      }
    }
  }
  return true;
}
