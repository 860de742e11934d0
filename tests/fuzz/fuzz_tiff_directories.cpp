// seeds: tiff
// The picture object's look at a camera file's TIFF directories (which of them hold a preview)
// on arbitrary bytes: the chain and sub-directories are walked within their bounds, and an
// answer names a size.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/CRGBImage.h"
#include "qrv/imaging.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (4u << 20)) return 0;
  ISIOHandle source = ISOpenMemorySource(data, static_cast<DWORD>(size));
  if (!source) return 0;
  const std::string preview = TiffPreviewSize(source);
  if (!preview.empty() && preview.find(" x ") == std::string::npos) std::abort();
  ISCloseSource(source);
  return 0;
}
