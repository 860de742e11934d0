// Windows bitmap writers: plain 1- to 32-bit files (or a packed DIB given whole) and 8-bit
// RLE files. Errors: 1, 4, 5, 14, 24.
#include <cstring>

#include "imaging/core/ISContainers.h"
#include "imaging/core/ISDIB.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/formats/BMPFormat.h"

namespace {

DWORD Fail(ISErrorCode& error, ISErrorCode code) {
  error = code;
  return 0;
}

void PutFileHeader(BYTE* p, DWORD fileSize, DWORD dataOffset) {
  p[0] = 'B';
  p[1] = 'M';
  WriteLE32(p + 2, fileSize);
  WriteLE32(p + 6, 0);
  WriteLE32(p + 10, dataOffset);
}

BITMAPINFOHEADER InfoHeader(DWORD width, DWORD height, DWORD bits, DWORD compression, DWORD imageSize,
                            const LONG* resolution, DWORD colours) {
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = static_cast<LONG>(width);
  h.biHeight = static_cast<LONG>(height);
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biCompression = compression;
  h.biSizeImage = imageSize;
  h.biXPelsPerMeter = resolution ? resolution[0] : 0;
  h.biYPelsPerMeter = resolution ? resolution[1] : 0;
  h.biClrUsed = colours;
  h.biClrImportant = colours;
  return h;
}

// File header, info header and colour table in one write.
bool WriteHead(CISIO& io, DWORD fileSize, DWORD dataOffset, const BITMAPINFOHEADER& info, const RGBQUAD* palette,
               DWORD colours) {
  BYTE head[54 + 1024];
  PutFileHeader(head, fileSize, dataOffset);
  WriteDIBHeader(head + 14, info);
  for (DWORD i = 0; i < colours; ++i) std::memcpy(head + 54 + 4 * i, &palette[i], 4);
  return io.Write(head, 54 + 4 * colours);
}

uint32_t SinkSize(CISIO& io) {
  uint32_t size = 0;
  return io.GetSize(&size) ? size : 0;
}

// A packed DIB given whole: a file header, then the DIB as it stands.
DWORD WritePackedDIB(CISIO& io, ISErrorCode& error, const BYTE* dib) {
  if (ReadLE32(dib) != kDIBHeaderBytes) return Fail(error, IS_ERR_BADPARAM);
  const BITMAPINFOHEADER h = ReadDIBHeader(dib);
  if (h.biWidth < 1 || h.biHeight == 0) return Fail(error, IS_ERR_BADPARAM);
  const uint64_t table = DIBColourCount(h) * 4ull + (h.biCompression == BI_BITFIELDS ? 12 : 0);
  if (DIBColourCount(h) > 256) return Fail(error, IS_ERR_BADPARAM);
  const int64_t height = h.biHeight;
  uint64_t rowsBytes = 0;
  if (h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4)
    rowsBytes = h.biSizeImage;
  else if (!ISMulSize(rowsBytes, DIBRowBytes(static_cast<uint64_t>(h.biWidth), h.biBitCount),
                      static_cast<uint64_t>(height < 0 ? -height : height)))
    return Fail(error, IS_ERR_BADPARAM);
  const uint64_t dibBytes = 40 + table + rowsBytes;
  if (dibBytes + 14 > 0xFFFFFFFFu) return Fail(error, IS_ERR_BADPARAM);
  BYTE fh[14];
  PutFileHeader(fh, static_cast<DWORD>(14 + dibBytes), static_cast<DWORD>(54 + table));
  if (!io.Write(fh, sizeof fh) || !io.Write(dib, static_cast<uint32_t>(dibBytes))) return Fail(error, IS_ERR_WRITE);
  return SinkSize(io);
}

}  // namespace

