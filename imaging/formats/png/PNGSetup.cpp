// The colour, gamma, background and text set-up that the PNG readers share, and the writer's
// resolution triple.
#include <algorithm>
#include <cstring>
#include <string>

#include <zlib.h>

#include "imaging/formats/MetadataRead.h"
#include "imaging/formats/png/CISPNGCodec.h"

namespace {

constexpr double kAssumedFileGamma = 0.45455;

RGBQUAD Entry(BYTE red, BYTE green, BYTE blue) { return RGBQUAD{blue, green, red, 255}; }

// Entries from `count` on become copies of entry 0, with 255 as their fourth byte.
void FillWithFirst(RGBQUAD* palette, int count) {
  for (int i = std::max(count, 1); i < 256; ++i) palette[i] = Entry(palette[0].rgbRed, palette[0].rgbGreen, palette[0].rgbBlue);
}

// The file's PLTE as B, G, R, 255, or the identity ramp when there is none.
void FillFromPLTE(png_structp png, png_infop info, RGBQUAD* palette) {
  png_colorp plte = nullptr;
  int count = 0;
  if (png_get_PLTE(png, info, &plte, &count) && plte && count > 0) {
    count = std::min(count, 256);
    for (int i = 0; i < count; ++i) palette[i] = Entry(plte[i].red, plte[i].green, plte[i].blue);
    FillWithFirst(palette, count);
  } else {
    for (int i = 0; i < 256; ++i) palette[i] = Entry(BYTE(i), BYTE(i), BYTE(i));
  }
}

// The 2^bits evenly spread grey levels, when they fit the table; later entries copy entry 0.
void FillGreyLevels(RGBQUAD* palette, int bits) {
  if (bits < 1 || bits > 8) return;
  png_color levels[256];
  png_build_grayscale_palette(bits, levels);
  const int count = 1 << bits;
  for (int i = 0; i < count; ++i) palette[i] = Entry(levels[i].red, levels[i].green, levels[i].blue);
  FillWithFirst(palette, count);
}

}  // namespace

void CISPNGCodec::SetResolution(const ISResolution* resolution) {
  if (resolution) {
    resolutionX = resolution->x;
    resolutionY = resolution->y;
    resolutionUnit = resolution->unit;
  } else {
    resolutionX = 1;
    resolutionY = 1;
    resolutionUnit = 0;
  }
}

BOOL SetupDepthAndPalette(png_structp png, png_infop info, RGBQUAD* palette, DWORD depth, int bitDepth,
                          int colourType) {
  // A request deeper than the file's samples (16 bits of a 1-bit file).
  if (depth < 24 && depth / 8 > static_cast<DWORD>(bitDepth)) return FALSE;
  if (depth == 24) {
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_expand(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    return TRUE;
  }
  if (depth != 8 && depth != 4 && depth != 1) return TRUE;  // 16 and 48: nothing to set
  if (!palette) return FALSE;
  std::memset(palette, 0, 256 * sizeof(RGBQUAD));
  if (depth == 8) png_set_packing(png);  // pixels below 8 bits become one byte each
  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    FillFromPLTE(png, info, palette);
  } else if (colourType == PNG_COLOR_TYPE_GRAY) {
    FillGreyLevels(palette, depth == 1 ? bitDepth : std::min(bitDepth, 8));
  } else {
    return FALSE;
  }
  if (depth != 1 && colourType == PNG_COLOR_TYPE_PALETTE) {
    png_bytep alphas = nullptr;
    int count = 0;
    png_color_16p colour = nullptr;
    if (png_get_tRNS(png, info, &alphas, &count, &colour) && alphas && count > 0) {
      count = std::min(count, 256);
      for (int i = 0; i < count; ++i) palette[i].rgbReserved = alphas[i];
    }
  }
  return TRUE;
}

void RecordFileBackground(png_structp png, png_infop info) {
  ISThreadState* ts = GetThreadState();
  if (!ts) return;
  ISColor16& out = ts->png.fileBackground;
  png_color_16p bkgd = nullptr;
  if (png_get_bKGD(png, info, &bkgd) && bkgd) {
    out.index = bkgd->index;
    out.red = bkgd->red;
    out.green = bkgd->green;
    out.blue = bkgd->blue;
    out.gray = bkgd->gray;
  } else {
    out = ISColor16();
  }
}

// Gamma correction only on request and only for files without an sRGB chunk. Otherwise the
// file and screen gammas are both set to 1, so that libpng composites transparent pixels onto
// the background as a plain blend of the stored values rather than in linear light.
void SetupGamma(png_structp png, png_infop info, DWORD options) {
  ISThreadState* ts = GetThreadState();
  const double display = ts ? ts->png.displayGamma : 0.0;
  double fileGamma = display != 0.0 ? 1.0 / display : kAssumedFileGamma;
  int intent = 0;
  const bool sRGB = png_get_sRGB(png, info, &intent) != 0;
  if (!sRGB && (options & kPNGReadGamma) && display > 0.0) {
    double stored = 0.0;
    if (png_get_gAMA(png, info, &stored) && stored > 0.0) fileGamma = stored;
    if (fileGamma > 0.0) {
      png_set_gamma(png, display, fileGamma);
      return;
    }
  }
  png_set_gamma(png, 1.0, 1.0);
}

