// Small helpers of the engine's tests: random pictures, PPM files and JPEGs with an EXIF
// block, over the shared test pictures.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/CRGBImage.h"
#include "qrv/imaging.h"
#include "support/pictures.h"
#include "support/test_support.h"

namespace enginetest {

// A width x height PackedRGB24 picture of seeded random samples in [lo, hi].
inline std::vector<uint8_t> RandomPicture(int width, int height, uint32_t seed, int lo = 0, int hi = 255) {
  return qrvtest::RandomBytes(static_cast<size_t>(width) * height * 3, seed, lo, hi);
}

// Reads a binary PPM (P6, maxval 255) as PackedRGB24; false when it is not one.
inline bool ParsePPM(const std::vector<uint8_t>& file, int& width, int& height, std::vector<uint8_t>& pixels) {
  qrvtest::PNM pnm;
  if (!qrvtest::ParsePNM(file, pnm) || pnm.comps != 3) return false;
  width = static_cast<int>(pnm.width);
  height = static_cast<int>(pnm.height);
  pixels = std::move(pnm.pixels);
  return true;
}

// Writes a JPEG of a PackedRGB24 picture carrying an EXIF record as the reader keeps it (four
// leading bytes, then the APP1 payload); false when the library refuses.
inline bool WriteJpegWithExif(const std::string& path, const std::vector<uint8_t>& pixels, int width, int height,
                              const std::vector<uint8_t>& exifRecord, int quality = 90) {
  ISIOHandle sink = ISOpenFileSink(path.c_str(), 0);
  if (!sink) return false;
  ISClearJPGMarkers();
  if (exifRecord.size() > 4)
    ISAddJPGMarker(exifRecord.data() + 4, static_cast<DWORD>(exifRecord.size() - 4), 0xE1);
  const DWORD written = ISWriteJPG(sink, pixels.data(), static_cast<DWORD>(width), static_cast<DWORD>(height),
                                   static_cast<DWORD>(quality), 24, nullptr, 0);
  ISCloseSink(sink);
  ISClearJPGMarkers();
  return written != 0;
}

// The pixels of a picture file as the picture object loads it; empty when it does not load.
inline std::vector<BYTE> FilePixels(const std::string& path) {
  CRGBImage img;
  if (img.Load(path) != 0) return {};
  const BYTE* px = img.LockPixels();
  std::vector<BYTE> out(px, px + static_cast<size_t>(img.GetWidth()) * img.GetHeight() * 3);
  img.UnlockPixels();
  return out;
}

// One directory of a little-endian TIFF file built by TiffFile: an uncompressed 8-bit RGB
// picture of width x height with its NewSubfileType; `subOfFirst` makes it a sub-directory
// (SubIFDs) of the first directory instead of the next one in the chain.
struct TiffDirectory {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t subfileType = 0;
  bool subOfFirst = false;
};

// A TIFF file of the given directories, the first one first; every picture readable.
inline std::vector<uint8_t> TiffFile(const std::vector<TiffDirectory>& dirs) {
  std::vector<uint8_t> f = {'I', 'I', 42, 0, 0, 0, 0, 0};
  auto put = [&f](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  auto append = [&f, &put](uint32_t v, int n) {
    f.resize(f.size() + n);
    put(f.size() - n, v, n);
  };
  std::vector<uint32_t> dataAt;
  for (const TiffDirectory& d : dirs) {
    dataAt.push_back(static_cast<uint32_t>(f.size()));
    for (size_t i = 0; i < size_t(d.width) * d.height * 3; ++i) f.push_back(static_cast<uint8_t>(i * 7));
  }
  const uint32_t bitsAt = static_cast<uint32_t>(f.size());
  for (int i = 0; i < 3; ++i) append(8, 2);
  std::vector<size_t> subs, chain;
  for (size_t i = 0; i < dirs.size(); ++i) (i > 0 && dirs[i].subOfFirst ? subs : chain).push_back(i);
  // The directories' places: 2 + 12 per entry + 4 bytes each, the first one's SubIFDs after it.
  std::vector<uint32_t> ifdAt(dirs.size());
  uint32_t at = static_cast<uint32_t>(f.size());
  for (size_t i = 0; i < dirs.size(); ++i) {
    const uint32_t entries = 11 + (i == 0 && !subs.empty() ? 1 : 0);
    ifdAt[i] = at;
    at += 2 + 12 * entries + 4 + (i == 0 && subs.size() > 1 ? 4 * static_cast<uint32_t>(subs.size()) : 0);
  }
  put(4, ifdAt[0], 4);
  for (size_t i = 0; i < dirs.size(); ++i) {
    const TiffDirectory& d = dirs[i];
    const bool withSubs = i == 0 && !subs.empty();
    append(11 + (withSubs ? 1 : 0), 2);
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
      append(tag, 2), append(type, 2), append(count, 4), append(value, 4);
    };
    const uint32_t bytes = d.width * d.height * 3;
    entry(254, 4, 1, d.subfileType);
    entry(256, 4, 1, d.width);
    entry(257, 4, 1, d.height);
    entry(258, 3, 3, bitsAt);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 2);
    entry(273, 4, 1, dataAt[i]);
    entry(277, 3, 1, 3);
    entry(278, 4, 1, d.height);
    entry(279, 4, 1, bytes);
    entry(284, 3, 1, 1);
    const uint32_t listAt = ifdAt[0] + 2 + 12 * 12 + 4;
    if (withSubs) entry(330, 4, static_cast<uint32_t>(subs.size()), subs.size() == 1 ? ifdAt[subs[0]] : listAt);
    size_t link = 0;
    for (size_t k = 0; k + 1 < chain.size(); ++k)
      if (chain[k] == i) link = chain[k + 1];
    append(link ? ifdAt[link] : 0, 4);
    if (withSubs && subs.size() > 1)
      for (size_t s : subs) append(ifdAt[s], 4);
  }
  return f;
}

}  // namespace enginetest
