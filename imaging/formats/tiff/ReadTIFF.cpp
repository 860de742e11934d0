// ReadTIFF: one page chosen by number, read by the reader of the requested depth (or of the
// page's own depth when it is read as stored).
#include <cstdio>
#include <new>

#include "imaging/formats/MetadataRead.h"

#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFCodecGuard.h"
#include "imaging/formats/tiff/TIFFExifBlock.h"
#include "imaging/formats/tiff/TIFFRead.h"

namespace {

// The depth a page is read at as stored: 1 bilevel, 8 index, 24 or 32 colour.
uint32_t StoredDepth(const TIFFPageInfo& info) {
  const int colourSamples = int{info.samplesPerPixel} - int{info.extraSamples};
  bool bilevel = info.bitsPerSample == 1;
  if (bilevel && info.planar == PLANARCONFIG_SEPARATE && colourSamples >= 2) bilevel = false;
  if (bilevel && !info.hasPhotometric) bilevel = colourSamples == 1;
  if (bilevel) return 1;
  if (info.bitsPerSample <= 8 && info.samplesPerPixel == 1) return 8;
  if (info.bitsPerSample > 16 || info.samplesPerPixel > 1) return info.samplesPerPixel == 3 ? 24 : 32;
  const bool grey = !info.hasPhotometric || info.photometric == PHOTOMETRIC_MINISWHITE ||
                    info.photometric == PHOTOMETRIC_MINISBLACK;
  return grey ? 8 : 32;
}

// Why libtiff's conversion refused the page, for ISGetLastWarning: the samples met, in the
// system's words where they are samples this build does not read, else libtiff's own words
// (when given).
void TellRefusedSamples(TIFF* tif, const TIFFPageInfo& info, const char* libraryWords) {
  uint16_t format = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
  const char* kind = format == SAMPLEFORMAT_IEEEFP                                     ? "floating-point"
                     : info.photometric == PHOTOMETRIC_SEPARATED && info.bitsPerSample != 8 ? "CMYK"
                                                                                            : nullptr;
  char reason[kMaxWarningText + 1] = {};
  if (kind)
    std::snprintf(reason, sizeof reason, "%u-bit %s samples, which this build does not read",
                  static_cast<unsigned>(info.bitsPerSample), kind);
  else if (libraryWords)
    std::snprintf(reason, sizeof reason, "%s", libraryWords);
  else
    return;
  ReplaceLastWarning(reason);
}

}  // namespace

void* ReadTIFF(ISErrorCode& error, const ISThreadState& ts, CISIO& source, DWORD* width, DWORD* height, DWORD page,
               DWORD bits, RGBQUAD* palette, DWORD flags) {
  *width = *height = 0;
  ClearMetadataRead();
  const bool asStored = flags & kTIFFAsStored;
  if (!asStored && (bits == 1 || bits == 8) && !palette) return error = IS_ERR_BADPARAM, nullptr;
  if (!source.Rewind()) return error = IS_ERR_READ, nullptr;
  TIFFHandleHolder holder(OpenTIFFClient(source, "r", TIFFDirectoryAllocLimit(source)));
  TIFF* tif = holder.Get();
  if (!tif) return error = IS_ERR_BADTIFF, nullptr;
  TIFFClientData* client = TIFFClientOf(tif);
  if (!SelectTIFFPage(error, tif, page)) return nullptr;
  TIFFPageRead read;
  read.tif = tif;
  read.info = GetTIFFPageInfo(tif);
  read.flags = flags;
  if (read.info.width == 0 || read.info.height == 0) {
    char reason[kMaxWarningText + 1] = {};
    std::snprintf(reason, sizeof reason, "TIFF page of %u x %u pixels has no picture",
                  static_cast<unsigned>(read.info.width), static_cast<unsigned>(read.info.height));
    ReplaceLastWarning(reason);
    return error = IS_ERR_BADTIFF, nullptr;
  }
  const uint32_t depth = asStored ? StoredDepth(read.info) : bits;
  if (depth != 1 && depth != 8 && depth != 16 && depth != 24 && depth != 32) return error = IS_ERR_BADPARAM, nullptr;
  // A header claiming more picture than its data can give is refused before anything is
  // allocated. The raw readers decode the first plane only; the true-colour reader the planes
  // libtiff's conversion takes.
  uint16_t planes[4] = {0, 1, 2, 3};
  uint32_t planeCount = 1;
  if (depth == 24 || depth == 32) {
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message)) {
      TIFFTrace("%s\n", message);
      TellRefusedSamples(tif, read.info, message);
      return error = IS_ERR_BADTIFF, nullptr;
    }
    TIFFReadState state;
    state.alphaOverride = ts.tiff.alphaOverride;
    state.rawCMYK = depth == 32 && (flags & kTIFFRawCMYK);
    TIFFRGBAImage img;
    bool opaque = false;
    if (!BeginTIFFRGBA(tif, state, img, planes, &planeCount, &opaque)) {
      TellRefusedSamples(tif, read.info, nullptr);
      return error = IS_ERR_BADTIFF, nullptr;
    }
    TIFFRGBAImageEnd(&img);
  }
  uint64_t memory = 0;
  if (!TIFFPageWithinBudget(tif, read.info, planes, planeCount, &memory)) return error = IS_ERR_BADTIFF, nullptr;
  // Codec headers that claim more than their strip.
  if (!TIFFPageCodecHeadersFit(tif, read.info)) return error = IS_ERR_BADTIFF, nullptr;
  // The page is read through a second handle on which libtiff may allocate no more than the
  // budget allowed for that area; a refusal by libtiff is a bad page, never more memory.
  holder.Close();
  if (!source.Rewind()) return error = IS_ERR_READ, nullptr;
  holder.Reset(OpenTIFFClient(source, "r", memory));
  tif = read.tif = holder.Get();
  if (!tif || !TIFFSetDirectory(tif, page)) return error = IS_ERR_BADTIFF, nullptr;
  client = TIFFClientOf(tif);
  client->state.rawCMYK = false;
  client->state.alphaOverride = ts.tiff.alphaOverride;
  uint32_t w = 0, h = 0;
  void* block = nullptr;
  switch (depth) {
    case 1: block = ReadTIFFBilevel(error, read, palette, &w, &h); break;
    case 8: block = ReadTIFFPalette(error, read, palette, &w, &h); break;
    case 16: block = ReadTIFF16(error, read, &w, &h); break;
    case 24: block = ReadTIFFTrueColor(error, read, 24, &w, &h); break;
    case 32:
      client->state.rawCMYK = flags & kTIFFRawCMYK;
      block = ReadTIFFTrueColor(error, read, 32, &w, &h);
      break;
    default: break;
  }
  if (!block) return nullptr;
  // The page's metadata, from the directory libtiff read the page from.
  try {
    KeepTIFFMetadataTags(source, TIFFCurrentDirOffset(tif), TIFFIsBigEndian(tif), TIFFIsBigTIFF(tif));
  } catch (const std::bad_alloc&) {
  }
  // The camera data, saying orientation 1 when the reader turned the pixels by it.
  const bool kept16 = depth == 16 && (flags & (kTIFF16TopFirst | kTIFF16PadRows));
  KeepTIFFExifBlock(tif, source, !(flags & kTIFFIgnoreOrientation) && !kept16);
  *width = w;
  *height = h;
  return block;
}
