// Helpers of the PNG tests: reads and writes through the entry points over memory, chunk
// surgery on PNG streams, and ImageMagick references.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/core/ISThreadState.h"
#include "qrv/imaging.h"
#include "support/memory_read.h"
#include "support/pictures.h"
#include "support/test_support.h"

namespace pngtest {

using Bytes = std::vector<uint8_t>;

// Restores the thread's PNG options and ICC profile after a test changed them.
struct PNGOptionsGuard {
  ISPNGOptions saved = GetThreadState()->png;
  ISArray<unsigned char> icc = GetThreadState()->iccProfile;
  ~PNGOptionsGuard() {
    GetThreadState()->png = saved;
    GetThreadState()->iccProfile = icc;
  }
};

using qrvtest::ReadResult;
// ISReadPNG over a memory source.
ReadResult ReadPNG(const Bytes& png, DWORD bits, DWORD flags = 0);

struct WriteArgs {
  DWORD width = 0, height = 0, stride = 0, bits = 8, colours = 0, colourType = 2, flags = 0;
  const RGBQUAD* palette = nullptr;
  double gamma = 0.0;
  const ISResolution* resolution = nullptr;
};
// ISWritePNG into a memory sink; the stream (empty on failure) and the returned value.
Bytes WritePNG(const Bytes& pixels, const WriteArgs& args, BOOL* result = nullptr, ISErrorCode* error = nullptr);

// A chunk: length, type, data, CRC.
Bytes Chunk(const char type[4], const Bytes& data);
// Offset of the first chunk of that type, or 0 when there is none.
size_t FindChunk(const Bytes& png, const char type[4]);
// The stream with `chunk` put just before the first chunk of type `before`.
Bytes InsertBefore(const Bytes& png, const char before[4], const Bytes& chunk);

// ImageMagick's decoding of a PNG file: samples of `depth` bits (16: most significant byte
// first), `map` "rgb" or "rgba"; with a non-empty
// background the picture is first flattened onto it ("file": onto the file's bKGD colour).
// Empty when the tool failed.
Bytes MagickPixels(const std::string& path, const std::string& map, const std::string& background, int depth = 8);

// pngcheck -v output of a stream, and its exit status.
std::string PngCheck(const Bytes& png, int* status);

}  // namespace pngtest
