// The true-colour reader: libtiff's RGBA image interface, read band by band (one strip or row
// of tiles at a time) with progress and a stop after each band, own put routines for raw
// CMYK, and the alpha override of pages whose extra sample is unspecified.
#include <algorithm>
#include <cstring>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISPixelHelpers.h"
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

// Reads the page into `raster` (width x height 32-bit pixels, bytes R, G, B, A), bottom row
// first, without libtiff's own orientation handling.
bool ReadRGBARaster(ISErrorCode& error, TIFF* tif, TIFFReadState& state, uint32_t width, uint32_t height,
                    uint32_t* raster) {
  char message[1024] = {};
  // An override of 0 (no alpha): the page is read as libtiff reads it, and every alpha byte
  // then set opaque; the colour bytes are the same either way.
  bool opaque = false;
  if (state.alphaOverride == 0) {
    uint16_t count = 0;
    uint16_t* info = nullptr;
    opaque = TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &info) && count > 0 && info &&
             info[0] == EXTRASAMPLE_UNSPECIFIED;
  } else {
    ApplyAlphaOverride(tif, state.alphaOverride);
  }
  TIFFRGBAImage img;
  std::memset(&img, 0, sizeof img);
  if (!TIFFRGBAImageBegin(&img, tif, 1, message)) {
    TIFFTrace("%s\n", message);
    return error = IS_ERR_BADTIFF, false;
  }
  RGBAImageHolder holder(&img);
  // The orientation step applies the Orientation tag once, so libtiff reads every page as if
  // it were stored top-left; the requested bottom-left origin gives rows bottom first.
  img.orientation = ORIENTATION_TOPLEFT;
  img.req_orientation = ORIENTATION_BOTLEFT;
  if (state.rawCMYK && img.photometric == PHOTOMETRIC_SEPARATED && img.bitspersample == 8 &&
      img.samplesperpixel >= 4) {
    if (img.isContig)
      img.put.contig = PutRawCMYKContig;
    else
      img.put.separate = PutRawCMYKSeparate;
  }
  uint32_t band = 0;
  if (TIFFIsTiled(tif))
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &band);
  else
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band);
  band = std::max<uint32_t>(1, std::min(band, height));
  state.error = IS_ERR_OK;
  for (uint32_t row = 0; row < height; row += band) {
    const uint32_t rows = std::min(band, height - row);
    img.row_offset = static_cast<int>(row);
    img.col_offset = 0;
    if (!TIFFRGBAImageGet(&img, raster + uint64_t{height - row - rows} * width, width, rows))
      return error = state.error ? state.error : IS_ERR_BADTIFF, false;
    if (state.progress && state.progress(row + rows, height, state.user)) {
      state.error = IS_ERR_STOPPED;
      return error = IS_ERR_STOPPED, false;
    }
  }
  if (opaque) {
    auto* bytes = reinterpret_cast<uint8_t*>(raster);
    const uint64_t n = uint64_t{width} * height;
    for (uint64_t i = 0; i < n; ++i) bytes[i * 4 + 3] = 255;
  }
  return true;
}

}  // namespace

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
  if (!picture.Allocate(w, h, 32)) return error = IS_ERR_NOMEM, nullptr;
  client->state.progress = ReportBand;
  if (!ReadRGBARaster(error, page.tif, client->state, w, h, reinterpret_cast<uint32_t*>(picture.pixels.Data())))
    return nullptr;
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
