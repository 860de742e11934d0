// Zstandard and LZMA strips decoded in one pass straight into the strip's buffer, the
// finishing libtiff gives every strip of these codecs (its predictor, then the file's byte
// order), and the choice among the three codecs decoded here (JBIG: TIFFJBIGStrips.cpp).
// Neither library then needs what a header reserves: a Zstandard frame decoded into the
// caller's buffer keeps no window of its own, and an LZMA dictionary larger than the strip is
// never reached, so each block is decoded with its dictionary cut to the strip.
#include "imaging/formats/tiff/TIFFOwnCodecs.h"

#include <lzma.h>
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_d_stableOutBuffer
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/FormatRefusal.h"
#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFOwnCodecParts.h"

namespace {

// The sums of the common strides kept in registers: `count` is a non-zero multiple of S.
template <typename T, uint32_t S>
void AccumulateBy(T* w, uint64_t count) {
  T sum[S];
  for (uint32_t s = 0; s < S; ++s) sum[s] = w[s];
  for (uint64_t i = S; i < count; i += S)
    for (uint32_t s = 0; s < S; ++s) w[i + s] = sum[s] = static_cast<T>(sum[s] + w[i + s]);
}

// libtiff's horizontal predictor over one row of `cc` bytes of samples of T, `stride` samples
// to a pixel: the row's samples in the file's order made the host's first (with `swab`), then
// each added to the one a pixel before it, wrapping. False where libtiff fails the row (a row
// that is not whole pixels).
template <typename T>
bool AccumulateRow(uint8_t* row, uint64_t cc, uint32_t stride, bool swab) {
  if (cc % (sizeof(T) * stride) != 0) return false;
  const uint64_t count = cc / sizeof(T);
  T* w = reinterpret_cast<T*>(row);
  if (swab) {
    if (sizeof(T) == 2) TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(w), static_cast<tmsize_t>(count));
    if (sizeof(T) == 4) TIFFSwabArrayOfLong(reinterpret_cast<uint32_t*>(w), static_cast<tmsize_t>(count));
    if (sizeof(T) == 8) TIFFSwabArrayOfLong8(reinterpret_cast<uint64_t*>(w), static_cast<tmsize_t>(count));
  }
  switch (stride) {
    case 1: AccumulateBy<T, 1>(w, count); break;
    case 3: AccumulateBy<T, 3>(w, count); break;
    case 4: AccumulateBy<T, 4>(w, count); break;
    default:
      for (uint64_t i = stride; i < count; ++i) w[i] = static_cast<T>(w[i] + w[i - stride]);
      break;
  }
  return true;
}

// libtiff's floating-point predictor over one row: each byte added to the one `stride` before
// it, then the row's byte planes (most significant first) interleaved into samples of `bps`
// bytes in the host's order, whatever the file's.
bool FloatingRow(uint8_t* row, uint64_t cc, uint32_t bps, uint32_t stride, uint8_t* planes) {
  if (cc % (uint64_t{bps} * stride) != 0) return false;
  for (uint64_t i = stride; i < cc; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - stride]);
  std::memcpy(planes, row, cc);
  const uint64_t count = cc / bps;
  constexpr bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
  for (uint64_t s = 0; s < count; ++s)
    for (uint32_t b = 0; b < bps; ++b) row[s * bps + b] = planes[(little ? bps - 1 - b : b) * count + s];
  return true;
}

}  // namespace

OwnCodecFinishing OwnCodecFinishingOf(TIFF* tif) {
  OwnCodecFinishing f;
  uint16_t samples = 1, planar = PLANARCONFIG_CONTIG;
  // Only the codecs that have a predictor know its tag.
  if (!TIFFGetField(tif, TIFFTAG_PREDICTOR, &f.predictor)) f.predictor = PREDICTOR_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &f.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &f.format);
  f.stride = planar == PLANARCONFIG_CONTIG ? samples : 1;
  f.swab = TIFFIsByteSwapped(tif) != 0;
  return f;
}

uint64_t OwnCodecRowSize(TIFF* tif) { return TIFFIsTiled(tif) ? TIFFTileRowSize64(tif) : TIFFScanlineSize64(tif); }

