// A deflate stream ends in the checksum of the bytes it codes. libtiff gives those bytes only
// finished (the predictor undone, samples in the host's order), so the finishing is undone
// here a row at a time into a scratch row and the checksum taken over that: a valid strip is
// still decoded once. One that is not whole is decoded again by zlib, whose streaming inflate
// reads no bit past the data and tells exactly what they decode.
#include "imaging/formats/tiff/TIFFDeflateStrips.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/formats/FormatRefusal.h"
#include "imaging/formats/tiff/TIFFOwnCodecParts.h"
#include "imaging/formats/tiff/TIFFRead.h"

namespace {

constexpr uint64_t kChunk = uint64_t{1} << 30;  // what zlib takes in one call

uLong Adler(uLong sum, const uint8_t* p, uint64_t n) {
  for (uint64_t at = 0; at < n; at += kChunk)
    sum = adler32(sum, p + at, static_cast<uInt>(std::min(n - at, kChunk)));
  return sum;
}


// The horizontal predictor undone in place: each sample less the one a pixel before it.
template <typename T>
void Differences(uint8_t* row, uint64_t cc, uint32_t stride) {
  T* w = reinterpret_cast<T*>(row);
  for (uint64_t i = cc / sizeof(T); i-- > stride;) w[i] = static_cast<T>(w[i] - w[i - stride]);
}

// A finished row of `cc` bytes back as the decoder gave it, into `coded`; false for a layout
// libtiff would not have finished.
bool CodedRow(const OwnCodecFinishing& f, const uint8_t* row, uint64_t cc, uint8_t* coded) {
  const uint32_t bps = f.bits / 8;
  if (f.predictor == PREDICTOR_FLOATINGPOINT) {
    // Samples split into byte planes, most significant first, then each byte less the one
    // `stride` before it.
    if (f.bits % 8 != 0 || bps == 0 || cc % (uint64_t{bps} * f.stride) != 0) return false;
    const uint64_t count = cc / bps;
    constexpr bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    for (uint64_t s = 0; s < count; ++s)
      for (uint32_t b = 0; b < bps; ++b) coded[(little ? bps - 1 - b : b) * count + s] = row[s * bps + b];
    for (uint64_t i = cc; i-- > f.stride;) coded[i] = static_cast<uint8_t>(coded[i] - coded[i - f.stride]);
    return true;
  }
  std::memcpy(coded, row, cc);
  if (f.predictor == PREDICTOR_HORIZONTAL) {
    if (bps == 0 || f.bits % 8 != 0 || cc % (uint64_t{bps} * f.stride) != 0) return false;
    switch (f.bits) {
      case 8: Differences<uint8_t>(coded, cc, f.stride); break;
      case 16: Differences<uint16_t>(coded, cc, f.stride); break;
      case 32: Differences<uint32_t>(coded, cc, f.stride); break;
      case 64: Differences<uint64_t>(coded, cc, f.stride); break;
      default: return false;
    }
  }
  if (f.swab) OwnCodecSwab(coded, cc, f.bits);
  return true;
}

struct Inflater {
  z_stream z{};
  bool ready = inflateInit(&z) == Z_OK;
  ~Inflater() {
    if (ready) inflateEnd(&z);
  }
};

}  // namespace

bool TIFFDeflateDecodedWhole(TIFF* tif, const uint8_t* raw, uint64_t held, const uint8_t* out, uint64_t whole) {
  if (held < 6 || whole == 0) return false;
  uint8_t end[4];
  const bool reverse = OwnCodecReversesBits(tif, false);
  for (int i = 0; i < 4; ++i) end[i] = reverse ? CISOpContext::kBitReverse[raw[held - 4 + i]] : raw[held - 4 + i];
  const OwnCodecFinishing f = OwnCodecFinishingOf(tif);
  const uint64_t rowSize = OwnCodecRowSize(tif);
  uLong sum = adler32(0L, Z_NULL, 0);
  if (f.predictor == PREDICTOR_NONE && (!f.swab || f.bits <= 8)) {
    sum = Adler(sum, out, whole);
  } else {
    ISArray<uint8_t> coded;
    if (rowSize == 0 || whole % rowSize != 0 || !ResizeScratch(coded, rowSize)) return false;
    for (uint64_t at = 0; at < whole; at += rowSize) {
      if (!CodedRow(f, out + at, rowSize, coded.Data())) return false;
      sum = Adler(sum, coded.Data(), rowSize);
    }
  }
  return sum == ReadBE32(end);
}

uint32_t TIFFDeflateRowsHeld(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* raw, uint64_t held,
                             uint8_t* out) {
  const uint64_t whole = TIFFStrileBytes(tif, rows);
  ISArray<uint8_t> copy;
  Inflater inflater;
  if (whole == 0 || !inflater.ready || !OwnCodecCopy(raw, held, OwnCodecReversesBits(tif, false), 0, copy)) return 0;
  z_stream& z = inflater.z;
  z.next_in = copy.Data();
  uint64_t in = held;
  // Inflates into `to` until the stream ends, fails, `room` is full or the data are spent.
  const auto inflateInto = [&](uint8_t* to, uint64_t room) {
    z.next_out = to;
    int ret = Z_OK;
    while (ret == Z_OK && room > 0) {
      const auto give = static_cast<uInt>(std::min(in, kChunk)), take = static_cast<uInt>(std::min(room, kChunk));
      z.avail_in = give;
      z.avail_out = take;
      ret = inflate(&z, Z_NO_FLUSH);
      in -= give - z.avail_in;
      room -= take - z.avail_out;
    }
    return std::make_pair(ret, room);
  };
  auto [ret, room] = inflateInto(out, whole);
  // A stream that fills its strip is followed to its end, so that its checksum is checked: as
  // far as another strip's worth (libtiff keeps the strip's bytes of a stream that codes more).
  uint8_t past[4096];
  for (uint64_t beyond = 0; ret == Z_OK && room == 0 && in > 0 && beyond < whole; beyond += sizeof past) {
    const auto more = inflateInto(past, sizeof past);
    ret = more.first;
    if (more.second == sizeof past) break;  // no progress: the data are spent
  }
  // Bytes that decode but fail the stream's checksum are not the ones coded, wherever they are;
  // a stream that turns bad past its strip was bad before (its strip's bytes are not known good).
  if (ret == Z_DATA_ERROR && (room == 0 || (z.msg && std::strcmp(z.msg, "incorrect data check") == 0))) {
    WarnOfFile("deflate data of TIFF %s %u are corrupt (%s)", OwnCodecStrileName(tif), index,
               z.msg ? z.msg : "bad data");
    return 0;
  }
  const uint32_t done = TIFFWholeRows(tif, whole - room, rows);
  return done > 0 && TIFFFinishDecoded(tif, index, out, TIFFStrileBytes(tif, done)) ? done : 0;
}
