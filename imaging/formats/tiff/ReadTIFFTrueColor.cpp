// The true-colour reader: libtiff's RGBA conversion (its put routines, or our own for raw
// CMYK) over strips and tiles that we decode ourselves, as far as their data goes, one strip or
// row of tiles at a time with progress and a stop after each; and the alpha override of pages
// whose extra sample is unspecified.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFRead.h"

namespace {

inline uint32_t PackSamples(const TIFFRGBAImage* img, uint8_t c, uint8_t m, uint8_t y, uint8_t k) {
  const TIFFRGBValue* map = img->Map;
  if (map) {
    c = map[c];
    m = map[m];
    y = map[y];
    k = map[k];
  }
  return uint32_t{c} | uint32_t{m} << 8 | uint32_t{y} << 16 | uint32_t{k} << 24;
}

// Contiguous 8-bit separated samples packed as they stand into the four bytes of each pixel.
void PutRawCMYKContig(TIFFRGBAImage* img, uint32_t* cp, uint32_t, uint32_t, uint32_t w, uint32_t h, int32_t fromskew,
                      int32_t toskew, unsigned char* pp) {
  const int spp = img->samplesperpixel;
  fromskew *= spp;
  for (; h > 0; --h) {
    for (uint32_t x = 0; x < w; ++x, pp += spp) *cp++ = PackSamples(img, pp[0], pp[1], pp[2], pp[3]);
    cp += toskew;
    pp += fromskew;
  }
}

// The same from four planes.
void PutRawCMYKSeparate(TIFFRGBAImage* img, uint32_t* cp, uint32_t, uint32_t, uint32_t w, uint32_t h,
                        int32_t fromskew, int32_t toskew, unsigned char* c, unsigned char* m, unsigned char* y,
                        unsigned char* k) {
  for (; h > 0; --h) {
    for (uint32_t x = 0; x < w; ++x) *cp++ = PackSamples(img, *c++, *m++, *y++, *k++);
    c += fromskew;
    m += fromskew;
    y += fromskew;
    k += fromskew;
    cp += toskew;
  }
}

// The reading's progress hook: the thread's callback, heard only by the outermost call; a
// reply of 0 asks for the stop.
int ReportBand(uint32_t row, uint32_t rows, uintptr_t) { return ReportProgress(row, rows, false) ? 0 : 1; }

// Rewrites an unspecified first extra sample as associated (1) or unassociated (2) alpha.
void ApplyAlphaOverride(TIFF* tif, int32_t override) {
  if (override != EXTRASAMPLE_ASSOCALPHA && override != EXTRASAMPLE_UNASSALPHA) return;
  uint16_t count = 0;
  uint16_t* info = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &info) || count == 0 || !info ||
      info[0] != EXTRASAMPLE_UNSPECIFIED)
    return;
  ISArray<uint16_t> values;
  if (!values.Assign(info, count)) return;
  values[0] = static_cast<uint16_t>(override);
  TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, count, values.Data());
}

// Ends an RGBA read on every way out.
class RGBAImageHolder {
 public:
  explicit RGBAImageHolder(TIFFRGBAImage* img) : img_(img) {}
  ~RGBAImageHolder() { TIFFRGBAImageEnd(img_); }
  RGBAImageHolder(const RGBAImageHolder&) = delete;
  RGBAImageHolder& operator=(const RGBAImageHolder&) = delete;

 private:
  TIFFRGBAImage* img_;
};

// What the raster holds where the data gave nothing: R, G, B mid grey (as a cut JPEG file's
// missing blocks decode), A opaque.
constexpr uint32_t kUndecodedPixel = 0x80u | 0x80u << 8 | 0x80u << 16 | 0xFFu << 24;

// Where a strip or tile lands in the raster and how libtiff's put routines walk it: the raster
// is bottom row first, so each row moves back by the raster's width plus the area's.
struct RasterArea {
  uint32_t x, y, width, rows;
  uint32_t skip;  // pixels of each stored row left of or past the area
};

