// Strips and tiles decoded once, as far as their data goes. libtiff reads a strip whole or not
// at all: one whose byte count runs past the end of the file gives nothing, and one whose data
// ends early or turns bad fails. So the bytes the file holds are read here and handed to the
// decoder once. Before the decode a byte is laid all over the buffer; what still holds it
// afterwards was not written. A decoder that fails leaves its rows before the failure; several
// decoders also report success after writing only the first part of a strip or tile (fax data
// that ends early, a JBIG or JPEG stream smaller than its strip, deflate data with junk inside),
// which shows at its end: a strip whose last byte still holds the laid byte is decoded a second
// time over another byte, and whatever differs between the two was not written.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imaging/core/ISOpSupport.h"
#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFCodecGuard.h"
#include "imaging/formats/tiff/TIFFOwnCodecs.h"
#include "imaging/formats/tiff/TIFFRead.h"

namespace {

thread_local uint64_t stripsDecoded = 0;

uint64_t DecodedBytes(TIFF* tif, uint32_t rows) {
  return TIFFIsTiled(tif) ? TIFFVTileSize64(tif, rows) : TIFFVStripSize64(tif, rows);
}

// The most rows of the strip or tile (at most `rows`) that `bytes` decoded bytes hold whole.
uint32_t RowsIn(TIFF* tif, uint64_t bytes, uint32_t rows) {
  uint32_t good = 0, bad = rows + 1;
  while (bad - good > 1) {
    const uint32_t mid = good + (bad - good) / 2;
    if (DecodedBytes(tif, mid) <= bytes)
      good = mid;
    else
      bad = mid;
  }
  return good;
}

// The last byte of the strip or tile this thread decoded before, in the same read.
thread_local uint8_t previousEnd = 0;

// The byte laid all over the buffer before strip or tile `index` is decoded: never zero, and far
// from the last byte of the strip before it (in a picture, the end of one strip is much like the
// end of the next), so that a whole strip rarely ends in it. A read starts at strip or tile 0,
// so the same file is laid the same way in every read. Being the same in every byte, it is not
// moved by the byte order libtiff puts samples in.
uint8_t LaidByte(uint32_t index) {
  if (index == 0) previousEnd = 0;
  const auto laid = static_cast<uint8_t>(previousEnd ^ 0x80);
  return laid ? laid : 0x7F;
}

// A decoder writes what it decoded and may clear what follows on failure; the end of what it
// wrote is the last byte that is neither the laid byte nor zero. Decoded bytes that happen to
// equal either only move that end back, never forward.
uint64_t WrittenBytes(const uint8_t* out, uint64_t n, uint8_t laid) {
  while (n > 0 && (out[n - 1] == 0 || out[n - 1] == laid)) --n;
  return n;
}

// Rows of bits that end inside a byte leave the bits past the row's end as they were: the pad
// bits of its last byte, 0 for rows of whole bytes.
uint32_t PadBits(TIFF* tif, uint64_t rowBytes) {
  uint32_t width = 0;
  uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif, TIFFIsTiled(tif) ? TIFFTAG_TILEWIDTH : TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  const uint64_t rowBits = uint64_t{width} * bits * (planar == PLANARCONFIG_CONTIG ? samples : 1);
  return rowBits < rowBytes * 8 && rowBytes * 8 - rowBits < 8 ? static_cast<uint32_t>(rowBytes * 8 - rowBits) : 0;
}

// Whether a row (of whole samples as the decoder wrote them) still ends in the laid byte: its
// last byte, or the last whole byte before the pad bits.
bool RowEndLaid(const uint8_t* row, uint64_t rowBytes, uint32_t pad, uint8_t laid) {
  if (pad == 0) return row[rowBytes - 1] == laid;
  if (rowBytes >= 2) return row[rowBytes - 2] == laid;
  const auto mask = static_cast<uint8_t>(0xFF << pad);
  return (row[0] & mask) == (laid & mask);
}

// The pad bits of the first `rows` rows cleared: a fax decoder leaves them as they were laid.
uint32_t ClearPadBits(TIFF* tif, uint8_t* out, uint32_t rows) {
  const uint64_t rowBytes = DecodedBytes(tif, 1);
  const uint32_t pad = rowBytes > 0 ? PadBits(tif, rowBytes) : 0;
  if (pad == 0 || DecodedBytes(tif, rows) != rowBytes * rows) return rows;
  const auto mask = static_cast<uint8_t>(0xFF << pad);
  for (uint32_t r = 0; r < rows; ++r) out[(r + 1) * rowBytes - 1] &= mask;
  return rows;
}

// Of the first `rows` rows of a failed decode (none of libtiff's finishing done), how many lead
// whole: a decoder writes each row from its start, so a row whose end still holds the laid byte
// was not written to its end (a JPEG stream narrower than its strip).
uint32_t LeadingWholeRows(TIFF* tif, const uint8_t* out, uint32_t rows, uint8_t laid) {
  const uint64_t rowBytes = DecodedBytes(tif, 1);
  const uint32_t pad = PadBits(tif, rowBytes);
  for (uint32_t r = 0; r < rows; ++r) {
    const uint64_t end = DecodedBytes(tif, r + 1);
    if (end < rowBytes || RowEndLaid(out + end - rowBytes, rowBytes, pad, laid)) return r;
  }
  return rows;
}

// The rows that lead equal in two decodes of the same strip, the pad bits of each row aside.
uint32_t LeadingEqualRows(TIFF* tif, const uint8_t* a, const uint8_t* b, uint64_t whole, uint32_t rows) {
  const uint64_t rowBytes = DecodedBytes(tif, 1);
  if (rowBytes == 0 || rowBytes * rows != whole) {
    // Rows subsampled in blocks: whole blocks of rows.
    return RowsIn(tif, static_cast<uint64_t>(std::mismatch(a, a + whole, b).first - a), rows);
  }
  const uint32_t pad = PadBits(tif, rowBytes);
  const auto mask = static_cast<uint8_t>(0xFF << pad);
  for (uint32_t r = 0; r < rows; ++r) {
    const uint8_t* x = a + r * rowBytes;
    const uint8_t* y = b + r * rowBytes;
    if (std::memcmp(x, y, rowBytes - 1) != 0 || ((x[rowBytes - 1] ^ y[rowBytes - 1]) & mask) != 0) return r;
  }
  return rows;
}

// Sample `i` of a row in the host's order, `bytes` bytes wide.
uint64_t SampleAt(const uint8_t* row, uint64_t i, uint32_t bytes) {
  uint16_t v16 = 0;
  uint32_t v32 = 0;
  uint64_t v64 = 0;
  switch (bytes) {
    case 2: return std::memcpy(&v16, row + i * 2, 2), v16;
    case 4: return std::memcpy(&v32, row + i * 4, 4), v32;
    case 8: return std::memcpy(&v64, row + i * 8, 8), v64;
    default: return row[i];
  }
}

// Whether the end of a strip or tile that decoded "successfully" may still hold the laid byte:
// the bytes of its last sample as the decoder wrote them, before libtiff's finishing (the
// horizontal predictor adds the sample before; the floating-point one also turns the row's byte
// planes into samples), the last of them kept as the end the next laid byte keeps away from.
// True, so that a second decode tells, for layouts not undone here.
bool EndMayBeUnwritten(TIFF* tif, const uint8_t* out, uint64_t whole, uint32_t rows, uint8_t laid) {
  uint16_t predictor = PREDICTOR_NONE, bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG;
  // Only the codecs that have a predictor know its tag.
  if (!TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor)) predictor = PREDICTOR_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  const uint32_t bytes = bits % 8 == 0 && bits <= 64 ? std::max(1, bits / 8) : 1;
  const uint64_t rowBytes = DecodedBytes(tif, 1);
  if (predictor == PREDICTOR_NONE) {
    if (bytes == 1 && rowBytes > 0 && rowBytes <= whole)
      return RowEndLaid(out + whole - rowBytes, rowBytes, PadBits(tif, rowBytes), laid);
    for (uint32_t i = 1; i <= bytes && i <= whole; ++i)
      if (out[whole - i] == laid) return true;
    return false;
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  if (bits % 8 != 0 || bits == 0 || bits > 64 || rowBytes == 0 || rowBytes * rows != whole) return true;
  const uint32_t stride = planar == PLANARCONFIG_CONTIG ? samples : 1;
  const uint8_t* row = out + whole - rowBytes;
  const uint64_t count = rowBytes / bytes;
  if (predictor == PREDICTOR_HORIZONTAL) {
    const uint64_t last = count - 1;
    uint64_t stored = SampleAt(row, last, bytes) - (last >= stride ? SampleAt(row, last - stride, bytes) : 0);
    previousEnd = static_cast<uint8_t>(stored);
    for (uint32_t i = 0; i < bytes; ++i, stored >>= 8)
      if (static_cast<uint8_t>(stored) == laid) return true;
    return false;
  }
  if (predictor == PREDICTOR_FLOATINGPOINT) {
    // Byte j of the row as stored: byte plane j / count (most significant first) of sample
    // j % count, each stored byte the difference from the one `stride` before it.
    constexpr bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    const auto at = [&](uint64_t j) {
      const uint64_t plane = j / count;
      return row[(j % count) * bytes + (little ? bytes - 1 - plane : plane)];
    };
    const uint64_t k = rowBytes - 1;
    previousEnd = static_cast<uint8_t>(at(k) - (k >= stride ? at(k - stride) : 0));
    return previousEnd == laid;
  }
  return true;
}

template <typename T>
void AccumulateRows(uint8_t* out, uint64_t rowBytes, uint32_t rows, uint32_t stride, bool swapped) {
  const uint64_t count = rowBytes / sizeof(T);
  for (uint32_t r = 0; r < rows; ++r) {
    T* row = reinterpret_cast<T*>(out + r * rowBytes);
    if (swapped) {
      if (sizeof(T) == 2) TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(row), static_cast<tmsize_t>(count));
      if (sizeof(T) == 4) TIFFSwabArrayOfLong(reinterpret_cast<uint32_t*>(row), static_cast<tmsize_t>(count));
    }
    for (uint64_t i = stride; i < count; ++i) row[i] = static_cast<T>(row[i] + row[i - stride]);
  }
}