void CaptureTextChunks(png_structp png, png_infop info, std::vector<ISKeyTextPair>& texts) {
  png_textp chunks = nullptr;
  int count = 0;
  png_get_text(png, info, &chunks, &count);
  if (!chunks) return;
  for (int i = 0; i < count; ++i) {
    const png_text& t = chunks[i];
    // International text chunks are not part of the texts read.
    if (t.compression != PNG_TEXT_COMPRESSION_NONE && t.compression != PNG_TEXT_COMPRESSION_zTXt) continue;
    std::string key = t.key ? std::string(t.key) : std::string();
    std::string text = t.text ? std::string(t.text, t.text_length) : std::string();
    texts.emplace_back(std::move(key), std::move(text), t.compression == PNG_TEXT_COMPRESSION_zTXt ? 1u : 0u);
  }
}

void KeepPNGProfile(png_structp png, png_infop info) {
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile) {
    // libpng kept the profile: a warning it gave about it ("known incorrect sRGB profile") did
    // not leave it out.
    if (ISThreadState* ts = GetThreadState()) ts->metadataRead.notes[IS_META_ICC - 1].clear();
    KeepICCProfileRead(profile, length, "PNG iCCP chunk");
  }
}

namespace {

constexpr size_t kMaxXMPBytes = size_t{16} << 20;

// The text of a compressed iTXt chunk, inflated up to kMaxXMPBytes; empty with why when it
// inflates past that or is damaged.
std::string InflateText(const uint8_t* data, size_t size, std::string* why) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return *why = "zlib could not be started", std::string();
  std::string text;
  uint8_t buffer[16384];
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    result = inflate(&z, Z_NO_FLUSH);
    const size_t got = sizeof buffer - z.avail_out;
    if (text.size() + got > kMaxXMPBytes) {
      inflateEnd(&z);
      return *why = "it inflates past " + std::to_string(kMaxXMPBytes >> 20) + " MB", std::string();
    }
    text.append(reinterpret_cast<const char*>(buffer), got);
    if (result == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  const std::string message = z.msg ? z.msg : "";
  inflateEnd(&z);
  if (result != Z_STREAM_END)
    return *why = "its compressed text is damaged (" + (message.empty() ? std::string("cut short") : message) + ")",
           std::string();
  return text;
}

// The position after the zero that ends a field starting at `from`, or 0 when none does.
size_t AfterField(const uint8_t* data, size_t size, size_t from) {
  const void* zero = from < size ? std::memchr(data + from, 0, size - from) : nullptr;
  return zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) + 1 : 0;
}

}  // namespace

void KeepPNGXMP(png_structp png, png_infop info) {
  // iTXt chunks come whole, as unknown chunks: {keyword, 0, compressed, method, language, 0,
  // translated keyword, 0, text}.
  png_unknown_chunkp chunks = nullptr;
  const int count = png_get_unknown_chunks(png, info, &chunks);
  static const char kKey[] = "XML:com.adobe.xmp";
  for (int i = 0; chunks && i < count; ++i) {
    const png_unknown_chunk& c = chunks[i];
    if (std::memcmp(c.name, "iTXt", 4) != 0 || !c.data || c.size < sizeof kKey ||
        std::memcmp(c.data, kKey, sizeof kKey) != 0)
      continue;
    const size_t flags = sizeof kKey;
    const size_t language = flags + 2 <= c.size ? AfterField(c.data, c.size, flags + 2) : 0;
    const size_t text = language ? AfterField(c.data, c.size, language) : 0;
    if (!text) {
      NoteMetadataLeftOut(IS_META_XMP, "its PNG iTXt chunk is malformed");
      return;
    }
    if (c.data[flags] == 0) {
      const uint8_t* packet = c.data + text;
      const void* zero = std::memchr(packet, 0, c.size - text);
      KeepMetadataRead(IS_META_XMP, packet, zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - packet)
                                                 : c.size - text);
      return;
    }
    std::string why;
    const std::string packet = InflateText(c.data + text, c.size - text, &why);
    if (!why.empty())
      NoteMetadataLeftOut(IS_META_XMP, why.c_str());
    else
      KeepMetadataRead(IS_META_XMP, reinterpret_cast<const uint8_t*>(packet.c_str()), std::strlen(packet.c_str()));
    return;
  }
}

void KeepPNGExif(png_structp png, png_infop info) {
  png_uint_32 length = 0;
  png_bytep data = nullptr;
  if (!png_get_eXIf_1(png, info, &length, &data) || !data) return;
  // The first eXIf chunk is the file's: a second one libpng skipped left nothing out.
  if (ISThreadState* ts = GetThreadState()) ts->metadataRead.notes[IS_META_EXIF - 1].clear();
  if (!IsTIFFHeader(data, length)) {
    NoteMetadataLeftOut(IS_META_EXIF, "its PNG eXIf chunk holds no TIFF structure");
    return;
  }
  // Kept as a JPEG APP1 payload: the "Exif" name first.
  std::string payload("Exif\0\0", 6);
  payload.append(reinterpret_cast<const char*>(data), length);
  KeepMetadataRead(IS_META_EXIF, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
}

void ClearTextsRead() {
  if (ISThreadState* ts = GetThreadState()) ts->png.textsRead.clear();
}
