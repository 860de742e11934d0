// ISGetTIFFPreview: whether a TIFF file's first directory holds only a preview of its picture,
// as camera files often do, their sensor data in a sub-directory. Errors: 5, 38, 20.
#include <algorithm>
#include <set>
#include <vector>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/tiff/TIFFClient.h"

namespace {

// Directories looked at, at most: a camera file holds a handful.
constexpr size_t kMaxDirectories = 256;

// NewSubfileType bits.
constexpr uint32_t kReducedResolution = 1, kTransparencyMask = 4;

struct Picture {
  uint32_t width = 0, height = 0, subfileType = 0;
  uint64_t Area() const { return uint64_t{width} * height; }
};

Picture PictureOf(TIFF* tif) {
  Picture p;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height);
  TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &p.subfileType);
  return p;
}

}  // namespace

extern "C" BOOL ISGetTIFFPreview(ISIOHandle source, DWORD* isPreview, DWORD* width, DWORD* height) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!ISCheckHandle(source, error)) return FALSE;
    if (!isPreview || !width || !height) return error = IS_ERR_BADPARAM, FALSE;
    *isPreview = *width = *height = 0;
    CISIO io(source);
    io.Rewind();
    TIFFHandleHolder holder(OpenTIFFClient(io, "r", TIFFDirectoryAllocLimit(io)));
    TIFF* tif = holder.Get();
    if (!tif) return error = IS_ERR_BADTIFF, FALSE;
    const Picture first = PictureOf(tif);
    bool preview = (first.subfileType & kReducedResolution) != 0;
    // Every directory once, by its offset: the chain from the first one and the sub-directories
    // of each, so that a cyclic or self-referencing file ends.
    std::vector<uint64_t> pending = {TIFFCurrentDirOffset(tif)};
    std::set<uint64_t> seen;
    while (!preview && !pending.empty() && seen.size() < kMaxDirectories) {
      const uint64_t offset = pending.back();
      pending.pop_back();
      if (offset == 0 || !seen.insert(offset).second || !TIFFSetSubDirectory(tif, offset)) continue;
      const Picture p = PictureOf(tif);
      preview = !(p.subfileType & kTransparencyMask) && p.Area() > first.Area();
      uint16_t count = 0;
      uint64_t* subs = nullptr;
      if (TIFFGetField(tif, TIFFTAG_SUBIFD, &count, &subs) && subs)
        pending.insert(pending.end(), subs, subs + std::min<size_t>(count, kMaxDirectories));
      if (TIFFReadDirectory(tif)) pending.push_back(TIFFCurrentDirOffset(tif));  // the next in its chain
    }
    *isPreview = preview;
    *width = first.width;
    *height = first.height;
    return TRUE;
  });
}
