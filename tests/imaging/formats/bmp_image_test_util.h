// Helpers for the tests of the BMP, TGA, PSD and PCX layers: reading and writing through
// memory handles, reference decodes by ImageMagick, and damaged copies of sample files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "qrv/imaging.h"
#include "support/memory_read.h"
#include "support/test_support.h"

namespace fmttest {

using Bytes = std::vector<uint8_t>;

// A decoded picture handed back by a reader (the block freed here).
struct Picture {
  DWORD width = 0;
  DWORD height = 0;
  ISErrorCode error = 0;
  Bytes pixels;  // block contents, `bytes` long
  std::string warning;
};

typedef HGLOBAL (*ReaderFn)(ISIOHandle, DWORD*, DWORD*, DWORD, RGBQUAD*, DWORD);

// Reads `file` through a memory source; `bytes` is the size of the result to keep (0: compute
// width x height x bits / 8 for 8, 24 and 32 bits; otherwise nothing kept unless given), which
// the returned block must hold.
inline Picture ReadWith(ReaderFn reader, const Bytes& file, DWORD bits, RGBQUAD* palette = nullptr,
                        DWORD flags = 0, uint64_t bytes = 0) {
  const qrvtest::ReadResult r = qrvtest::ReadFromMemory(file, [&](ISIOHandle src, DWORD* w, DWORD* h, RGBQUAD*) {
    return reader(src, w, h, bits, palette, flags);
  });
  Picture p{r.width, r.height, r.error, {}, r.warning};
  if (r.ok) {
    if (bytes == 0 && (bits == 8 || bits == 24 || bits == 32) && !(flags & IS_READ_AS_STORED))
      bytes = uint64_t{p.width} * p.height * (bits / 8);
    EXPECT_LE(bytes, r.image.size()) << "the block is smaller than its picture";
    p.pixels.assign(r.image.begin(), r.image.begin() + static_cast<long>(std::min<uint64_t>(bytes, r.image.size())));
  }
  return p;
}

// A memory sink of `capacity` bytes: Write returns the writer's result and keeps the bytes.
struct MemorySink {
  explicit MemorySink(size_t capacity = 1 << 22) : buffer(capacity) {
    handle = ISOpenMemorySink(buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  ~MemorySink() {
    if (handle) ISCloseSink(handle);
  }
  Bytes Take(DWORD size) { return Bytes(buffer.begin(), buffer.begin() + size); }
  Bytes buffer;
  ISIOHandle handle = nullptr;
};

// ImageMagick's decoding of a file as 8-bit R, G, B (A with alpha) rows; empty when it fails.
inline Bytes MagickPixels(const std::string& path, bool alpha, DWORD* width = nullptr, DWORD* height = nullptr) {
  int status = 0;
  const std::string quoted = "'" + path + "[0]'";
  std::string size = qrvtest::RunCommand("/usr/bin/identify -format '%w %h' " + quoted + " 2>/dev/null", &status);
  if (status != 0) return {};
  unsigned w = 0, h = 0;
  if (std::sscanf(size.c_str(), "%u %u", &w, &h) != 2) return {};
  if (width) *width = w;
  if (height) *height = h;
  std::string out = qrvtest::RunCommand(
      "/usr/bin/convert " + quoted + " -auto-orient -depth 8 " + (alpha ? "rgba:-" : "rgb:-") + " 2>/dev/null", &status);
  if (status != 0) return {};
  return Bytes(out.begin(), out.end());
}

// Damaged copies of a file: cut at a spread of lengths, and with single bytes changed at a
// spread of places (a fixed pattern, so failures repeat).
inline std::vector<Bytes> Truncations(const Bytes& file) {
  std::vector<Bytes> out;
  std::set<size_t> cuts = {1, 2, 8, 13, 17, 18, 20, 30, 40, 54, 60, 128, 129};
  for (size_t k = 1; k < 8; ++k) cuts.insert(file.size() * k / 8);
  cuts.insert(file.size() - 1);
  for (size_t c : cuts)
    if (c < file.size()) out.emplace_back(file.begin(), file.begin() + c);
  return out;
}

inline std::vector<Bytes> Corruptions(const Bytes& file, size_t count = 48) {
  std::vector<Bytes> out;
  uint32_t seed = 12345;
  for (size_t i = 0; i < count && !file.empty(); ++i) {
    Bytes b = file;
    seed = seed * 1103515245u + 12345u;
    // Half the changes hit the headers, where they matter most.
    const size_t span = (i & 1) ? std::min<size_t>(file.size(), 160) : file.size();
    const size_t at = (seed >> 8) % span;
    const uint8_t values[] = {0x00, 0xFF, 0x80, 0x7F, 0x01};
    b[at] = (i % 3 == 0) ? static_cast<uint8_t>(b[at] ^ 0x55) : values[(seed >> 4) % 5];
    out.push_back(std::move(b));
  }
  return out;
}

// What a cut copy of a sample gives, by where the cut falls in the sample's picture data,
// from `dataStart` to `dataEnd`: before it, a refusal; from five eighths of it on, the picture;
// in between, the picture or the decode budget's refusal (the data left may hold less than
// half the picture).
enum class CutGives { kRefusal, kPicture, kPictureOrBudgetRefusal };

inline CutGives CutInData(size_t cut, size_t dataStart, size_t dataEnd) {
  if (cut < dataStart) return CutGives::kRefusal;
  if (cut > dataStart && (cut - dataStart) * 8 >= (dataEnd - dataStart) * 5) return CutGives::kPicture;
  return CutGives::kPictureOrBudgetRefusal;
}

// A cut copy of a sample, read at `bits`, gives what `expect` says: a refusal with one of
// `refusals`; or the picture, whole in size, with the reader's word when the cut lost
// picture data (it ends before `dataEnd`); or either, the refusal then the budget's.
inline void ExpectCut(ReaderFn reader, const Bytes& cut, DWORD bits, RGBQUAD* palette, CutGives expect,
                      const std::set<ISErrorCode>& refusals, const std::string& format, size_t dataEnd,
                      DWORD flags = 0) {
  const Picture p = ReadWith(reader, cut, bits, palette, flags);
  const std::string what = std::to_string(cut.size()) + " bytes at " + std::to_string(bits) + " bits, flags " +
                           std::to_string(flags) + ": error " + std::to_string(p.error) + " (" + p.warning + ")";
  if (expect == CutGives::kRefusal || (expect == CutGives::kPictureOrBudgetRefusal && p.error != IS_ERR_OK)) {
    EXPECT_TRUE(refusals.count(p.error)) << what;
    if (expect != CutGives::kRefusal) {
      EXPECT_TRUE(p.warning.find("picture data could hold") != std::string::npos ||
                  p.warning.rfind(format + " file ends after ", 0) == 0)
          << what;
    }
    return;
  }
  ASSERT_EQ(p.error, IS_ERR_OK) << what;
  if (cut.size() < dataEnd || !p.warning.empty()) {
    EXPECT_EQ(p.warning.rfind(format + " file ended early: ", 0), 0u) << what;
  }
}

// Every corrupted copy of `file`, read at each depth in `bits` with a palette and then as
// stored, gives the picture or one of the `allowed` codes (and, under the sanitizers, no fault).
inline void ExpectCorruptionsGiveOnly(ReaderFn reader, const Bytes& file, std::initializer_list<DWORD> bits,
                                      const std::set<ISErrorCode>& allowed, bool paletteAsStored = false) {
  RGBQUAD palette[256];
  for (const Bytes& bad : Corruptions(file)) {
    for (DWORD b : bits) {
      const ISErrorCode error = ReadWith(reader, bad, b, palette).error;
      EXPECT_TRUE(error == IS_ERR_OK || allowed.count(error)) << b << " " << error;
    }
    ReadWith(reader, bad, 0, paletteAsStored ? palette : nullptr, IS_READ_AS_STORED);
  }
}

}  // namespace fmttest
