// Strips and tiles decoded once, as far as their data goes. libtiff reads a strip whole or not
// at all: one whose byte count runs past the end of the file gives nothing, and one whose data
// ends early or turns bad fails. So the bytes the file holds are read here and handed to the
// decoder once. Before the decode a byte is laid all over the buffer; what a decoder did not
// write still holds it. How the rest is told depends on how libtiff's decoder writes:
// - Most write in order from the start of the buffer, so only a tail can be left unwritten:
//   a strip or tile whose last byte (its pad bits included) no longer holds the laid byte was
//   written whole; one whose last byte still does is decoded a second time over another byte,
//   and whatever differs between the two was not written.
// - The fax decoders can leave bytes inside unwritten (a row cut short or never reached, the
//   pad bits of every row), but write every row through one fill routine, which libtiff lets a
//   program replace: ours counts what each row was given, and the rows that lead whole are the
//   ones written. A row the decoder warned of before giving it (a bad code, a wrong length, the
//   data spent: it pads or cuts the row's runs to its width) is not whole, nor is the row a
//   decode that ends early gives last, nor one read from the zero bits the decoder takes past
//   the data's end (a row that changes when other bits follow the data).
// - ThunderScan's decoder counts a run that ends at a row's end without writing it: every strip
//   of its is decoded over two bytes, and the rows that lead equal in both are the ones written.
// - NeXT's decoder fills the buffer white first and reports success when its data run out: the
//   rows its data reach are counted from the stored bytes, as the decoder walks them.
// - libtiff's deflate decoder (libdeflate) reads zero bits past the end of a stream cut short and
//   decodes on from them, calling the strip decoded: a deflate strip is whole when its stream's
//   checksum is that of the bytes decoded (TIFFDeflateStrips.cpp); one that is not, or that
//   failed, is decoded again by zlib, which stops where its data do.
// - libjpeg, behind libtiff's JPEG decoder, makes up flat blocks past the end of its data and
//   calls the strip decoded, with a warning: the rows from the block row it warned in are not
//   kept.
// - Old-style JPEG is decoded once, never again (libtiff's decoder would decode every strip
//   before it anew): it gives every row asked or fails.
// A decoder that fails leaves its rows before the failure.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imaging/core/ISOpSupport.h"
#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFCodecGuard.h"
#include "imaging/formats/tiff/TIFFDeflateStrips.h"
#include "imaging/formats/tiff/TIFFOwnCodecs.h"
#include "imaging/formats/tiff/TIFFRead.h"

uint64_t TIFFStrileBytes(TIFF* tif, uint32_t rows) {
  return TIFFIsTiled(tif) ? TIFFVTileSize64(tif, rows) : TIFFVStripSize64(tif, rows);
}

uint32_t TIFFWholeRows(TIFF* tif, uint64_t bytes, uint32_t rows) {
  uint32_t good = 0, bad = rows + 1;
  while (bad - good > 1) {
    const uint32_t mid = good + (bad - good) / 2;
    if (TIFFStrileBytes(tif, mid) <= bytes)
      good = mid;
    else
      bad = mid;
  }
  return good;
}

namespace {

thread_local uint64_t stripsDecoded = 0;

// The byte laid all over the buffer before a strip or tile is decoded: never zero, and far from
// `previousEnd`, the last byte of the strip decoded before it through the same handle (in a
// picture, the end of one strip is much like the end of the next), so that a whole strip rarely
// ends in it. It is kept with the handle, so a read depends on nothing read before it. Being
// the same in every byte, it is not moved by the byte order libtiff puts samples in.
uint8_t LaidByte(uint8_t previousEnd) {
  const auto laid = static_cast<uint8_t>(previousEnd ^ 0x80);
  return laid ? laid : 0x7F;
}

// How libtiff's decoder of a compression writes a strip or tile (see the top of this file).
enum class Writer { kInOrder, kFax, kTwoFills, kNeXT, kOldJPEG };

Writer WriterOf(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4: return Writer::kFax;
    case COMPRESSION_THUNDERSCAN: return Writer::kTwoFills;
    case COMPRESSION_NEXT: return Writer::kNeXT;
    case COMPRESSION_OJPEG: return Writer::kOldJPEG;
    // JBIG, Zstandard and LZMA never come here: our own decoders tell exactly the rows they wrote.
    default: return Writer::kInOrder;
  }
}