// The page's strips or tiles through the put routine libtiff chose for it: each decoded as far
// as its data goes (every used plane), its decoded rows converted into the raster; the rest
// keep the fill. onBand(rows done) after each strip or row of tiles; false stops the read.
template <typename OnBand>
bool PutPage(ISErrorCode& error, TIFFRGBAImage& img, const uint16_t* planes, uint32_t planeCount, uint32_t width,
             uint32_t height, uint32_t* raster, OnBand&& onBand) {
  TIFF* tif = img.tif;
  const bool tiled = TIFFIsTiled(tif) != 0;
  uint32_t bandWidth = width, bandRows = 0;
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &bandWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &bandRows);
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &bandRows);
    bandRows = std::min(bandRows, height);
  }
  const uint64_t bufferBytes = tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
  if (bandWidth == 0 || bandRows == 0 || bufferBytes == 0) return error = IS_ERR_BADTIFF, false;
  ISArray<uint8_t> buffers[4], raw;
  for (uint32_t p = 0; p < planeCount; ++p)
    if (!ResizeScratch(buffers[p], bufferBytes)) return error = IS_ERR_NOMEM, false;
  const auto put = [&](const RasterArea& a) {
    uint32_t* to = raster + uint64_t{height - 1 - a.y} * width + a.x;
    const auto skew = -static_cast<int32_t>(width + a.width);
    const auto from = static_cast<int32_t>(a.skip);
    if (img.isContig) {
      img.put.contig(&img, to, a.x, height - 1 - a.y, a.width, a.rows, from, skew, buffers[0].Data());
    } else {
      uint8_t* colour[3] = {buffers[0].Data(), buffers[0].Data(), buffers[0].Data()};
      if (planeCount >= 3) colour[1] = buffers[1].Data(), colour[2] = buffers[2].Data();
      uint8_t* alpha = img.alpha ? buffers[planeCount - 1].Data() : nullptr;
      img.put.separate(&img, to, a.x, height - 1 - a.y, a.width, a.rows, from, skew, colour[0], colour[1], colour[2],
                       alpha);
    }
  };
  // Rows [done, rows) of an area that its data did not give: mid grey and opaque.
  const auto fill = [&](uint32_t x, uint32_t y, uint32_t across, uint32_t done, uint32_t rows) {
    for (uint32_t r = done; r < rows; ++r)
      std::fill_n(raster + uint64_t{height - 1 - (y + r)} * width + x, across, kUndecodedPixel);
  };
  // Rows of the strip or tile at (x, y) that every used plane gave.
  const auto decode = [&](uint32_t x, uint32_t y, uint32_t rows) {
    uint32_t done = rows;
    for (uint32_t p = 0; p < planeCount && done > 0; ++p) {
      const uint32_t index = tiled ? TIFFComputeTile(tif, x, y, 0, planes[p]) : TIFFComputeStrip(tif, y, planes[p]);
      done = std::min(done, DecodeTIFFStrile(tif, index, rows, buffers[p].Data(), raw));
    }
    return done;
  };
  for (uint32_t y = 0; y < height; y += std::min(bandRows, height - y)) {
    const uint32_t rows = std::min(bandRows, height - y);
    if (!tiled) {
      const uint32_t done = decode(0, y, rows);
      if (TIFFAllocationRefused(error, tif)) return false;
      if (done > 0) put({0, y, width, done, 0});
      fill(0, y, width, done, rows);
    } else {
      for (uint32_t x = 0; x < width; x += std::min(bandWidth, width - x)) {
        const uint32_t done = std::min(decode(x, y, bandRows), rows);
        if (TIFFAllocationRefused(error, tif)) return false;
        const uint32_t across = std::min(bandWidth, width - x);
        if (done > 0) put({x, y, across, done, bandWidth - across});
        fill(x, y, across, done, rows);
      }
    }
    if (!onBand(y + rows)) return false;
  }
  return true;
}

// Reads the page into `picture` (width x height 32-bit pixels, bytes R, G, B, A), bottom row
// first, without libtiff's own orientation handling. The decode budget has allowed the page;
// rows that cannot be decoded are mid grey and opaque.
bool ReadRGBARaster(ISErrorCode& error, const TIFFPageRead& page, TIFFReadState& state, TIFFPicture& picture) {
  TIFF* tif = page.tif;
  const uint32_t width = page.info.width, height = page.info.height;
  TIFFRGBAImage img;
  uint16_t planes[4] = {0, 1, 2, 3};
  uint32_t planeCount = 1;
  bool opaque = false;
  if (!BeginTIFFRGBA(tif, state, img, planes, &planeCount, &opaque)) return error = IS_ERR_BADTIFF, false;
  RGBAImageHolder holder(&img);
  if (!picture.Allocate(width, height, 32)) return error = IS_ERR_NOMEM, false;
  auto* raster = reinterpret_cast<uint32_t*>(picture.pixels.Data());
  state.error = IS_ERR_OK;
  const bool read = PutPage(error, img, planes, planeCount, width, height, raster, [&](uint32_t rowsDone) {
    if (state.progress && state.progress(rowsDone, height, state.user)) {
      state.error = IS_ERR_STOPPED;
      error = IS_ERR_STOPPED;
      return false;
    }
    return true;
  });
  if (!read) return false;
  if (opaque) {
    auto* bytes = reinterpret_cast<uint8_t*>(raster);
    const uint64_t n = uint64_t{width} * height;
    for (uint64_t i = 0; i < n; ++i) bytes[i * 4 + 3] = 255;
  }
  return true;
}

