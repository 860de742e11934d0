// Photoshop file reading and writing behind ISReadPSD and ISWritePSD (the flattened image of
// bitmap, grey, indexed, RGB, CMYK and duotone files of 1, 8 or 16 bits, raw or PackBits), and
// the parser of Photoshop image-resource blocks.
#pragma once

#include <string>
#include <vector>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISContainers.h"
#include "qrv/imaging.h"

constexpr DWORD kPSDReadCMYK = 4;  // flags bit 2: the four CMYK channels as a 32-bit image

// One parsed image resource: its id, where its data starts within the record, the whole record
// ("8BIM" to the end of its padded data) and its name.
struct PSDResource {
  uint16_t id = 0;
  uint32_t dataOffset = 0;
  ISArray<unsigned char> record;
  std::string name;
};

// Parses blocks of {"8BIM", id, Pascal name, data size, data} records.
class CPhotoshopResources {
 public:
  ISErrorCode error = IS_ERR_OK;
  std::vector<uint16_t> wanted;  // ids to keep when not keeping all
  std::vector<PSDResource> records;
  // The resource whose data ran past the block and ended the scan: its id, the bytes it claims
  // and those the block holds of it (all 0 when none did).
  uint16_t cutId = 0;
  uint64_t cutClaimed = 0, cutHeld = 0;

  // TRUE when at least one good resource was read and the scan ended at the block's end, for
  // lack of further resources or at a resource running past the block; else error 67 (5 for a
  // null block).
  BOOL ParsePhotoshopResources(const BYTE* block, uint32_t size, bool keepAll);
  // The parsed resource of that id, or null with error 5.
  const PSDResource* FindResource(uint16_t id);
};

// Readers: the image block (global memory, the caller frees it), or null with the code in
// `error` (1 memory, 3 short read or bad compression, 5 argument, 14 stopped, 46 not a PSD
// file, 47 unsupported depth or mode).

// R, G, B (bits 24) or R, G, B, 255 (bits 32); CMYK files with flags bit 2 as their four
// channels (32 bits).
HGLOBAL ReadPSDRGB(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD bits, DWORD flags);
// One index a pixel with the 256-entry palette (bitmap, grey, indexed and duotone files).
HGLOBAL ReadPSD8(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, RGBQUAD* palette);
// A packed DIB: 8 bits with the palette, 24 bits, or 32 bits for CMYK with flags bit 2; the
// resolution resource fills the pixels-per-metre fields.
HGLOBAL ReadPSDAsStored(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD flags);

// Writers: the sink's size after writing, or 0 with the code in `error` (1 memory, 4 write
// failure, 5 argument, 14 stopped). `resources` is written as the image-resources section.
DWORD WritePSD8(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette,
                const ISArray<unsigned char>& resources);
DWORD WritePSD24(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height,
                 const ISArray<unsigned char>& resources);
DWORD WritePSD32(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height,
                 const ISArray<unsigned char>& resources);
