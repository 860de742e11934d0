// ISRemapChannelRange: per masked channel, equalises the values inside [low, high] in place.
// Error codes: 5 null buffer or more than 8 bytes per pixel, 14 stopped by the callback.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISPixelHelpers.h"

extern "C" BOOL ISRemapChannelRange(BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                                    DWORD low, DWORD high, DWORD channelMask) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return RemapChannelRange(ctx.error, pixels, width, height, bytesPerPixel, rowBytes, low, high, channelMask);
  });
}