bool TIFFFinishDecoded(TIFF* tif, uint32_t index, uint8_t* out, uint64_t bytes) {
  const OwnCodecFinishing f = OwnCodecFinishingOf(tif);
  const uint16_t predictor = f.predictor, bits = f.bits, format = f.format;
  const uint32_t stride = f.stride;
  const bool swab = f.swab;
  if (predictor == PREDICTOR_NONE) {
    if (swab) OwnCodecSwab(out, bytes, bits);
    return true;
  }
  const bool horizontal = predictor == PREDICTOR_HORIZONTAL && (bits == 8 || bits == 16 || bits == 32 || bits == 64);
  const bool floating = predictor == PREDICTOR_FLOATINGPOINT && format == SAMPLEFORMAT_IEEEFP &&
                        (bits == 16 || bits == 24 || bits == 32 || bits == 64);
  const uint64_t rowSize = OwnCodecRowSize(tif);
  if ((!horizontal && !floating) || rowSize == 0 || bytes % rowSize != 0) {
    WarnOfFile("TIFF %s %u: predictor %u is not read with %u-bit samples", OwnCodecStrileName(tif), index,
               static_cast<unsigned>(predictor), static_cast<unsigned>(bits));
    return false;
  }
  ISArray<uint8_t> planes;
  if (floating && !ResizeScratch(planes, rowSize)) return false;
  for (uint64_t at = 0; at < bytes; at += rowSize) {
    uint8_t* row = out + at;
    bool ok = true;
    if (floating) {
      ok = FloatingRow(row, rowSize, bits / 8, stride, planes.Data());
    } else {
      switch (bits) {
        case 8: ok = AccumulateRow<uint8_t>(row, rowSize, stride, false); break;
        case 16: ok = AccumulateRow<uint16_t>(row, rowSize, stride, swab); break;
        case 32: ok = AccumulateRow<uint32_t>(row, rowSize, stride, swab); break;
        default: ok = AccumulateRow<uint64_t>(row, rowSize, stride, swab); break;
      }
    }
    if (!ok) {
      WarnOfFile("TIFF %s %u: rows of %llu bytes are not whole pixels for the predictor", OwnCodecStrileName(tif),
                 index, static_cast<unsigned long long>(rowSize));
      return false;
    }
  }
  return true;
}

