// The PNG writer: IHDR, PLTE and tRNS from the palette, bKGD, tIME, pHYs, gAMA, the thread's
// texts, XMP packet, EXIF block and ICC profile, then every row of every pass with progress.
// Errors: 1, 4 (any libpng error, the sink refusing bytes), 5, 14, 16; a failed write returns 0.
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "imaging/core/ISContainers.h"
#include "imaging/formats/png/CISPNGCodec.h"

namespace {

using RovIrirev::ISException;

// The write and info structures of one write, destroyed on every way out.
struct PNGWriteHandles {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PNGWriteHandles() = default;
  PNGWriteHandles(const PNGWriteHandles&) = delete;
  PNGWriteHandles& operator=(const PNGWriteHandles&) = delete;
  ~PNGWriteHandles() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  }
};

png_color_16 ToPNGColour(const ISColor16& c) {
  png_color_16 out{};
  out.index = c.index;
  out.red = c.red;
  out.green = c.green;
  out.blue = c.blue;
  out.gray = c.gray;
  return out;
}

}  // namespace

BOOL CISPNGCodec::WritePNG(CISIO& sink, const BYTE* pixels, DWORD width, DWORD height, DWORD rowStride,
                           DWORD bitsPerChannel, DWORD paletteColours, const RGBQUAD* palette, DWORD colourType,
                           double gamma, DWORD flags) {
  error = IS_ERR_OK;
  const bool hasPalette = paletteColours >= 1 && paletteColours <= 256;
  if (!pixels || (hasPalette && !palette)) return Fail(IS_ERR_BADPARAM);
  ISThreadState* ts = GetThreadState();
  if (!ts) return Fail(IS_ERR_NOSTATE);
  const ISPNGOptions& options = ts->png;

  PNGWriteHandles h;
  PNGWriteTarget target;
  target.sink = &sink;
  try {
    h.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PNGErrorHook, PNGWarningHook);
    if (!h.png) return Fail(IS_ERR_PNGINTERNAL);
    h.info = png_create_info_struct(h.png);
    if (!h.info) return Fail(IS_ERR_PNGINTERNAL);

    const size_t textCount = options.textsToWrite.size();
    png_set_write_fn(h.png, &target, PNGWriteCallback, PNGFlushCallback);
    // Every picture the readers may give is written, whatever its sides (libpng's own limit
    // is a million pixels a side).
    png_set_user_limits(h.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_IHDR(h.png, h.info, width, height, static_cast<int>(bitsPerChannel), static_cast<int>(colourType),
                 (flags & kPNGWriteInterlaced) ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);

    const bool transparentColour = (options.transparencySwitch & 0xFF) != 0;
    png_color_16 transColour = ToPNGColour(options.transparentColour);
    png_color_16 background = ToPNGColour(options.defaultBackground);
    if (hasPalette) {
      png_color plte[256];
      for (DWORD i = 0; i < paletteColours; ++i) {
        plte[i].red = palette[i].rgbRed;
        plte[i].green = palette[i].rgbGreen;
        plte[i].blue = palette[i].rgbBlue;
      }
      png_set_PLTE(h.png, h.info, plte, static_cast<int>(paletteColours));
      if ((colourType & 3) != 0 && (flags & kPNGWritePaletteAlpha)) {
        // Palette alphas belong to paletted images only; for colour images tRNS holds one
        // transparent colour, written only when the thread names one.
        if (colourType == PNG_COLOR_TYPE_PALETTE) {
          png_byte alphas[256];
          for (DWORD i = 0; i < paletteColours; ++i) alphas[i] = palette[i].rgbReserved;
          png_set_tRNS(h.png, h.info, alphas, static_cast<int>(paletteColours),
                       transparentColour ? &transColour : nullptr);
        } else if (transparentColour) {
          png_set_tRNS(h.png, h.info, nullptr, 0, &transColour);
        }
      }
      png_set_bKGD(h.png, h.info, &background);
    } else if (transparentColour) {
      png_set_tRNS(h.png, h.info, nullptr, 0, &transColour);
    }

    std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (gmtime_r(&now, &utc)) {
      png_time stamp{};
      png_convert_from_struct_tm(&stamp, &utc);
      png_set_tIME(h.png, h.info, &stamp);
    }
    if (colourType & PNG_COLOR_MASK_ALPHA) png_set_bKGD(h.png, h.info, &background);
    png_set_pHYs(h.png, h.info, resolutionX, resolutionY, static_cast<int>(resolutionUnit));
    if (gamma > 0.0) png_set_gAMA(h.png, h.info, gamma);

    if (textCount) {
      std::vector<png_text> texts(textCount);
      for (size_t i = 0; i < textCount; ++i) {
        const ISKeyTextPair& entry = options.textsToWrite[i];
        texts[i].compression = entry.compressed ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE;
        texts[i].key = const_cast<png_charp>(entry.key.c_str());
        texts[i].text = const_cast<png_charp>(entry.text.c_str());
        texts[i].text_length = entry.text.size();
      }
      png_set_text(h.png, h.info, texts.data(), static_cast<int>(textCount));
    }
    if (!ts->iccProfile.Empty()) {
      // libpng checks the profile against the picture; one it refuses is left out, and the
      // picture is still written.
      try {
        png_set_iCCP(h.png, h.info, "icm", 0, ts->iccProfile.Data(), ts->iccProfile.Count());
      } catch (const ISException& e) {
        if (e.Code()) throw;
        const std::string why = std::string("colour profile left out: ") + e.what();
        SetLastWarning(why.c_str());
      }
    }
    if (!ts->png.xmp.Empty()) {
      // The XMP packet as an uncompressed international text chunk, as XMP readers look for it.
      const std::string xmpText(reinterpret_cast<const char*>(ts->png.xmp.Data()), ts->png.xmp.Count());
      png_text xmp{};
      xmp.compression = PNG_ITXT_COMPRESSION_NONE;
      xmp.key = const_cast<png_charp>("XML:com.adobe.xmp");
      xmp.text = const_cast<png_charp>(xmpText.c_str());
      xmp.itxt_length = xmpText.size();
      xmp.lang = const_cast<png_charp>("");
      xmp.lang_key = const_cast<png_charp>("");
      png_set_text(h.png, h.info, &xmp, 1);
    }
    // The EXIF block as an eXIf chunk, which holds its TIFF structure without the APP1 name.
    static const BYTE kExifName[6] = {'E', 'x', 'i', 'f', 0, 0};
    const ISArray<unsigned char>& exif = ts->png.exif;
    const uint32_t exifName = exif.Count() >= 6 && std::memcmp(exif.Data(), kExifName, 6) == 0 ? 6 : 0;
    if (exif.Count() > exifName + 8)
      png_set_eXIf_1(h.png, h.info, exif.Count() - exifName, const_cast<png_bytep>(exif.Data() + exifName));

    png_write_info(h.png, h.info);
    // libpng would write the eXIf chunk once more after the image data: one is all a file may
    // have.
    png_free_data(h.png, h.info, PNG_FREE_EXIF, -1);
    if (bitsPerChannel == 16) png_set_swap(h.png);  // the caller's samples are little-endian

    const int passes = png_set_interlace_handling(h.png);
    const png_uint_32 rows = png_get_image_height(h.png, h.info);
    uint64_t k = 0;
    uint64_t reported = UINT64_MAX;
    for (int pass = 0; pass < passes; ++pass) {
      for (png_uint_32 y = 0; y < rows; ++y) {
        png_write_row(h.png, pixels + uint64_t{y} * rowStride);
        const uint64_t value = k / static_cast<uint64_t>(passes);
        ++k;
        if (value != reported) {
          reported = value;
          if (!ReportProgress(static_cast<DWORD>(value), rows, false)) return Fail(IS_ERR_STOPPED);
        }
      }
    }
    png_write_end(h.png, h.info);
  } catch (const ISException& e) {
    return Fail(e.Code() ? e.Code() : IS_ERR_WRITE);
  } catch (const std::bad_alloc&) {
    return Fail(IS_ERR_NOMEM);
  }
  // The sink's size; a sink that cannot tell it answers with the bytes this write gave it.
  uint32_t size = 0;
  uint64_t result = sink.GetSize(&size) ? size : target.written;
  if (result > INT32_MAX) result = INT32_MAX;
  return static_cast<BOOL>(result);
}
