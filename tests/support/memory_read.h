// One reader call over a memory source, for the format tests: the whole block the reader
// returned (freed here), the size it gave and the error code and warning it left.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/global_memory.h"
#include "qrv/imaging.h"

namespace qrvtest {

struct ReadResult {
  std::vector<uint8_t> image;  // the block's whole size
  bool ok = false;
  DWORD width = 0;
  DWORD height = 0;
  ISErrorCode error = IS_ERR_OK;
  std::string warning;  // ISGetLastWarning after the read
  RGBQUAD palette[256] = {};
};

// `read(source, &width, &height, palette)` on a memory source holding `file`.
template <typename Read>
ReadResult ReadFromMemory(const std::vector<uint8_t>& file, Read read) {
  ReadResult r;
  ISIOHandle source = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
  if (!source) return r;
  HGLOBAL image = read(source, &r.width, &r.height, r.palette);
  r.error = ISGetLastError();
  r.warning = ISGetLastWarning();
  ISCloseSource(source);
  if (image) {
    const auto* p = static_cast<const uint8_t*>(image);
    r.image.assign(p, p + GlobalSize(image));
    r.ok = true;
    GlobalFree(image);
  }
  return r;
}

// The metadata block of `kind` (IS_META_*) the last read on this thread met; empty when none.
inline std::vector<uint8_t> MetadataOfLastRead(DWORD kind) {
  HGLOBAL data = nullptr;
  DWORD length = 0;
  if (!ISGetReadMetadata(kind, &data, &length)) return {};
  const auto* p = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> b(p, p + length);
  GlobalFree(data);
  return b;
}

}  // namespace qrvtest
