// Helpers of the TIFF tests: small pages written with libtiff, reads through the entry points
// over memory, and an upright reference of a page for every Orientation value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qrv/imaging.h"
#include "support/memory_read.h"
#include "support/test_support.h"

namespace tifftest {

using Bytes = std::vector<uint8_t>;
constexpr uint16_t kNoTag = 0xFFFF;

// One page as libtiff writes it: data holds the stored rows, top first, each
// ceil(width x bits x samples / 8) bytes (16-bit samples in native order).
struct Page {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bits = 8;
  uint16_t samples = 1;
  uint16_t photometric = 1;  // kNoTag: no Photometric tag
  uint16_t compression = 1;
  uint16_t orientation = kNoTag;
  uint32_t rowsPerStrip = 0;  // 0: libtiff's default
  uint32_t tileWidth = 0;     // non-zero: tiled (multiples of 16)
  uint32_t tileLength = 0;
  std::vector<uint16_t> colourMap;  // red, green, blue arrays back to back
  std::vector<uint16_t> extraSamples;
  uint16_t inkSet = 0;
  float xResolution = 0.0f;  // 0: no resolution tags
  float yResolution = 0.0f;
  uint16_t resolutionUnit = 2;
  Bytes data;
  uint64_t RowBytes() const { return (uint64_t{width} * bits * samples + 7) / 8; }
};

// The pages written into one TIFF file, returned as bytes (empty when libtiff fails).
Bytes WriteTIFFPages(const std::vector<Page>& pages);

// Patching the first IFD of a little-endian file: entry `index` of a SHORT or LONG tag (a
// single value, or an array such as StripOffsets).
uint32_t Get32(const Bytes& b, size_t at);
uint32_t GetEntry(const Bytes& file, uint16_t tag, uint32_t index);
void SetEntry(Bytes& file, uint16_t tag, uint32_t index, uint32_t v);
// Moves strip or tile `index` to the end of the file and keeps `keep` of its bytes (a file cut
// inside that strip's data), or with `keep` 0 leaves it where it is with byte count 0.
Bytes Damaged(Bytes file, bool tiled, uint32_t index, double keep);

using qrvtest::ReadResult;
// ISReadTIFF over a memory source; the block's bytes are the whole block.
ReadResult ReadTIFFBytes(const Bytes& file, DWORD bits, DWORD page = 0, DWORD flags = 0, bool withPalette = true);

// The upright picture of a stored one (pixels of `bytesPerPixel` bytes, rows top first) for an
// Orientation value; width and height are exchanged for 5 to 8.
Bytes Upright(const Bytes& stored, uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint32_t orientation,
              uint32_t* outWidth, uint32_t* outHeight);

// 1-bit rows (most significant bit first) to one byte per pixel, and back.
Bytes Unpack1(const Bytes& packed, uint32_t width, uint32_t height, uint64_t rowBytes);
Bytes Pack1(const Bytes& bytes, uint32_t width, uint32_t height);

// The RGBA pixels (top row first) of every page of a file as tiff2rgba converts them, read
// back with libtiff; empty when the tool is missing or fails.
std::vector<Bytes> Tiff2RGBAPages(const std::string& path, std::vector<uint32_t>* widths,
                                  std::vector<uint32_t>* heights);

}  // namespace tifftest