// libtiff's fax fill routine: a row's runs (white, black, ...) from `runs` to `erun` laid from
// the row's start at `buf`, the row `lastx` pixels long.
using FaxFill = void (*)(unsigned char* buf, uint32_t* runs, uint32_t* erun, uint32_t lastx);

// What the fill routine gave each row of the strip or tile being decoded.
struct FaxRows {
  FaxFill fill = nullptr;  // libtiff's own
  const uint8_t* out = nullptr;
  uint64_t rowBytes = 0;
  uint32_t rows = 0;
  ISArray<uint32_t> pixels;  // pixels laid from the row's start
  uint32_t last = UINT32_MAX;  // the row given last
  const TIFFClientData* client = nullptr;
  uint64_t messages = 0;  // the client's messages when the row before was given
};

// The fax decode running on this thread: set only for the length of one decode call.
thread_local FaxRows* faxRows = nullptr;

// The fill routine installed for a decode: libtiff's, after counting what each row gets (the
// runs lay the row's pixels from its start, no further than its end).
void FillCounted(unsigned char* buf, uint32_t* runs, uint32_t* erun, uint32_t lastx) {
  FaxRows& f = *faxRows;
  uint64_t laid = 0;
  for (const uint32_t* r = runs; r < erun; ++r) laid += *r;
  const uint64_t at = buf >= f.out ? static_cast<uint64_t>(buf - f.out) : UINT64_MAX;
  if (at % f.rowBytes == 0 && at / f.rowBytes < f.rows) {
    f.last = static_cast<uint32_t>(at / f.rowBytes);
    uint32_t& pixels = f.pixels[f.last];
    // A row the decoder spoke of (a code it could not read, a row of the wrong length, the data
    // spent) has its runs padded or cut to the row's width by the decoder: not decoded whole.
    if (f.client && f.client->messages != f.messages)
      pixels = 0;
    else
      pixels = static_cast<uint32_t>(std::max<uint64_t>(pixels, std::min<uint64_t>(laid, lastx)));
  }
  if (f.client) f.messages = f.client->messages;
  f.fill(buf, runs, erun, lastx);
}

// Decodes a fax strip or tile with `decode` through FillCounted; the rows that lead whole, or
// false when the fill routine cannot be replaced. A decode that ends before its rows (its data
// spent, an end of page, a bad code it cannot go on from) gives the row it was in its runs so far
// padded to the row's width, then stops: that row, the last one given, was not decoded whole.
template <typename Decode>
bool DecodeFax(TIFF* tif, uint8_t* out, uint64_t whole, uint32_t rows, uint32_t width, Decode&& decode, bool* decoded,
               uint32_t* done) {
  FaxRows f;
  f.out = out;
  f.rowBytes = TIFFStrileBytes(tif, 1);
  f.rows = rows;
  if (f.rowBytes == 0 || f.rowBytes * rows != whole || !ResizeScratch(f.pixels, rows) ||
      !TIFFGetField(tif, TIFFTAG_FAXFILLFUNC, &f.fill) || !f.fill || f.fill == FillCounted)
    return false;
  std::fill_n(f.pixels.Data(), rows, 0u);
  f.client = TIFFClientOf(tif);
  f.messages = f.client ? f.client->messages : 0;
  TIFFSetField(tif, TIFFTAG_FAXFILLFUNC, FillCounted);
  faxRows = &f;
  *decoded = decode();
  faxRows = nullptr;
  TIFFSetField(tif, TIFFTAG_FAXFILLFUNC, f.fill);
  *done = 0;
  while (*done < rows && f.pixels[*done] >= width) ++*done;
  if ((!*decoded || *done < rows) && f.last < *done) *done = f.last;
  return true;
}