// libtiff applies the horizontal predictor and the file's byte order only to a strip or tile
// that decoded whole: the same for the first `rows` rows that a failed decode gave. False for
// the predictors and depths not done here (their rows are given up).
bool FinishRows(TIFF* tif, uint8_t* out, uint32_t rows) {
  uint16_t predictor = PREDICTOR_NONE, bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG;
  // Only the codecs that have a predictor know its tag.
  if (!TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor)) predictor = PREDICTOR_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  const bool swapped = TIFFIsByteSwapped(tif) != 0;
  const uint64_t rowBytes = DecodedBytes(tif, 1);
  const uint64_t bytes = DecodedBytes(tif, rows);
  if (predictor == PREDICTOR_HORIZONTAL) {
    if (bytes != rowBytes * rows) return false;  // subsampled rows
    const uint32_t stride = planar == PLANARCONFIG_CONTIG ? samples : 1;
    switch (bits) {
      case 8: AccumulateRows<uint8_t>(out, rowBytes, rows, stride, false); return true;
      case 16: AccumulateRows<uint16_t>(out, rowBytes, rows, stride, swapped); return true;
      case 32: AccumulateRows<uint32_t>(out, rowBytes, rows, stride, swapped); return true;
      default: return false;
    }
  }
  if (predictor != PREDICTOR_NONE) return false;
  if (!swapped) return true;
  switch (bits) {
    case 16: TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(out), static_cast<tmsize_t>(bytes / 2)); return true;
    case 24: TIFFSwabArrayOfTriples(out, static_cast<tmsize_t>(bytes / 3)); return true;
    case 32: TIFFSwabArrayOfLong(reinterpret_cast<uint32_t*>(out), static_cast<tmsize_t>(bytes / 4)); return true;
    case 64: TIFFSwabArrayOfLong8(reinterpret_cast<uint64_t*>(out), static_cast<tmsize_t>(bytes / 8)); return true;
    default: return bits <= 8;
  }
}

}  // namespace

