// Speed of TIFF reading of a 6000 x 4000 picture through ISReadTIFF at 24 bits, per codec and
// layout, each iteration timed next to `tiff2rgba -c none` over the same file in the same run
// (its time includes starting the process and writing its output); "ratio" is ours / tool, and
// "decodes" the decodes per strip or tile of a read (1 for these whole files).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

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
};
constexpr Layout kLayouts[] = {
    {"lzw_predictor_strips", COMPRESSION_LZW, PREDICTOR_HORIZONTAL, 8, 0},
    {"deflate_strips", COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, 16, 0},
    {"deflate_tiles", COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, 0, 256},
    {"jpeg_strips", COMPRESSION_JPEG, PREDICTOR_NONE, 16, 0},
    {"lzma_predictor_strips", COMPRESSION_LZMA, PREDICTOR_HORIZONTAL, 16, 0},
    {"zstd_predictor_strips", COMPRESSION_ZSTD, PREDICTOR_HORIZONTAL, 16, 0},
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

BENCHMARK(BM_ReadVsTiff2rgba)->DenseRange(0, 5)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
