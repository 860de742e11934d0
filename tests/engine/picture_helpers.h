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

}  // namespace enginetest