namespace {

// The whole rows of `written` decoded bytes of a strip or tile that wants `whole`, finished;
// when they are fewer than `rows`, a warning naming the codec and `why` the data stopped.
uint32_t KeepRows(TIFF* tif, uint32_t index, uint32_t rows, uint8_t* out, uint64_t written, uint64_t whole,
                  const char* codec, const char* why) {
  const uint32_t done = written >= whole ? rows : TIFFWholeRows(tif, written, rows);
  if (done < rows)
    WarnOfFile("%s data of TIFF %s %u end after %llu of its %llu bytes (%s)", codec, OwnCodecStrileName(tif), index,
               static_cast<unsigned long long>(written), static_cast<unsigned long long>(whole), why);
  if (done == 0) return 0;
  return TIFFFinishDecoded(tif, index, out, TIFFStrileBytes(tif, done)) ? done : 0;
}

struct ZstdContext {
  ZSTD_DCtx* dctx = ZSTD_createDCtx();
  ~ZstdContext() { ZSTD_freeDCtx(dctx); }
};

// One pass of libtiff's Zstandard loop over a strip (frames until the first one ends, the
// strip full or the data spent), the input handed over a block at a time so that a block that
// fails leaves every byte before it counted. A strip filled before its frame ends is read on to
// the frame's end, so that the frame's checksum, when it has one, is checked. *written: the
// bytes decoded; the error code of a failure, 0 else, and `why` its words.
size_t ZstdPass(ZSTD_DCtx* dctx, const uint8_t* data, uint64_t size, uint8_t* out, uint64_t whole,
                uint64_t* written, const char** why) {
  ZSTD_outBuffer output = {out, static_cast<size_t>(whole), 0};
  ZSTD_inBuffer input = {data, 0, 0};
  *why = "the data end";
  *written = 0;
  size_t hint = ZSTD_FRAMEHEADERSIZE_PREFIX(ZSTD_f_zstd1);
  while (input.pos < size) {
    const size_t before = input.pos, wrote = output.pos;
    input.size = static_cast<size_t>(std::min<uint64_t>(size, input.pos + std::max<size_t>(hint, 1)));
    const size_t ret = ZSTD_decompressStream(dctx, &output, &input);
    if (ZSTD_isError(ret)) {
      *why = ZSTD_getErrorName(ret);
      return ret;
    }
    *written = output.pos;
    if (ret == 0) {
      *why = "the frame ends";
      break;
    }
    if (input.pos == before && output.pos == wrote) break;
    hint = ret;
  }
  return 0;
}

// Zstandard, as libtiff's codec reads a strip, but with the strip's buffer as the stream's
// own: the decoder writes each block straight into it and keeps no window, so a frame's window
// may be any size. A frame that holds more than the strip (libtiff keeps the strip's first
// bytes) has a last block the strip cannot take whole: that strip alone is decoded again
// through the library's own window, held to the page's memory.
uint32_t DecodeZstd(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size, uint8_t* out) {
  const uint64_t whole = TIFFStrileBytes(tif, rows);
  ZstdContext direct;
  if (!direct.dctx || ZSTD_isError(ZSTD_DCtx_setParameter(direct.dctx, ZSTD_d_windowLogMax, ZSTD_WINDOWLOG_MAX)) ||
      ZSTD_isError(ZSTD_DCtx_setParameter(direct.dctx, ZSTD_d_stableOutBuffer, 1))) {
    WarnOfFile("Zstandard decoder of TIFF %s %u could not be set up", OwnCodecStrileName(tif), index);
    return 0;
  }
  uint64_t written = 0;
  const char* why = nullptr;
  size_t failed = ZstdPass(direct.dctx, data, size, out, whole, &written, &why);
  if (failed && ZSTD_getErrorCode(failed) == ZSTD_error_dstSize_tooSmall && written < whole) {
    // A window of at most half the page's memory, with the library's two blocks beside it.
    int windowLog = ZSTD_WINDOWLOG_MIN;
    while (windowLog < ZSTD_WINDOWLOG_MAX && (uint64_t{1} << (windowLog + 2)) <= OwnCodecMemory(tif)) ++windowLog;
    ZstdContext buffered;
    uint64_t again = 0;
    // The same bytes again: a retry that stops sooner leaves those of the first pass after it.
    if (buffered.dctx && !ZSTD_isError(ZSTD_DCtx_setParameter(buffered.dctx, ZSTD_d_windowLogMax, windowLog))) {
      failed = ZstdPass(buffered.dctx, data, size, out, whole, &again, &why);
      written = std::max(written, again);
    }
  }
  if (failed && ZSTD_getErrorCode(failed) == ZSTD_error_checksum_wrong) {
    // Bytes that decode but are not the ones coded, wherever they are: none of the strip is kept.
    WarnOfFile("Zstandard data of TIFF %s %u do not match their checksum", OwnCodecStrileName(tif), index);
    return 0;
  }
  return KeepRows(tif, index, rows, out, written, whole, "Zstandard", why);
}

// Frees the filter options lzma_block_header_decode allocated.
struct LZMAFilters {
  lzma_filter list[LZMA_FILTERS_MAX + 1];
  LZMAFilters() {
    for (lzma_filter& f : list) f = {LZMA_VLI_UNKNOWN, nullptr};
  }
  ~LZMAFilters() { Free(); }
  void Free() {
    for (lzma_filter& f : list) {
      std::free(f.options);
      f = {LZMA_VLI_UNKNOWN, nullptr};
    }
  }
};

struct LZMAStream {
  lzma_stream s = LZMA_STREAM_INIT;
  ~LZMAStream() { lzma_end(&s); }
};

const char* LZMAWords(lzma_ret ret) {
  switch (ret) {
    case LZMA_MEM_ERROR: return "cannot allocate memory";
    case LZMA_FORMAT_ERROR: return "not an xz stream";
    case LZMA_OPTIONS_ERROR: return "unsupported options";
    case LZMA_DATA_ERROR: return "data are corrupt";
    case LZMA_BUF_ERROR: return "the data end";
    default: return "decoding error";
  }
}

// LZMA, as libtiff writes and reads it: one xz stream (libtiff reads no further), its blocks
// decoded in turn into the strip's buffer until it is full. Each block's header is read with
// liblzma's own parser, and its LZMA dictionary cut to the bytes the strip still wants: the
// decoder never wraps a dictionary that large, so the bytes are the same, and what it reserves
// is bounded by the strip.
uint32_t DecodeLZMA(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size, uint8_t* out) {
  const uint64_t whole = TIFFStrileBytes(tif, rows);
  const uint64_t memory = OwnCodecMemory(tif);
  lzma_stream_flags flags;
  uint64_t written = 0;
  const char* why = "the data end";
  lzma_ret ret = size < LZMA_STREAM_HEADER_SIZE ? LZMA_BUF_ERROR : lzma_stream_header_decode(&flags, data);
  if (ret != LZMA_OK) return KeepRows(tif, index, rows, out, 0, whole, "LZMA", LZMAWords(ret));
  LZMAStream stream;
  uint64_t pos = LZMA_STREAM_HEADER_SIZE;
  while (written < whole) {
    // A zero byte where a block would start is the stream's index: its blocks are all read.
    if (pos >= size || data[pos] == 0) break;
    const uint32_t headerSize = lzma_block_header_size_decode(data[pos]);
    if (headerSize > size - pos) break;
    LZMAFilters filters;
    lzma_block block{};
    block.version = 1;
    block.header_size = headerSize;
    block.check = flags.check;
    block.filters = filters.list;
    if ((ret = lzma_block_header_decode(&block, nullptr, data + pos)) != LZMA_OK) {
      why = LZMAWords(ret);
      break;
    }
    const uint64_t room = std::max<uint64_t>(LZMA_DICT_SIZE_MIN, whole);
    for (lzma_filter& f : filters.list)
      if (f.id == LZMA_FILTER_LZMA1 || f.id == LZMA_FILTER_LZMA1EXT || f.id == LZMA_FILTER_LZMA2) {
        auto* options = static_cast<lzma_options_lzma*>(f.options);
        options->dict_size = static_cast<uint32_t>(std::min<uint64_t>(options->dict_size, room));
      }
    const uint64_t needed = lzma_raw_decoder_memusage(filters.list);
    if (needed > memory) {
      WarnOfFile("LZMA data of TIFF %s %u name filters that need %llu bytes, more than the %llu allowed",
                 OwnCodecStrileName(tif), index, static_cast<unsigned long long>(needed),
                 static_cast<unsigned long long>(memory));
      return KeepRows(tif, index, rows, out, written, whole, "LZMA", "unsupported filters");
    }
    ret = lzma_block_decoder(&stream.s, &block);
    filters.Free();
    if (ret != LZMA_OK) {
      why = LZMAWords(ret);
      break;
    }
    stream.s.next_in = data + pos + headerSize;
    stream.s.avail_in = static_cast<size_t>(size - pos - headerSize);
    stream.s.next_out = out + written;
    stream.s.avail_out = static_cast<size_t>(whole - written);
    do {
      ret = lzma_code(&stream.s, LZMA_RUN);
    } while (ret == LZMA_OK && stream.s.avail_out > 0);
    written = whole - stream.s.avail_out;
    pos = static_cast<uint64_t>(stream.s.next_in - data);
    if (ret != LZMA_STREAM_END) {
      why = LZMAWords(ret);
      break;
    }
  }
  return KeepRows(tif, index, rows, out, written, whole, "LZMA", why);
}

}  // namespace