const char* PhotometricName(uint16_t photometric) {
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE: return "white-is-zero";
    case PHOTOMETRIC_MINISBLACK: return "black-is-zero";
    case PHOTOMETRIC_RGB: return "RGB";
    case PHOTOMETRIC_PALETTE: return "palette";
    case PHOTOMETRIC_MASK: return "mask";
    case PHOTOMETRIC_SEPARATED: return "separated";
    case PHOTOMETRIC_YCBCR: return "YCbCr";
    case PHOTOMETRIC_CIELAB: return "CIE L*a*b*";
    case PHOTOMETRIC_LOGL: return "LogL";
    case PHOTOMETRIC_LOGLUV: return "LogLuv";
    default: return "other";
  }
}

// Why the conversion refused the page: what the page is, then libtiff's words.
void TellNotConverted(TIFF* tif, const char* words) {
  uint16_t photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  char reason[kMaxWarningText + 1];
  std::snprintf(reason, sizeof reason,
                "TIFF page of %s samples in %s planes (compression %u) cannot be converted to colour: %s",
                PhotometricName(photometric), planar == PLANARCONFIG_SEPARATE ? "separate" : "contiguous",
                static_cast<unsigned>(compression), words[0] ? words : "no conversion for this layout");
  ReplaceLastWarning(reason);
}

}  // namespace

bool BeginTIFFRGBA(TIFF* tif, const TIFFReadState& state, TIFFRGBAImage& img, uint16_t planes[4], uint32_t* planeCount,
                   bool* opaque) {
  char message[1024] = {};
  // An override of 0 (no alpha): the page is read as libtiff reads it, and every alpha byte
  // then set opaque; the colour bytes are the same either way.
  *opaque = false;
  if (state.alphaOverride == 0) {
    uint16_t count = 0;
    uint16_t* info = nullptr;
    *opaque = TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &info) && count > 0 && info &&
              info[0] == EXTRASAMPLE_UNSPECIFIED;
  } else {
    ApplyAlphaOverride(tif, state.alphaOverride);
  }
  std::memset(&img, 0, sizeof img);
  if (!TIFFRGBAImageBegin(&img, tif, 1, message)) {
    TIFFTrace("%s\n", message);
    TellNotConverted(tif, message);
    return false;
  }
  if (state.rawCMYK && img.photometric == PHOTOMETRIC_SEPARATED && img.bitspersample == 8 &&
      img.samplesperpixel >= 4) {
    if (img.isContig)
      img.put.contig = PutRawCMYKContig;
    else
      img.put.separate = PutRawCMYKSeparate;
  }
  if (img.isContig ? !img.put.contig : !img.put.separate) {
    TIFFRGBAImageEnd(&img);
    TellNotConverted(tif, "");
    return false;
  }
  // The planes libtiff's conversion takes: one grey or three colour planes, then the alpha (or
  // the black of CMYK) plane after them when it uses one. Extra samples it does not use are
  // never read, so their strips may be missing.
  for (uint16_t p = 0; p < 4; ++p) planes[p] = p;
  *planeCount = 1;
  if (!img.isContig) {
    const bool grey = img.photometric == PHOTOMETRIC_MINISWHITE || img.photometric == PHOTOMETRIC_MINISBLACK ||
                      img.photometric == PHOTOMETRIC_PALETTE;
    *planeCount = grey ? 1 : 3;
    if (img.alpha) planes[(*planeCount)++] = static_cast<uint16_t>(grey ? 1 : 3);
  }
  return true;
}

void* ReadTIFFTrueColor(ISErrorCode& error, TIFFPageRead& page, uint32_t bits, uint32_t* width, uint32_t* height) {
  if (bits != 24 && bits != 32) {
    TIFFTrace("Invalid bpp in ReadTIFFTrueColor!");
    return error = IS_ERR_INTERNAL, nullptr;
  }
  char message[1024] = {};
  if (!TIFFRGBAImageOK(page.tif, message)) {
    TIFFTrace("%s\n", message);
    return error = IS_ERR_BADTIFF, nullptr;
  }
  TIFFClientData* client = TIFFClientOf(page.tif);
  const bool dib = page.flags & kTIFFAsStored;
  const uint32_t w = page.info.width, h = page.info.height;
  TIFFPicture picture;
  client->state.progress = ReportBand;
  if (!ReadRGBARaster(error, page, client->state, picture)) return nullptr;
  uint8_t* p = picture.pixels.Data();
  const uint64_t n = uint64_t{w} * h;
  if (dib && bits == 32) SwapRB32Run(p, w, h);
  if (bits == 24) {
    // R, G, B, A to R, G, B packed (B, G, R as stored), in place.
    for (uint64_t i = 0; i < n; ++i) {
      const uint8_t r = p[i * 4], g = p[i * 4 + 1], b = p[i * 4 + 2];
      p[i * 3] = dib ? b : r;
      p[i * 3 + 1] = g;
      p[i * 3 + 2] = dib ? r : b;
    }
    picture.bits = 24;
  }
  if (!OrientTIFFPicture(error, picture, page.Orientation(), dib)) return nullptr;
  return FinishTIFFPicture(error, page.tif, picture, dib, false, nullptr, 0, width, height);
}
