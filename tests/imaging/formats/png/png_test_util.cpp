#include "png_test_util.h"

#include <zlib.h>

#include <cstring>

#include "platform/global_memory.h"

namespace pngtest {

ReadResult ReadPNG(const Bytes& png, DWORD bits, DWORD flags) {
  return qrvtest::ReadFromMemory(png, [&](ISIOHandle src, DWORD* w, DWORD* h, RGBQUAD* palette) {
    return ISReadPNG(src, w, h, bits, palette, flags);
  });
}

Bytes WritePNG(const Bytes& pixels, const WriteArgs& a, BOOL* result, ISErrorCode* error) {
  Bytes sink(pixels.size() * 2 + (1 << 16));
  ISIOHandle h = ISOpenMemorySink(sink.data(), static_cast<DWORD>(sink.size()), 0);
  if (!h) return {};
  BOOL n = ISWritePNG(h, pixels.empty() ? nullptr : pixels.data(), a.width, a.height, a.stride, a.bits, a.colours,
                      a.palette, a.colourType, a.gamma, a.resolution, a.flags);
  if (error) *error = ISGetLastError();
  if (result) *result = n;
  ISCloseSink(h);
  if (n <= 0) return {};
  sink.resize(static_cast<size_t>(n));
  return sink;
}

Bytes Chunk(const char type[4], const Bytes& data) {
  Bytes c;
  const uint32_t n = static_cast<uint32_t>(data.size());
  for (int s = 24; s >= 0; s -= 8) c.push_back(static_cast<uint8_t>(n >> s));
  c.insert(c.end(), type, type + 4);
  c.insert(c.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  for (int s = 24; s >= 0; s -= 8) c.push_back(static_cast<uint8_t>(crc >> s));
  return c;
}

size_t FindChunk(const Bytes& png, const char type[4]) {
  size_t at = 8;
  while (at + 8 <= png.size()) {
    const uint32_t n = (uint32_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
    if (std::memcmp(&png[at + 4], type, 4) == 0) return at;
    at += 12 + uint64_t{n};
  }
  return 0;
}

Bytes InsertBefore(const Bytes& png, const char before[4], const Bytes& chunk) {
  const size_t at = FindChunk(png, before);
  if (!at) return {};
  Bytes out(png.begin(), png.begin() + static_cast<long>(at));
  out.insert(out.end(), chunk.begin(), chunk.end());
  out.insert(out.end(), png.begin() + static_cast<long>(at), png.end());
  return out;
}

Bytes MagickPixels(const std::string& path, const std::string& map, const std::string& background, int depth) {
  // ImageMagick takes a gAMA of 1.0 as linear light and converts on output unless told that
  // the stored values are the colours.
  std::string cmd = "/usr/bin/convert '" + path + "' -set colorspace sRGB";
  if (background == "file")
    cmd += " -flatten";
  else if (!background.empty())
    cmd += " -background '" + background + "' -flatten";
  cmd += " -depth " + std::to_string(depth) + " -endian MSB " + map + ":- 2>/dev/null";
  int status = 0;
  std::string out = qrvtest::RunCommand(cmd, &status);
  if (status != 0) return {};
  return Bytes(out.begin(), out.end());
}

std::string PngCheck(const Bytes& png, int* status) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("check.png");
  qrvtest::WriteFileBytes(path, png);
  return qrvtest::RunCommand("pngcheck -v '" + path + "' 2>&1", status);
}

}  // namespace pngtest
