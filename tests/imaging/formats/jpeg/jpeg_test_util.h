// Helpers of the JPEG tests: synthetic pictures, the reference tools cjpeg and djpeg over
// temporary files, and reads and writes through the entry points over memory.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "qrv/imaging.h"
#include "support/memory_read.h"
#include "support/pictures.h"
#include "support/test_support.h"

namespace jpegtest {

using Bytes = std::vector<uint8_t>;

// A picture of `comps` interleaved bytes per pixel with edges, gradients and some noise.
Bytes MakePicture(uint32_t width, uint32_t height, uint32_t comps, uint32_t seed = 1);

// cjpeg with `args` on the pixels; empty when it fails.
Bytes Cjpeg(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t comps, const std::string& args);
// djpeg -pnm with `args` on the JPEG bytes; the pixels, empty when it fails.
Bytes Djpeg(const Bytes& jpeg, const std::string& args, uint32_t* width, uint32_t* height, uint32_t* comps);

// ISReadJPG over a memory source: the image bytes (the block's whole size), the error code.
using qrvtest::ReadResult;
ReadResult ReadJPG(const Bytes& jpeg, DWORD bits, DWORD flags = 0);

// ISWriteJPG into a memory sink of sinkSize bytes (0: large enough): the bytes written, the
// result and the error code.
struct WriteResult {
  Bytes jpeg;
  DWORD result = 0;
  ISErrorCode error = IS_ERR_OK;
};
WriteResult WriteJPG(const Bytes& pixels, DWORD width, DWORD height, DWORD quality, DWORD bits,
                     const ISResolution* resolution = nullptr, DWORD flags = 0, size_t sinkSize = 0);

// Marker segments of a stream before its first SOS: (code, payload).
std::vector<std::pair<int, Bytes>> Markers(const Bytes& jpeg);

// Offset just after the first SOS segment's header, 0 when there is none.
size_t ScanDataOffset(const Bytes& jpeg);

}  // namespace jpegtest
