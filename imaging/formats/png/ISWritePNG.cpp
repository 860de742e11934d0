// ISWritePNG: writes rows of any PNG colour type and bit depth to a sink, with the resolution
// (or 1:1 without a unit) in pHYs. Returns the sink's size, or 0. Errors: 1, 4, 5, 14, 16, 38.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/png/CISPNGCodec.h"

extern "C" BOOL ISWritePNG(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD rowStride,
                           DWORD bitsPerChannel, DWORD paletteColours, const RGBQUAD* palette, DWORD colourType,
                           double gamma, const ISResolution* resolution, DWORD flags) {
  return ISRunWriter(sink, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> BOOL {
    CISPNGCodec codec;
    codec.SetResolution(resolution);
    BOOL written = codec.WritePNG(io, pixels, width, height, rowStride, bitsPerChannel, paletteColours, palette,
                                  colourType, gamma, flags);
    error = codec.error;
    return written;
  });
}