// The rows of `scanline` bytes (libtiff's scanline, for tiles too) that NeXT data of `cc` stored
// bytes fill in a buffer of `occ` bytes, walked as libtiff's decoder walks them: each row an
// opcode then a literal row, a literal span or runs of 2-bit pixels up to `width`. *failed when
// the decoder fails on the row after them; rows past them keep the white it laid first.
uint64_t NeXTRowsReached(const uint8_t* bp, uint64_t cc, uint64_t occ, uint64_t scanline, uint64_t width,
                         const uint8_t* order, bool* failed) {
  *failed = true;
  if (scanline == 0 || occ % scanline != 0) return 0;
  // A run sets no pixel once the row's bytes are full: four pixels a byte.
  const uint64_t limit = std::min(width, scanline * 4);
  uint64_t rows = 0;
  const auto next = [&] { return order[*bp++]; };
  for (; cc > 0 && occ > 0; occ -= scanline, ++rows) {
    uint64_t n = next();
    --cc;
    if (n == 0x00) {  // the whole row as it is
      if (cc < scanline) return rows;
      bp += scanline, cc -= scanline;
    } else if (n == 0x40) {  // a span of the row at an offset
      if (cc < 4) return rows;
      const uint64_t off = uint64_t{order[bp[0]]} * 256 + order[bp[1]];
      n = uint64_t{order[bp[2]]} * 256 + order[bp[3]];
      if (cc < 4 + n || off + n > scanline) return rows;
      bp += 4 + n, cc -= 4 + n;
    } else {  // runs: two bits of grey, six of count
      uint64_t pixels = 0;
      for (;;) {
        if (pixels < limit) pixels += std::min(n & 0x3F, limit - pixels);
        if (pixels >= width) break;
        if (pixels >= scanline * 4 || cc == 0) return rows;
        n = next();
        --cc;
      }
    }
  }
  *failed = false;
  return rows;
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
  const uint64_t rowBytes = TIFFStrileBytes(tif, 1);
  const uint32_t pad = rowBytes > 0 ? PadBits(tif, rowBytes) : 0;
  if (pad == 0 || TIFFStrileBytes(tif, rows) != rowBytes * rows) return rows;
  const auto mask = static_cast<uint8_t>(0xFF << pad);
  for (uint32_t r = 0; r < rows; ++r) out[(r + 1) * rowBytes - 1] &= mask;
  return rows;
}

// Of the first `rows` rows of a failed decode (none of libtiff's finishing done), how many lead
// whole: a decoder writes each row from its start, so a row whose end still holds the laid byte
// was not written to its end (a JPEG stream narrower than its strip).
uint32_t LeadingWholeRows(TIFF* tif, const uint8_t* out, uint32_t rows, uint8_t laid) {
  const uint64_t rowBytes = TIFFStrileBytes(tif, 1);
  const uint32_t pad = PadBits(tif, rowBytes);
  for (uint32_t r = 0; r < rows; ++r) {
    const uint64_t end = TIFFStrileBytes(tif, r + 1);
    if (end < rowBytes || RowEndLaid(out + end - rowBytes, rowBytes, pad, laid)) return r;
  }
  return rows;
}

