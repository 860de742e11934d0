// Speed of TIFF reading of a 6000 x 4000 picture through ISReadTIFF at 24 bits, per codec and
// layout, each iteration timed next to `tiff2rgba -c none` over the same file in the same run
// (its time includes starting the process and writing its output); "ratio" is ours / tool, and
// "decodes" the decodes per strip or tile of a read (1 for these whole files). Then an old-style
// JPEG page of 65496 rows in 8187 strips whose every strip ends in the byte laid before the next
// (bands of 0x80, 0x7F and 0xFF): each strip decoded once, so its time grows with the rows.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <jpeglib.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/formats/tiff/TIFFRead.h"
#include "platform/global_memory.h"
#include "qrv/imaging.h"

namespace {

constexpr int kW = qrvbench::kW, kH = qrvbench::kH;

struct Layout {
  const char* name;
  uint16_t compression, predictor;
  uint32_t rowsPerStrip, tile;
  uint16_t fillOrder = FILLORDER_MSB2LSB;
};
constexpr Layout kLayouts[] = {
    {"lzw_predictor_strips", COMPRESSION_LZW, PREDICTOR_HORIZONTAL, 8, 0},
    {"deflate_strips", COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, 16, 0},
    {"deflate_tiles", COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, 0, 256},
    {"jpeg_strips", COMPRESSION_JPEG, PREDICTOR_NONE, 16, 0},
    {"lzma_predictor_strips", COMPRESSION_LZMA, PREDICTOR_HORIZONTAL, 16, 0},
    {"zstd_predictor_strips", COMPRESSION_ZSTD, PREDICTOR_HORIZONTAL, 16, 0},
    {"deflate_predictor_strips", COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL, 16, 0},
    {"deflate_fillorder2_strips", COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, 16, 0, FILLORDER_LSB2MSB},
};

// The photo picture written as `layout` into a file of its own; empty when libtiff fails.
std::string WriteLayout(const Layout& layout, const std::string& dir) {
  const std::string path = dir + "/" + layout.name + ".tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kW);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kH);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
  if (layout.predictor != PREDICTOR_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, layout.predictor);
  TIFFSetField(tif, TIFFTAG_FILLORDER, layout.fillOrder);
  const std::vector<BYTE>& pic = qrvbench::PhotoPicture(false);
  bool ok = true;
  if (layout.tile) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, layout.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, layout.tile);
    std::vector<BYTE> tile(size_t{layout.tile} * layout.tile * 3);
    for (uint32_t y = 0; y < uint32_t{kH} && ok; y += layout.tile)
      for (uint32_t x = 0; x < uint32_t{kW} && ok; x += layout.tile) {
        std::fill(tile.begin(), tile.end(), 0);
        for (uint32_t r = 0; r < layout.tile && y + r < uint32_t{kH}; ++r)
          std::memcpy(&tile[size_t{r} * layout.tile * 3], &pic[(y + r) * qrvbench::kRow + x * 3],
                      std::min<size_t>(layout.tile, kW - x) * 3);
        ok = TIFFWriteTile(tif, tile.data(), x, y, 0, 0) >= 0;
      }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip);
    std::vector<BYTE> row(qrvbench::kRow);
    for (int y = 0; y < kH && ok; ++y) {
      std::memcpy(row.data(), &pic[y * qrvbench::kRow], qrvbench::kRow);
      ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) >= 0;
    }
  }
  ok = ok && TIFFWriteDirectory(tif);
  TIFFClose(tif);
  return ok ? path : std::string();
}

// The files of the layouts, written once per program into a folder of their own, and the
// tool's output beside them.
struct Files {
  std::string dir, out;
  std::vector<std::string> paths;
};

const Files& TestFiles() {
  static const Files files = [] {
    char tmpl[] = "/tmp/qrvbench-tiff-XXXXXX";
    Files made;
    made.dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    made.out = made.dir + "/out.tif";
    for (const Layout& layout : kLayouts) made.paths.push_back(WriteLayout(layout, made.dir));
    return made;
  }();
  static const struct Cleanup {
    ~Cleanup() {
      for (const std::string& p : files.paths) std::remove(p.c_str());
      std::remove(files.out.c_str());
      rmdir(files.dir.c_str());
    }
  } cleanup;
  return files;
}

uint32_t StrilesOf(const std::string& path) {
  uint32_t n = 0;
  if (TIFF* tif = TIFFOpen(path.c_str(), "r")) {
    n = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    TIFFClose(tif);
  }
  return n ? n : 1;
}

void BM_ReadVsTiff2rgba(benchmark::State& state) {
  const Files& f = TestFiles();
  const std::string& path = f.paths[static_cast<size_t>(state.range(0))];
  state.SetLabel(kLayouts[state.range(0)].name);
  if (path.empty()) return state.SkipWithError("libtiff could not write the file");
  const uint64_t decodedBefore = TIFFStrilesDecoded();
  qrvbench::TimeAgainstTool(state, "tiff2rgba -c none " + path + " " + f.out, "ISReadTIFF failed", [&] {
    ISIOHandle src = ISOpenFileSource(path.c_str());
    DWORD w = 0, h = 0;
    HGLOBAL image = ISReadTIFF(src, &w, &h, 24, nullptr, 0, 0);
    ISCloseSource(src);
    return image;
  });
  state.counters["decodes"] =
      double(TIFFStrilesDecoded() - decodedBefore) / (double(StrilesOf(path)) * state.iterations());
}

