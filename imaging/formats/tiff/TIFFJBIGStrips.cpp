// JBIG strips decoded by libjbig from a private copy of their stored bytes, bits reversed as
// libtiff's codec reverses them. libjbig allocates the whole bitmap its header names, whatever
// it was told by jbg_dec_maxsize (which only stops between resolution layers), and ends the
// process when that fails; so the header is judged first, exactly as libjbig will read it: the
// copy's first 20 bytes once its own jbg_newlen has walked the marker segments and put a
// NEWLEN's height in place. A stream that ends early or turns bad keeps the rows libjbig
// finished before that.
// jbig.h declares its functions without C linkage of its own.
extern "C" {
#include <jbig.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imaging/core/ISThreadState.h"
#include "imaging/formats/FormatRefusal.h"
#include "imaging/formats/tiff/TIFFOwnCodecParts.h"
#include "imaging/formats/tiff/TIFFOwnCodecs.h"

namespace {

constexpr uint64_t kHeader = 20;
// Zero bytes after the copy: jbg_newlen reads a NEWLEN's four bytes without checking that the
// data hold them.
constexpr uint32_t kPad = 8;

// The header jbg_dec_in will read from a copy of at least 20 bytes, after jbg_newlen.
struct Claim {
  uint32_t planes = 0, xd = 0, yd = 0;
  uint8_t options = 0;
  bool newHeight = false;
};

Claim ReadClaim(uint8_t* copy, uint64_t size) {
  const uint32_t stated = ReadBE32(copy + 8);
  jbg_newlen(copy, static_cast<size_t>(size));
  Claim c;
  c.planes = copy[2];
  c.xd = ReadBE32(copy + 4);
  c.yd = ReadBE32(copy + 8);
  c.options = copy[19];
  c.newHeight = c.yd != stated;
  return c;
}

uint32_t StrileWidth(TIFF* tif) {
  uint32_t width = 0;
  TIFFGetField(tif, TIFFIsTiled(tif) ? TIFFTAG_TILEWIDTH : TIFFTAG_IMAGEWIDTH, &width);
  return width;
}

bool ClaimFits(TIFF* tif, uint32_t index, uint32_t rows, const Claim& c, bool whole, char* reason, size_t n) {
  const uint32_t width = StrileWidth(tif);
  const uint64_t rowBytes = TIFFStrileBytes(tif, 1), bpl = (uint64_t{c.xd} + 7) / 8;
  const bool shape = c.planes == 1 && c.xd == width;
  const bool layout = bpl == rowBytes && TIFFStrileBytes(tif, rows) == rowBytes * rows;
  if (shape && layout && (c.yd <= rows || (!whole && (c.options & JBG_VLENGTH)))) return true;
  const char* name = OwnCodecStrileName(tif);
  if (shape && layout && c.newHeight)
    std::snprintf(reason, n, "JBIG data of TIFF %s %u sets its height to %u, more than the %s's %u rows", name, index,
                  c.yd, name, rows);
  else if (shape && !layout)
    std::snprintf(reason, n, "JBIG data of TIFF %s %u code rows of %llu bytes, not the %s's rows of %llu bytes", name,
                  index, static_cast<unsigned long long>(bpl), name, static_cast<unsigned long long>(rowBytes));
  else
    std::snprintf(reason, n,
                  "JBIG header of TIFF %s %u claims %u plane(s) of %u x %u pixels, not the %s's %u x %u (%llu bytes)",
                  name, index, c.planes, c.xd, c.yd, name, width, rows,
                  static_cast<unsigned long long>(TIFFStrileBytes(tif, rows)));
  return false;
}

struct Decoder {
  jbg_dec_state s;
  Decoder() {
    std::memset(&s, 0, sizeof s);
    jbg_dec_init(&s);
  }
  ~Decoder() { jbg_dec_free(&s); }
};

}  // namespace

bool TIFFJBIGHeaderFits(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size, bool whole,
                        char* reason, size_t reasonSize) {
  if (size < kHeader) return true;  // libjbig allocates nothing before its header is whole
  ISArray<uint8_t> copy;
  if (!OwnCodecCopy(data, size, OwnCodecReversesBits(tif, true), kPad, copy)) return true;
  return ClaimFits(tif, index, rows, ReadClaim(copy.Data(), size), whole, reason, reasonSize);
}

uint32_t DecodeTIFFJBIG(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size, uint8_t* out) {
  char reason[kMaxWarningText + 1] = {};
  const char* name = OwnCodecStrileName(tif);
  ISArray<uint8_t> copy;
  if (!OwnCodecCopy(data, size, OwnCodecReversesBits(tif, true), kPad, copy)) {
    WarnOfFile("no memory for the JBIG data of TIFF %s %u", name, index);
    return 0;
  }
  if (size >= kHeader) {
    const Claim c = ReadClaim(copy.Data(), size);
    if (!ClaimFits(tif, index, rows, c, true, reason, sizeof reason)) {
      SetLastWarning(reason);
      return 0;
    }
  }
  Decoder d;
  size_t used = 0;
  const int ret = jbg_dec_in(&d.s, copy.Data(), static_cast<size_t>(size), &used);
  const uint64_t bpl = (uint64_t{StrileWidth(tif)} + 7) / 8;
  uint64_t done = 0;
  const unsigned char* image = nullptr;
  if (ret == JBG_EOK) {
    image = jbg_dec_getimage(&d.s, 0);
    done = jbg_dec_getheight(&d.s);
  } else if (d.s.s && d.s.d == 0 && d.s.planes == 1) {
    // One layer of one plane: the stripes before the current one and its finished lines.
    image = d.s.lhp[0][0];
    const uint64_t stripe = uint64_t{d.s.ii[0]} + d.s.ii[1] + d.s.ii[2];
    done = std::min<uint64_t>(d.s.yd, stripe * d.s.l0 + d.s.i);
  }
  if (!image) done = 0;
  done = std::min<uint64_t>(done, rows);
  if (done > 0) std::memcpy(out, image, done * bpl);
  if (done < rows && ret == JBG_EOK)
    WarnOfFile("JBIG data of TIFF %s %u hold %llu of its %u rows", name, index, static_cast<unsigned long long>(done),
               rows);
  else if (done < rows)
    WarnOfFile("JBIG data of TIFF %s %u end after %llu of its %u rows (%s)", name, index,
               static_cast<unsigned long long>(done), rows, jbg_strerror(ret));
  return static_cast<uint32_t>(done);
}
