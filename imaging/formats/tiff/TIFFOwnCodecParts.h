// What the decoders of TIFFOwnCodecs.cpp, TIFFJBIGStrips.cpp and TIFFDeflateStrips.cpp share.
#pragma once

#include <cstdint>

#include <tiffio.h>

#include "imaging/core/ISContainers.h"
#include "imaging/formats/tiff/TIFFRead.h"


// "strip" or "tile".
const char* OwnCodecStrileName(TIFF* tif);

// Samples of `bits` bits among `bytes` bytes at `p` put in the other byte order, as libtiff puts
// those of a file not in the host's order (the same call puts them back).
void OwnCodecSwab(uint8_t* p, uint64_t bytes, uint16_t bits);

// What libtiff does to the decoded bytes of a strip or tile of this handle's page before it
// returns them: its predictor over samples `stride` apart (a pixel's samples, or 1 in separate
// planes), then the file's byte order when `swab`.
struct OwnCodecFinishing {
  uint16_t predictor = PREDICTOR_NONE, bits = 1, format = SAMPLEFORMAT_UINT;
  uint32_t stride = 1;
  bool swab = false;
};
OwnCodecFinishing OwnCodecFinishingOf(TIFF* tif);
// The bytes of one row of a strip or tile of this handle's page.
uint64_t OwnCodecRowSize(TIFF* tif);

// Whether libtiff would reverse the bits of each stored byte before its codec sees them: for
// most codecs when the page's fill order is not the handle's, for JBIG (whose codec does it
// itself) when it is.
bool OwnCodecReversesBits(TIFF* tif, bool jbig);

// A private copy of `size` bytes of `data`, bits reversed with `reverse`, and `pad` zero bytes
// after them; false when it cannot be allocated.
bool OwnCodecCopy(const uint8_t* data, uint64_t size, bool reverse, uint32_t pad, ISArray<uint8_t>& copy);

// The most a codec library may allocate for one strip of this handle's page.
uint64_t OwnCodecMemory(TIFF* tif);

uint32_t DecodeTIFFJBIG(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size, uint8_t* out);