DWORD WriteBMP(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
               DWORD colourCount, const RGBQUAD* palette, const LONG* resolution, DWORD flags) {
  if (!pixels) return Fail(error, IS_ERR_BADPARAM);
  if (flags & kBMPWritePackedDIB) return WritePackedDIB(io, error, pixels);
  uint64_t inRow = 0;
  switch (bits) {
    case 32: inRow = 4ull * width; colourCount = 0; break;
    case 24: inRow = 3ull * width; colourCount = 0; break;
    case 16: inRow = 2ull * width; colourCount = 0; break;
    case 8: inRow = width; break;
    case 4: inRow = (width + 1ull) / 2; break;
    case 1: inRow = (width + 7ull) / 8; break;
    default: return Fail(error, IS_ERR_BADPARAM);
  }
  if (bits <= 8) {
    // A table the depth cannot index, or none at all, would make a file no reader takes back.
    if (!palette || colourCount > (1u << bits)) return Fail(error, IS_ERR_BADPARAM);
    if (colourCount == 0) colourCount = 1u << bits;
  }
  if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) return Fail(error, IS_ERR_BADPARAM);
  const uint64_t inStride = (flags & kBMPWriteStride4x) ? inRow * 4 : inRow;
  const uint64_t stride = DIBRowBytes(width, bits);
  uint64_t imageBytes = 0;
  if (!ISMulSize(imageBytes, stride, height) || imageBytes + 54 + 4 * colourCount > 0xFFFFFFFFu)
    return Fail(error, IS_ERR_BADPARAM);
  const DWORD dataOffset = 54 + 4 * colourCount;
  const BITMAPINFOHEADER info =
      InfoHeader(width, height, bits, BI_RGB, static_cast<DWORD>(imageBytes), resolution, colourCount);
  if (!WriteHead(io, static_cast<DWORD>(dataOffset + imageBytes), dataOffset, info, palette, colourCount))
    return Fail(error, IS_ERR_WRITE);
  ISArray<BYTE> row;
  if (!ResizeScratch(row, stride)) return Fail(error, IS_ERR_NOMEM);
  std::memset(row.Data(), 0, stride);
  for (uint64_t y = 0; y < height; ++y) {
    if (!ProgressOrStop(error, y, height)) return 0;
    const BYTE* src = pixels + (height - 1 - y) * inStride;
    BYTE* dst = row.Data();
    if (bits == 24 || bits == 32) {
      const uint64_t bpp = bits / 8;
      for (uint64_t x = 0; x < width; ++x, src += bpp, dst += bpp) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        if (bpp == 4) dst[3] = src[3];
      }
    } else {
      std::memcpy(dst, src, inRow);
    }
    if (!io.Write(row.Data(), static_cast<uint32_t>(stride))) return Fail(error, IS_ERR_WRITE);
  }
  return SinkSize(io);
}

DWORD WriteBMPRLE(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height,
                  DWORD colourCount, const RGBQUAD* palette, const LONG* resolution) {
  if (!pixels || !palette || colourCount > 256 || width == 0 || height == 0 || width > 0x7FFFFFFFu ||
      height > 0x7FFFFFFFu)
    return Fail(error, IS_ERR_BADPARAM);
  if (colourCount == 0) colourCount = 256;
  uint32_t start = 0;
  if (!io.Tell(&start)) return Fail(error, IS_ERR_WRITE);
  const DWORD dataOffset = 54 + 4 * colourCount;
  const BITMAPINFOHEADER info = InfoHeader(width, height, 8, BI_RLE8, 0, resolution, colourCount);
  if (!WriteHead(io, 0, dataOffset, info, palette, colourCount)) return Fail(error, IS_ERR_NOMEM);
  // The worst row: a run of 1 (2 bytes) for every pixel that starts a pair, and the row end.
  ISArray<BYTE> out;
  if (!ResizeScratch(out, 2ull * width + 4)) return Fail(error, IS_ERR_NOMEM);
  uint64_t pixelBytes = 0;
  for (uint64_t y = 0; y < height; ++y) {
    if (!ProgressOrStop(error, y, height)) return 0;
    const BYTE* r = pixels + (height - 1 - y) * static_cast<uint64_t>(width);
    BYTE* o = out.Data();
    uint64_t x = 0;
    while (x < width) {
      // Bytes from x on that differ from their successor form a literal run.
      uint64_t lit = 0;
      while (x + lit < width && lit < 255 && !(x + lit + 1 < width && r[x + lit] == r[x + lit + 1])) ++lit;
      if (lit > 2) {
        *o++ = 0;
        *o++ = static_cast<BYTE>(lit);
        std::memcpy(o, r + x, lit);
        o += lit;
        if (lit & 1) *o++ = 0;  // pads the run to 16 bits; decodes to no pixel
        x += lit;
      } else {
        uint64_t run = 1;
        while (x + run < width && run < 255 && r[x + run] == r[x]) ++run;
        *o++ = static_cast<BYTE>(run);
        *o++ = r[x];
        x += run;
      }
    }
    *o++ = 0;
    *o++ = 0;
    const uint64_t n = static_cast<uint64_t>(o - out.Data());
    pixelBytes += n;
    if (pixelBytes + 2 + dataOffset > 0xFFFFFFFFu) return Fail(error, IS_ERR_WRITE);
    if (!io.Write(out.Data(), static_cast<uint32_t>(n))) return Fail(error, IS_ERR_WRITE);
  }
  const BYTE end[2] = {0, 1};
  if (!io.Write(end, 2)) return Fail(error, IS_ERR_WRITE);
  BYTE word[4];
  WriteLE32(word, static_cast<DWORD>(pixelBytes + 2 + dataOffset));
  if (!io.Seek(static_cast<int32_t>(start + 2), IS_SEEK_SET) || !io.Write(word, 4)) return Fail(error, IS_ERR_WRITE);
  WriteLE32(word, static_cast<DWORD>(pixelBytes + 2));
  if (!io.Seek(static_cast<int32_t>(start + 34), IS_SEEK_SET) || !io.Write(word, 4)) return Fail(error, IS_ERR_WRITE);
  if (!io.Seek(0, IS_SEEK_END)) return Fail(error, IS_ERR_WRITE);
  return SinkSize(io);
}