// The rows that lead equal in two decodes of the same strip, the pad bits of each row aside.
uint32_t LeadingEqualRows(TIFF* tif, const uint8_t* a, const uint8_t* b, uint64_t whole, uint32_t rows) {
  const uint64_t rowBytes = TIFFStrileBytes(tif, 1);
  if (rowBytes == 0 || rowBytes * rows != whole) {
    // Rows subsampled in blocks: whole blocks of rows.
    return TIFFWholeRows(tif, static_cast<uint64_t>(std::mismatch(a, a + whole, b).first - a), rows);
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

// Of the first `done` rows a decode gave in `out`, those it decoded from the stored bytes alone.
// The fax decoders read zero bits past the end of the data and go on with a row those reach, so
// a row read partly from them is told by decoding the stored bytes again followed by other bits (ones, then a mixed pattern): a row that comes out the same every time
// was decoded before the data's end. The strip or tile holds `held` stored bytes.
uint32_t RowsBeforeTheEnd(TIFF* tif, uint32_t index, tmsize_t held, uint8_t* out, uint64_t whole, uint32_t done) {
  constexpr uint32_t kMore = 16;
  ISArray<uint8_t> first, more, again;
  if (done == 0 || !ResizeScratch(first, whole) || !ResizeScratch(more, static_cast<uint64_t>(held) + kMore) ||
      !ResizeScratch(again, whole))
    return 0;
  std::memcpy(first.Data(), out, whole);
  const auto n = static_cast<tmsize_t>(whole);
  for (const uint8_t bits : {uint8_t{0xFF}, uint8_t{0x35}}) {
    const bool tiled = TIFFIsTiled(tif) != 0;
    if ((tiled ? TIFFReadRawTile(tif, index, more.Data(), held) : TIFFReadRawStrip(tif, index, more.Data(), held)) !=
        held)
      return 0;
    std::memset(more.Data() + held, bits, kMore);
    std::memset(again.Data(), 0, whole);
    TIFFReadFromUserBuffer(tif, index, more.Data(), held + kMore, again.Data(), n);
    ++stripsDecoded;
    done = std::min(done, LeadingEqualRows(tif, first.Data(), again.Data(), whole, done));
  }
  return done;
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
bool EndMayBeUnwritten(TIFF* tif, const uint8_t* out, uint64_t whole, uint32_t rows, uint8_t laid,
                       uint8_t& previousEnd) {
  uint16_t predictor = PREDICTOR_NONE, bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG;
  // Only the codecs that have a predictor know its tag.
  if (!TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor)) predictor = PREDICTOR_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  const uint32_t bytes = bits % 8 == 0 && bits <= 64 ? std::max(1, bits / 8) : 1;
  const uint64_t rowBytes = TIFFStrileBytes(tif, 1);
  if (predictor == PREDICTOR_NONE) {
    // These decoders write whole bytes: the last one, pad bits and all, was written or not.
    if (bytes == 1) return out[whole - 1] == laid;
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

// The rows of a JPEG strip or tile before the block row in which libjpeg warned of its data,
// the codec then at image row `warnedAt`: past the data's end libjpeg makes up flat blocks and
// calls the rows decoded. libjpeg decodes a block row (eight rows of its tallest sampling) when
// the first row of it is asked for, or a block row ahead where its upsampling needs the rows
// below; either way the rows of the block rows before the one the codec was in were decoded
// from the data.
uint32_t RowsBeforeLibjpegWarned(TIFF* tif, uint32_t index, uint32_t rows, uint32_t warnedAt) {
  uint16_t photometric = PHOTOMETRIC_MINISBLACK, hsub = 1, vsub = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  if (photometric == PHOTOMETRIC_YCBCR) TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &hsub, &vsub);
  const uint32_t block = 8 * std::max<uint32_t>(1, vsub);
  uint32_t width = 0, height = 0, first = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  // The codec counts rows from the one libtiff starts the strip or tile at.
  if (TIFFIsTiled(tif)) {
    uint32_t tileWidth = 0, tileLength = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    const uint32_t across = tileWidth ? (width - 1) / tileWidth + 1 : 1;
    first = index % across * tileLength;
  } else {
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::max<uint32_t>(1, std::min(rowsPerStrip, height));
    first = index % ((height - 1) / rowsPerStrip + 1) * rowsPerStrip;
  }
  if (warnedAt < first) return 0;
  return std::min(rows, (warnedAt - first) / block * block);
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
  const uint64_t whole = TIFFStrileBytes(tif, rows);
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
  const auto readStored = [&] {
    return (tiled ? TIFFReadRawTile(tif, index, raw.Data(), held) : TIFFReadRawStrip(tif, index, raw.Data(), held)) ==
           held;
  };
  // A second decode over the complement of the laid byte, of the stored bytes as the file holds
  // them (a decoder may change what it is given: libtiff's JBIG codec reverses its bits in
  // place), the first decode kept in `first`. False when it cannot be had.
  ISArray<uint8_t> first;
  const auto decodeAgain = [&](uint8_t laid) {
    if (!ResizeScratch(first, whole) || (!fromFile && !readStored())) return false;
    std::memcpy(first.Data(), out, whole);
    decode(static_cast<uint8_t>(~laid));
    return true;
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
    if (!readStored()) {
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
      const uint32_t storedRows = TIFFWholeRows(tif, stored.held, rows);
      if (storedRows < rows) SetLastWarning(note);
      if (storedRows == 0) return 0;
      const auto bytes = static_cast<tmsize_t>(TIFFStrileBytes(tif, storedRows));
      return TIFFReadFromUserBuffer(tif, index, raw.Data(), held, out, bytes) ? storedRows : 0;
    }
  }
  TIFFClientData* client = TIFFClientOf(tif);
  uint8_t unheld = 0;
  uint8_t& previousEnd = client ? client->lastStripEnd : unheld;
  const uint8_t laid = LaidByte(previousEnd);
  Writer writer = WriterOf(compression);
  if (writer == Writer::kFax) {
    uint32_t width = 0, done = 0;
    TIFFGetField(tif, tiled ? TIFFTAG_TILEWIDTH : TIFFTAG_IMAGEWIDTH, &width);
    bool decoded = false;
    if (DecodeFax(tif, out, whole, rows, width, [&] { return decode(laid); }, &decoded, &done)) {
      if (!decoded || done < rows) {
        done = RowsBeforeTheEnd(tif, index, held, out, whole, done);
        SetLastWarning(note);
      }
      return ClearPadBits(tif, out, done);
    }
    writer = Writer::kTwoFills;
  }
  if (client) client->libjpegWarnedAt = UINT32_MAX;
  const bool decoded = decode(laid);
  previousEnd = out[whole - 1];
  if (compression == COMPRESSION_JPEG && decoded && client && client->libjpegWarnedAt != UINT32_MAX) {
    const uint32_t done = RowsBeforeLibjpegWarned(tif, index, rows, client->libjpegWarnedAt);
    if (done < rows) {
      SetLastWarning(note);
      return ClearPadBits(tif, out, done);
    }
  }
  if (writer == Writer::kNeXT) {
    // What the data reach, in the decoder's scanlines; the rest is the white laid before.
    uint32_t width = 0;
    TIFFGetField(tif, tiled ? TIFFTAG_TILEWIDTH : TIFFTAG_IMAGEWIDTH, &width);
    uint16_t fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
    const uint64_t scanline = TIFFScanlineSize64(tif);
    bool failed = false;
    uint16_t bits = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    uint64_t reached = NeXTRowsReached(raw.Data(), static_cast<uint64_t>(held), whole, scanline, width,
                                       TIFFGetBitRevTable(fillOrder == FILLORDER_LSB2MSB), &failed);
    // The decoder runs only on 2-bit pages; a failure the walk does not share came before it.
    if (bits != 2 || (!decoded && !failed)) reached = 0;
    const uint32_t done = std::min(rows, TIFFWholeRows(tif, reached * scanline, rows));
    if (!decoded || done < rows) SetLastWarning(note);
    return done;
  }
  if (writer == Writer::kOldJPEG && decoded) return ClearPadBits(tif, out, rows);
  const bool deflate = compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE;
  // The first `n` rows of a failed decode, finished as libtiff finishes a whole one.
  const auto finishedRows = [&](uint32_t n) {
    return n > 0 && TIFFFinishDecoded(tif, index, out, TIFFStrileBytes(tif, n)) ? ClearPadBits(tif, out, n) : 0u;
  };
  if (deflate) {
    const auto bytes = static_cast<uint64_t>(held);
    if (decoded && TIFFDeflateDecodedWhole(tif, raw.Data(), bytes, out, whole)) return ClearPadBits(tif, out, rows);
    ++stripsDecoded;
    const uint32_t done = TIFFDeflateRowsHeld(tif, index, rows, raw.Data(), bytes, out);
    if (done < rows) SetLastWarning(note);
    return ClearPadBits(tif, out, done);
  }
  if (writer == Writer::kTwoFills || (decoded && EndMayBeUnwritten(tif, out, whole, rows, laid, previousEnd))) {
    // The decoder writes the same bytes over either laid byte: where the two decodes differ,
    // it wrote nothing, or libtiff's finishing worked from what it did not write.
    const uint32_t same = decodeAgain(laid) ? LeadingEqualRows(tif, out, first.Data(), whole, rows) : 0;
    if (!decoded || same < rows) SetLastWarning(note);
    if (decoded) return ClearPadBits(tif, out, same);
    return finishedRows(same);
  }
  if (decoded) return ClearPadBits(tif, out, rows);
  SetLastWarning(note);
  uint32_t done = 0;
  if (writer == Writer::kInOrder) {
    // Written in order up to the failure: the bytes that lead equal over either laid byte, less
    // the zeros several decoders (JPEG, LZW) clear the rest with when they fail.
    if (!decodeAgain(laid)) return 0;
    uint64_t end = static_cast<uint64_t>(std::mismatch(out, out + whole, first.Data()).first - out);
    while (end > 0 && out[end - 1] == 0) --end;
    done = TIFFWholeRows(tif, end, rows);
  } else {
    // Old-style JPEG, never decoded again: each row is written from its start, so the rows
    // that lead whole end in neither the laid byte nor the zeros a failure leaves.
    done = LeadingWholeRows(tif, out, TIFFWholeRows(tif, WrittenBytes(out, whole, laid), rows), laid);
  }
  return finishedRows(done);
}