BENCHMARK(BM_ReadVsTiff2rgba)->DenseRange(0, 7)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void Put32(std::vector<BYTE>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<BYTE>(v >> (8 * i)));
}

// A 16 x `height` grey page as an old-style JPEG: libjpeg's baseline stream (quality 100, a
// restart after every row of blocks) of `grey(y)` in row y; its headers up to the scan header
// are the interchange stream, and the data between two restarts a strip of 8 rows.
std::vector<BYTE> OldStyleJPEGPage(uint32_t height, uint8_t (*grey)(uint32_t)) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = 16;
  c.image_height = height;
  c.input_components = 1;
  c.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  c.restart_in_rows = 1;
  jpeg_start_compress(&c, TRUE);
  for (uint32_t y = 0; y < height; ++y) {
    BYTE row[16];
    std::memset(row, grey(y), sizeof row);
    JSAMPROW p = row;
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  const std::vector<BYTE> jpeg(mem, mem + size);
  std::free(mem);
  jpeg_destroy_compress(&c);
  size_t at = 2;
  while (at + 4 <= jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] == 0xDA)) at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
  at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
  std::vector<BYTE> f;
  f.reserve(jpeg.size() + 64 + size_t{height} * 2);
  Put32(f, 0x002A4949);  // "II", 42
  Put32(f, 0);           // the IFD's place, set below
  const auto jif = static_cast<uint32_t>(f.size());
  f.insert(f.end(), jpeg.begin(), jpeg.begin() + static_cast<long>(at));
  std::vector<uint32_t> offsets = {static_cast<uint32_t>(f.size())}, counts = {0};
  for (; at + 1 < jpeg.size(); ++at) {
    if (jpeg[at] == 0xFF && jpeg[at + 1] >= 0xD0 && jpeg[at + 1] <= 0xD9) {
      counts.back() = static_cast<uint32_t>(f.size()) - offsets.back();
      offsets.push_back(static_cast<uint32_t>(f.size()));
      counts.push_back(0);
      ++at;
      continue;
    }
    f.push_back(jpeg[at]);
  }
  offsets.pop_back(), counts.pop_back();  // after the end of image
  const auto offsetsAt = static_cast<uint32_t>(f.size());
  for (uint32_t v : offsets) Put32(f, v);
  const auto countsAt = static_cast<uint32_t>(f.size());
  for (uint32_t v : counts) Put32(f, v);
  const auto n = static_cast<uint32_t>(offsets.size());
  const uint32_t entries[][4] = {{256, TIFF_LONG, 1, 16},       {257, TIFF_LONG, 1, height},
                                 {258, TIFF_SHORT, 1, 8},       {259, TIFF_SHORT, 1, COMPRESSION_OJPEG},
                                 {262, TIFF_SHORT, 1, 1},       {273, TIFF_LONG, n, offsetsAt},
                                 {277, TIFF_SHORT, 1, 1},       {278, TIFF_LONG, 1, 8},
                                 {279, TIFF_LONG, n, countsAt}, {512, TIFF_SHORT, 1, 1},
                                 {513, TIFF_LONG, 1, jif},      {514, TIFF_LONG, 1, offsets[0] - jif}};
  const auto ifd = static_cast<uint32_t>(f.size());
  for (int i = 0; i < 4; ++i) f[4 + i] = static_cast<BYTE>(ifd >> (8 * i));
  f.push_back(sizeof entries / sizeof entries[0]), f.push_back(0);
  for (const auto& e : entries) {
    f.push_back(static_cast<BYTE>(e[0])), f.push_back(static_cast<BYTE>(e[0] >> 8));
    f.push_back(static_cast<BYTE>(e[1])), f.push_back(0);
    Put32(f, e[2]);
    Put32(f, e[3]);
  }
  Put32(f, 0);
  return f;
}

void BM_OldStyleJPEGStripsEndingInTheLaidByte(benchmark::State& state) {
  constexpr uint32_t kRows = 65496;
  static const std::vector<BYTE> file = OldStyleJPEGPage(kRows, [](uint32_t y) -> uint8_t {
    return y < 8 ? 0x80 : (y / 8) % 2 ? 0x7F : 0xFF;
  });
  if (!TIFFIsCODECConfigured(COMPRESSION_OJPEG)) return state.SkipWithError("no old-style JPEG in this libtiff");
  const uint64_t decodedBefore = TIFFStrilesDecoded();
  for (auto _ : state) {
    ISIOHandle src = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
    DWORD w = 0, h = 0;
    HGLOBAL image = ISReadTIFF(src, &w, &h, 24, nullptr, 0, 0);
    ISCloseSource(src);
    if (!image) state.SkipWithError("ISReadTIFF failed");
    GlobalFree(image);
  }
  state.counters["file_KB"] = double(file.size()) / 1024;
  state.counters["decodes"] = double(TIFFStrilesDecoded() - decodedBefore) / ((kRows / 8.0) * state.iterations());
}

BENCHMARK(BM_OldStyleJPEGStripsEndingInTheLaidByte)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
