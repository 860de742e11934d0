#include "tiff_test_util.h"

#include <tiffio.h>

#include <cstring>

#include "platform/global_memory.h"

namespace tifftest {

Bytes WriteTIFFPages(const std::vector<Page>& pages) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("page.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  for (const Page& p : pages) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression);
    if (p.photometric != kNoTag) TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.photometric);
    if (p.orientation != kNoTag) TIFFSetField(tif, TIFFTAG_ORIENTATION, p.orientation);
    if (!p.colourMap.empty()) {
      const size_t n = p.colourMap.size() / 3;
      TIFFSetField(tif, TIFFTAG_COLORMAP, p.colourMap.data(), p.colourMap.data() + n, p.colourMap.data() + 2 * n);
    }
    if (!p.extraSamples.empty())
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(p.extraSamples.size()), p.extraSamples.data());
    if (p.inkSet) TIFFSetField(tif, TIFFTAG_INKSET, p.inkSet);
    if (p.xResolution > 0.0f) {
      TIFFSetField(tif, TIFFTAG_XRESOLUTION, p.xResolution);
      TIFFSetField(tif, TIFFTAG_YRESOLUTION, p.yResolution);
      TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, p.resolutionUnit);
    }
    const uint64_t rowBytes = p.RowBytes();
    if (p.tileWidth) {
      TIFFSetField(tif, TIFFTAG_TILEWIDTH, p.tileWidth);
      TIFFSetField(tif, TIFFTAG_TILELENGTH, p.tileLength);
      const tmsize_t tileRow = TIFFTileRowSize(tif);
      Bytes tile(static_cast<size_t>(TIFFTileSize(tif)));
      for (uint32_t ty = 0; ty < p.height; ty += p.tileLength)
        for (uint32_t tx = 0; tx < p.width; tx += p.tileWidth) {
          std::fill(tile.begin(), tile.end(), 0);
          const uint64_t x0 = uint64_t{tx} * p.bits * p.samples / 8;
          for (uint32_t r = 0; r < p.tileLength && ty + r < p.height; ++r) {
            const uint64_t n = std::min<uint64_t>(tileRow, rowBytes - x0);
            std::memcpy(tile.data() + r * tileRow, p.data.data() + (ty + r) * rowBytes + x0, n);
          }
          if (TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) < 0) return TIFFClose(tif), Bytes{};
        }
    } else {
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, p.rowsPerStrip ? p.rowsPerStrip : TIFFDefaultStripSize(tif, 0));
      Bytes row(rowBytes);
      for (uint32_t y = 0; y < p.height; ++y) {
        std::memcpy(row.data(), p.data.data() + y * rowBytes, rowBytes);
        if (TIFFWriteScanline(tif, row.data(), y, 0) < 0) return TIFFClose(tif), Bytes{};
      }
    }
    if (!TIFFWriteDirectory(tif)) return TIFFClose(tif), Bytes{};
  }
  TIFFClose(tif);
  return qrvtest::ReadFileBytes(path);
}

uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
// Entry `index` of a SHORT or LONG array tag (StripOffsets and the like) of a little-endian
// file's first IFD: where it lies and its width in bytes.
static std::pair<size_t, size_t> EntryAt(const Bytes& file, uint16_t tag, uint32_t index) {
  const size_t ifd = Get32(file, 4);
  const uint32_t n = file[ifd] | file[ifd + 1] << 8;
  for (uint32_t i = 0; i < n; ++i) {
    const size_t e = ifd + 2 + 12 * i;
    if ((file[e] | file[e + 1] << 8) != tag) continue;
    const size_t width = (file[e + 2] | file[e + 3] << 8) == TIFF_SHORT ? 2 : 4;
    const size_t array = Get32(file, e + 4) * width <= 4 ? e + 8 : Get32(file, e + 8);
    return {array + width * index, width};
  }
  return {0, 0};
}
uint32_t GetEntry(const Bytes& file, uint16_t tag, uint32_t index) {
  const auto at = EntryAt(file, tag, index);
  return at.second == 2 ? (file[at.first] | file[at.first + 1] << 8) : Get32(file, at.first);
}
void SetEntry(Bytes& file, uint16_t tag, uint32_t index, uint32_t v) {
  const auto at = EntryAt(file, tag, index);
  for (size_t i = 0; i < at.second; ++i) file[at.first + i] = static_cast<uint8_t>(v >> (8 * i));
}
// Moves strip or tile `index` to the end of the file and keeps `keep` of its bytes (a file cut
// inside that strip's data), or with `keep` 0 leaves it where it is with byte count 0.
Bytes Damaged(Bytes file, bool tiled, uint32_t index, double keep) {
  const uint16_t offsets = tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS;
  const uint16_t counts = tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS;
  if (keep == 0) {
    SetEntry(file, counts, index, 0);
    return file;
  }
  const uint32_t offset = GetEntry(file, offsets, index), count = GetEntry(file, counts, index);
  SetEntry(file, offsets, index, static_cast<uint32_t>(file.size()));
  const Bytes data(file.begin() + offset, file.begin() + offset + static_cast<long>(count * keep));
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

ReadResult ReadTIFFBytes(const Bytes& file, DWORD bits, DWORD page, DWORD flags, bool withPalette) {
  return qrvtest::ReadFromMemory(file, [&](ISIOHandle src, DWORD* w, DWORD* h, RGBQUAD* palette) {
    return ISReadTIFF(src, w, h, bits, withPalette ? palette : nullptr, page, flags);
  });
}

Bytes Upright(const Bytes& stored, uint32_t w, uint32_t h, uint32_t bpp, uint32_t o, uint32_t* ow, uint32_t* oh) {
  const bool turned = o >= 5 && o <= 8;
  const uint32_t W = turned ? h : w, H = turned ? w : h;
  Bytes out(size_t{W} * H * bpp);
  for (uint32_t y2 = 0; y2 < H; ++y2)
    for (uint32_t x2 = 0; x2 < W; ++x2) {
      uint32_t x = x2, y = y2;
      switch (o) {
        case 2: x = w - 1 - x2; break;
        case 3: x = w - 1 - x2; y = h - 1 - y2; break;
        case 4: y = h - 1 - y2; break;
        case 5: x = y2; y = x2; break;
        case 6: x = y2; y = h - 1 - x2; break;
        case 7: x = w - 1 - y2; y = h - 1 - x2; break;
        case 8: x = w - 1 - y2; y = x2; break;
        default: break;
      }
      std::memcpy(&out[(size_t{y2} * W + x2) * bpp], &stored[(size_t{y} * w + x) * bpp], bpp);
    }
  *ow = W;
  *oh = H;
  return out;
}

Bytes Unpack1(const Bytes& packed, uint32_t w, uint32_t h, uint64_t rowBytes) {
  Bytes out(size_t{w} * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) out[size_t{y} * w + x] = (packed[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
  return out;
}

Bytes Pack1(const Bytes& bytes, uint32_t w, uint32_t h) {
  const uint32_t rowBytes = (w + 7) / 8;
  Bytes out(size_t{rowBytes} * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      if (bytes[size_t{y} * w + x]) out[size_t{y} * rowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return out;
}

std::vector<Bytes> Tiff2RGBAPages(const std::string& path, std::vector<uint32_t>* widths,
                                  std::vector<uint32_t>* heights) {
  std::vector<Bytes> pages;
  qrvtest::TempDir dir;
  const std::string out = dir.File("rgba.tif");
  int status = 0;
  qrvtest::RunCommand("tiff2rgba -c none '" + path + "' '" + out + "' 2>/dev/null", &status);
  if (status != 0) return pages;
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(out.c_str(), "r");
  if (!tif) return pages;
  do {
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    Bytes rgba(size_t{w} * h * 4);
    if (!TIFFReadRGBAImageOriented(tif, w, h, reinterpret_cast<uint32_t*>(rgba.data()), ORIENTATION_TOPLEFT, 0))
      break;
    pages.push_back(std::move(rgba));
    widths->push_back(w);
    heights->push_back(h);
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

}  // namespace tifftest