uint64_t TIFFStrilesDecoded() { return stripsDecoded; }

bool TIFFAllocationRefused(ISErrorCode& error, TIFF* tif) {
  const TIFFClientData* client = TIFFClientOf(tif);
  if (!client || !client->state.allocationRefused) return false;
  error = IS_ERR_BADTIFF;
  return true;
}

uint32_t DecodeTIFFStrile(TIFF* tif, uint32_t index, uint32_t rows, uint8_t* out, ISArray<uint8_t>& raw) {
  const uint64_t whole = DecodedBytes(tif, rows);
  if (rows == 0 || whole == 0) return 0;
  const bool tiled = TIFFIsTiled(tif) != 0;
  char note[64];
  std::snprintf(note, sizeof note, "TIFF %s %u ended early", tiled ? "tile" : "strip", index);
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const auto n = static_cast<tmsize_t>(whole);
  tmsize_t held = 0;
  // Old-style JPEG reads its tables and data from the file itself, not from a given buffer.
  const bool fromFile = compression == COMPRESSION_OJPEG;
  const auto decode = [&](uint8_t laid) {
    ++stripsDecoded;
    std::memset(out, laid, whole);
    if (fromFile)
      return (tiled ? TIFFReadEncodedTile(tif, index, out, n) : TIFFReadEncodedStrip(tif, index, out, n)) == n;
    return TIFFReadFromUserBuffer(tif, index, raw.Data(), held, out, n) != 0;
  };
  if (!fromFile) {
    uint32_t fileSize = 0;
    TIFFClientData* client = TIFFClientOf(tif);
    if (!client || !client->io.GetSize(&fileSize)) return 0;
    const TIFFStoredBytes stored = GetTIFFStoredBytes(tif, index, fileSize, whole);
    // A strip the file cuts short gets the note in place of libtiff's words, which for a
    // whole-strip read name a scanline of -1; on data that does not decode, libtiff's words say
    // more than the note.
    if (stored.cut) ReplaceLastWarning(note);
    if (stored.held == 0 || !ResizeScratch(raw, stored.held)) {
      SetLastWarning(note);
      return 0;
    }
    held = static_cast<tmsize_t>(stored.held);
    const tmsize_t got =
        tiled ? TIFFReadRawTile(tif, index, raw.Data(), held) : TIFFReadRawStrip(tif, index, raw.Data(), held);
    if (got != held) {
      SetLastWarning(note);
      return 0;
    }
    // JBIG, Zstandard and LZMA: our own decode, once, of exactly the rows it reports.
    if (TIFFOwnCodecDecodes(compression)) {
      ++stripsDecoded;
      return DecodeTIFFOwnCodec(tif, index, rows, raw.Data(), stored.held, out);
    }
    if (!TIFFCodecHeaderFits(tif, index, rows, raw.Data(), stored.held)) return 0;
    // Stored rows as they are: as many whole rows as the bytes hold.
    if (compression == COMPRESSION_NONE) {
      ++stripsDecoded;
      const uint32_t storedRows = RowsIn(tif, stored.held, rows);
      if (storedRows < rows) SetLastWarning(note);
      if (storedRows == 0) return 0;
      const auto bytes = static_cast<tmsize_t>(DecodedBytes(tif, storedRows));
      return TIFFReadFromUserBuffer(tif, index, raw.Data(), held, out, bytes) ? storedRows : 0;
    }
  }
  const uint8_t laid = LaidByte(index);
  const bool decoded = decode(laid);
  previousEnd = out[whole - 1];
  if (decoded) {
    if (!EndMayBeUnwritten(tif, out, whole, rows, laid)) return ClearPadBits(tif, out, rows);
    // The decoder writes the same bytes over either laid byte: where the two decodes differ,
    // it wrote nothing, or libtiff's finishing worked from what it did not write.
    ISArray<uint8_t> first;
    if (!ResizeScratch(first, whole)) {
      SetLastWarning(note);
      return 0;
    }
    std::memcpy(first.Data(), out, whole);
    decode(static_cast<uint8_t>(~laid));
    const uint32_t same = LeadingEqualRows(tif, out, first.Data(), whole, rows);
    if (same < rows) SetLastWarning(note);
    return ClearPadBits(tif, out, same);
  }
  SetLastWarning(note);
  uint32_t done = RowsIn(tif, WrittenBytes(out, whole, laid), rows);
  done = LeadingWholeRows(tif, out, done, laid);
  return done > 0 && FinishRows(tif, out, done) ? ClearPadBits(tif, out, done) : 0;
}