const char* OwnCodecStrileName(TIFF* tif) { return TIFFIsTiled(tif) ? "tile" : "strip"; }

void OwnCodecSwab(uint8_t* p, uint64_t bytes, uint16_t bits) {
  switch (bits) {
    case 16: TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(p), static_cast<tmsize_t>(bytes / 2)); break;
    case 24: TIFFSwabArrayOfTriples(p, static_cast<tmsize_t>(bytes / 3)); break;
    case 32: TIFFSwabArrayOfLong(reinterpret_cast<uint32_t*>(p), static_cast<tmsize_t>(bytes / 4)); break;
    case 64:
    case 128: TIFFSwabArrayOfLong8(reinterpret_cast<uint64_t*>(p), static_cast<tmsize_t>(bytes / 8)); break;
    default: break;
  }
}

bool OwnCodecReversesBits(TIFF* tif, bool jbig) {
  uint16_t fill = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fill);
  const bool handles = (fill & (TIFFIsMSB2LSB(tif) ? FILLORDER_MSB2LSB : FILLORDER_LSB2MSB)) != 0;
  return jbig ? handles : !handles;
}

bool OwnCodecCopy(const uint8_t* data, uint64_t size, bool reverse, uint32_t pad, ISArray<uint8_t>& copy) {
  if (!ResizeScratch(copy, size + pad)) return false;
  uint8_t* to = copy.Data();
  if (reverse)
    for (uint64_t i = 0; i < size; ++i) to[i] = CISOpContext::kBitReverse[data[i]];
  else
    std::memcpy(to, data, size);
  std::memset(to + size, 0, pad);
  return true;
}

uint64_t OwnCodecMemory(TIFF* tif) {
  const TIFFClientData* client = TIFFClientOf(tif);
  return client ? client->memoryLimit : 0;
}

bool TIFFOwnCodecDecodes(uint16_t compression) {
  return compression == COMPRESSION_JBIG || compression == COMPRESSION_ZSTD || compression == COMPRESSION_LZMA;
}

uint32_t DecodeTIFFOwnCodec(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size,
                            uint8_t* out) {
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (rows == 0 || TIFFStrileBytes(tif, rows) == 0) return 0;
  if (compression == COMPRESSION_JBIG) return DecodeTIFFJBIG(tif, index, rows, data, size, out);
  // libtiff reverses the stored bits of a page of the other fill order before decoding.
  ISArray<uint8_t> reversed;
  if (OwnCodecReversesBits(tif, false)) {
    if (!OwnCodecCopy(data, size, true, 0, reversed)) {
      WarnOfFile("no memory for TIFF %s %u", OwnCodecStrileName(tif), index);
      return 0;
    }
    data = reversed.Data();
  }
  return compression == COMPRESSION_ZSTD ? DecodeZstd(tif, index, rows, data, size, out)
                                         : DecodeLZMA(tif, index, rows, data, size, out);
}
