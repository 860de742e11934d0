// ISReadPNG: decodes a PNG source into a new global-memory image at 1, 8, 16, 24, 32, 48 or
// 64 bits, or as a packed DIB as stored. Errors: 1, 5, 14, 15, 16, 17, 28, 38.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/png/CISPNGCodec.h"

extern "C" HGLOBAL ISReadPNG(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette,
                             DWORD flags) {
  return ISRunReader(source, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> HGLOBAL {
    CISPNGCodec codec;
    HGLOBAL image = nullptr;
    if (flags & kPNGReadAsStored) {
      image = codec.ReadPNGAsStored(io, width, height, palette, flags);
    } else {
      switch (bits) {
        case 1:
        case 8: image = codec.ReadPNGToDepth(io, width, height, bits, palette, false, flags); break;
        case 16:
          image = (flags & kPNGReadKeep16) ? codec.ReadPNGToDepth(io, width, height, 16, nullptr, true, flags)
                                           : codec.ReadPNGGreyAlpha(io, width, height, 255, flags);
          break;
        case 24: image = codec.ReadPNGToDepth(io, width, height, 24, nullptr, false, flags); break;
        case 32: image = codec.ReadPNGRGBA(io, width, height, 255, false, flags); break;
        case 48: image = codec.ReadPNGToDepth(io, width, height, 48, nullptr, true, flags); break;
        case 64: image = codec.ReadPNGRGBA(io, width, height, 65535, true, flags); break;
        default: codec.error = IS_ERR_BADPARAM; break;
      }
    }
    error = codec.error;
    return image;
  });
}
