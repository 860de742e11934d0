// The headers of JBIG and WebP strips judged when a page is opened, so that a page whose
// headers claim more than their strips is refused before anything is allocated for it (a JBIG
// page only when none of its strips fits, as each strip is judged again alone): libjbig
// allocates the bitmap its header claims (the JBIG strips are decoded by TIFFJBIGStrips.cpp,
// which judges the whole strip again), and libwebp the buffers of the picture its header names
// before it finds that the strip's buffer cannot hold it.
#include "imaging/formats/tiff/TIFFCodecGuard.h"

#include <webp/decode.h>

#include <algorithm>
#include <cstdio>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFOwnCodecs.h"

namespace {

// Stored bytes read from each strip or tile at page open: every header judged here fits.
constexpr uint32_t kHeadBytes = 2048;

const char* StrileName(TIFF* tif) { return TIFFIsTiled(tif) ? "tile" : "strip"; }

// WebP: the picture the header names (read by libwebp's own parser) must be the strip's.
void JudgeWebP(TIFFCodecVerdict& v, TIFF* tif, uint32_t index, uint32_t width, uint32_t rows, const uint8_t* data,
               uint64_t size) {
  int w = 0, h = 0;
  if (!WebPGetInfo(data, static_cast<size_t>(std::min<uint64_t>(size, SIZE_MAX)), &w, &h)) return;
  if (static_cast<uint32_t>(w) == width && static_cast<uint32_t>(h) == rows) return;
  v.fits = false;
  std::snprintf(v.reason, sizeof v.reason, "WebP header of TIFF %s %u claims %d x %d pixels, not the %s's %u x %u",
                StrileName(tif), index, w, h, StrileName(tif), width, rows);
}

}  // namespace

TIFFCodecVerdict JudgeTIFFCodecHeader(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size,
                                      bool whole) {
  TIFFCodecVerdict v;
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  uint32_t width = 0;
  TIFFGetField(tif, TIFFIsTiled(tif) ? TIFFTAG_TILEWIDTH : TIFFTAG_IMAGEWIDTH, &width);
  if (compression == COMPRESSION_JBIG)
    v.fits = TIFFJBIGHeaderFits(tif, index, rows, data, size, whole, v.reason, sizeof v.reason);
  else if (compression == COMPRESSION_WEBP)
    JudgeWebP(v, tif, index, width, rows, data, size);
  return v;
}

bool TIFFCodecHeaderFits(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size) {
  const TIFFCodecVerdict v = JudgeTIFFCodecHeader(tif, index, rows, data, size, true);
  if (!v.fits) SetLastWarning(v.reason);
  return v.fits;
}

bool TIFFPageCodecHeadersFit(TIFF* tif, const TIFFPageInfo& info) {
  if (info.compression != COMPRESSION_JBIG && info.compression != COMPRESSION_WEBP) return true;
  TIFFClientData* client = TIFFClientOf(tif);
  uint32_t fileSize = 0;
  if (!client || !client->io.GetSize(&fileSize)) return false;
  const bool tiled = info.tiled;
  const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  uint32_t rowsPerStrip = 0, tileLength = 0;
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::max<uint32_t>(1, std::min(rowsPerStrip, info.height));
  }
  const uint32_t perPlane = tiled ? 0 : (info.height - 1) / rowsPerStrip + 1;
  uint8_t head[kHeadBytes];
  bool fits = false;
  TIFFCodecVerdict refused;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t rows = tileLength;
    if (!tiled) {
      const uint64_t first = uint64_t{i % perPlane} * rowsPerStrip;
      rows = static_cast<uint32_t>(std::min<uint64_t>(rowsPerStrip, info.height - first));
    }
    const uint64_t decoded = tiled ? TIFFVTileSize64(tif, rows) : TIFFVStripSize64(tif, rows);
    const TIFFStoredBytes stored = GetTIFFStoredBytes(tif, i, fileSize, decoded);
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(stored.held, kHeadBytes));
    if (n == 0) continue;
    if (stored.offset > INT32_MAX || !client->io.Seek(static_cast<int32_t>(stored.offset), IS_SEEK_SET) ||
        !client->io.ReadExact(head, n))
      continue;  // the read finds the strip unreadable and goes on
    const TIFFCodecVerdict v = JudgeTIFFCodecHeader(tif, i, rows, head, n, n == stored.held);
    if (v.fits) {
      fits = true;
    } else if (info.compression != COMPRESSION_JBIG) {
      ReplaceLastWarning(v.reason);
      return false;
    } else if (!refused.reason[0]) {
      refused = v;
    }
  }
  // A JBIG strip whose header does not fit is refused alone when its turn comes (its rows keep
  // the fill); a page none of whose strips fits is refused whole.
  if (!fits && refused.reason[0]) {
    ReplaceLastWarning(refused.reason);
    return false;
  }
  return true;
}
