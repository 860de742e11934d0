// Helpers of the JPEG tests (see jpeg_test_util.h).
#include "jpeg_test_util.h"

#include <algorithm>
#include <cstring>

#include "platform/global_memory.h"

namespace jpegtest {

Bytes MakePicture(uint32_t width, uint32_t height, uint32_t comps, uint32_t seed) {
  Bytes out(size_t{width} * height * comps);
  uint32_t state = seed * 2654435761u + 12345u;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      state = state * 1103515245u + 12345u;
      const uint32_t noise = (state >> 16) & 15;
      const bool edge = ((x / 7) + (y / 5)) % 3 == 0;
      for (uint32_t c = 0; c < comps; ++c) {
        uint32_t v = (x * (40 + 30 * c) / (width ? width : 1) + y * (200 - 50 * c) / (height ? height : 1)) +
                     (edge ? 40 : 0) + noise;
        out[(size_t{y} * width + x) * comps + c] = static_cast<uint8_t>(v > 255 ? 255 : v);
      }
    }
  }
  return out;
}

Bytes Cjpeg(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t comps, const std::string& args) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in.pnm"), out = dir.File("out.jpg");
  if (!qrvtest::WriteFileBytes(in, qrvtest::MakePNM(pixels, width, height, comps))) return {};
  int status = -1;
  qrvtest::RunCommand("cjpeg " + args + " -outfile " + out + " " + in + " 2>/dev/null", &status);
  if (status != 0) return {};
  return qrvtest::ReadFileBytes(out);
}

Bytes Djpeg(const Bytes& jpeg, const std::string& args, uint32_t* width, uint32_t* height, uint32_t* comps) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in.jpg"), out = dir.File("out.pnm");
  if (!qrvtest::WriteFileBytes(in, jpeg)) return {};
  int status = -1;
  // djpeg's status is 2 after a warning (a cut stream); its output then still stands.
  qrvtest::RunCommand("djpeg -pnm " + args + " -outfile " + out + " " + in + " 2>/dev/null", &status);
  qrvtest::PNM pnm;
  if (!qrvtest::ReadPNM(out, pnm)) return {};
  *width = pnm.width;
  *height = pnm.height;
  *comps = pnm.comps;
  return pnm.pixels;
}

ReadResult ReadJPG(const Bytes& jpeg, DWORD bits, DWORD flags) {
  return qrvtest::ReadFromMemory(jpeg, [&](ISIOHandle src, DWORD* w, DWORD* h, RGBQUAD*) {
    return ISReadJPG(src, w, h, bits, flags);
  });
}

WriteResult WriteJPG(const Bytes& pixels, DWORD width, DWORD height, DWORD quality, DWORD bits,
                     const ISResolution* resolution, DWORD flags, size_t sinkSize) {
  WriteResult r;
  Bytes buffer(sinkSize ? sinkSize : size_t{width} * height * 4 + (1u << 20));
  ISIOHandle sink = ISOpenMemorySink(buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (!sink) return r;
  r.result = ISWriteJPG(sink, pixels.empty() ? nullptr : pixels.data(), width, height, quality, bits, resolution,
                        flags);
  r.error = ISGetLastError();
  ISCloseSink(sink);
  r.jpeg.assign(buffer.begin(), buffer.begin() + std::min<size_t>(r.result, buffer.size()));
  return r;
}

std::vector<std::pair<int, Bytes>> Markers(const Bytes& jpeg) {
  std::vector<std::pair<int, Bytes>> list;
  size_t i = 2;
  while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
    const int code = jpeg[i + 1];
    const size_t len = (size_t{jpeg[i + 2]} << 8) | jpeg[i + 3];
    if (code == 0xDA || len < 2 || i + 2 + len > jpeg.size()) break;
    list.emplace_back(code, Bytes(jpeg.begin() + static_cast<long>(i + 4), jpeg.begin() + static_cast<long>(i + 2 + len)));
    i += 2 + len;
  }
  return list;
}

size_t ScanDataOffset(const Bytes& jpeg) {
  size_t i = 2;
  while (i + 4 <= jpeg.size()) {
    if (jpeg[i] != 0xFF) return 0;
    const uint8_t marker = jpeg[i + 1];
    const size_t len = (size_t{jpeg[i + 2]} << 8) | jpeg[i + 3];
    if (marker == 0xDA) return i + 2 + len;
    i += 2 + len;
  }
  return 0;
}

}  // namespace jpegtest
