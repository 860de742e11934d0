// The JPEG read, information and (lossless transform) context: decodes through libjpeg over a
// CISIO source, captures the file's comments and APPn markers into the thread's lists.
#pragma once

#include <cstdint>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/jpeg/JPGCommon.h"

// Read flags of ISReadJPG.
enum : DWORD {
  kJPGReadKeepCMYK = 1,    // four-component files as 32-bit CMYK
  kJPGReadAsStored = 2,    // a packed DIB at the file's own depth
  kJPGReadKeepYCbCr = 4,   // three-component files as Y, Cb, Cr
  kJPGReadPaddedBGR = 8,   // rows padded to 4 bytes, 24-bit rows B, G, R
  kJPGReadSeekBack = 16,   // the source left just after the JPEG data
};

// Colour kinds of a decode (what libjpeg delivers).
enum JPGColourKind : int32_t {
  kJPGColourNone = 0,
  kJPGColourGrey = 1,
  kJPGColourRGB = 2,
  kJPGColourCMYK = 3,
  kJPGColourYCCK = 4,   // CMYK samples converted by libjpeg from a YCCK file
  kJPGColourYCbCr = 5,
};

// Output kinds of a read (what the caller receives).
enum JPGOutputKind : int32_t {
  kJPGOutNone = 0,
  kJPGOutGrey8 = 1,
  kJPGOutRGB24 = 2,
  kJPGOutCMYK32 = 3,
  kJPGOutYCCK32 = 4,
  kJPGOutYCbCr24 = 5,
};

// One whole decode, built by Setup and freed by Release within one entry-point call.
struct JPGDecodeState {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  CISIO io;
  ISArray<uint8_t> rowBuffer;  // output width x components x 2 bytes
  int32_t colourKind = kJPGColourNone;
  int32_t outputKind = kJPGOutNone;
  uint32_t xDensity = 0;
  uint32_t yDensity = 0;
  uint32_t densityUnit = 0;
  bool created = false;  // the decompressor exists and must be destroyed

  explicit JPGDecodeState(const CISIO& source) : cinfo(), err(), io(source) {}
  JPGDecodeState(const JPGDecodeState&) = delete;
  JPGDecodeState& operator=(const JPGDecodeState&) = delete;
  ~JPGDecodeState();
};

// Where libjpeg's decoded rows and the read's scale meet: the thread's scale rounded to the
// reductions libjpeg's 6b interface offered (1/1, 1/2, 1/4, 1/8); a denominator of 0 is 1/1.
void JPGRoundReadScale(uint32_t num, uint32_t den, unsigned int* scaleNum, unsigned int* scaleDenom);

class CISJPGReader {
 public:
  // Built on the stack of an entry point, whose frame holds the call-depth guard.
  CISJPGReader() = default;
  CISJPGReader(const CISJPGReader&) = delete;
  CISJPGReader& operator=(const CISJPGReader&) = delete;

  // The whole read: a caller-owned global-memory image, or null with the error set. When
  // finishing the stream fails after every row was decoded, the image is still returned
  // and the error is 3.
  HGLOBAL Read(CISIO& source, DWORD* width, DWORD* height, DWORD bits, DWORD flags);
  // Header-only information (also captures comments and markers).
  BOOL GetInfo(CISIO& source, DWORD* width, DWORD* height, DWORD* bits, DWORD* xDensity, DWORD* yDensity,
               DWORD* unit, DWORD* colourSpace, DWORD* codingFlags);

  JPGDecodeState* Setup(CISIO& source, DWORD* width, DWORD* height, DWORD bits, DWORD flags);
  BOOL ReadRow(JPGDecodeState* state, uint8_t* row, DWORD* rowIndex);
  BOOL Release(JPGDecodeState* state);
  // Copies libjpeg's saved COM and APPn markers into the thread's found lists.
  void StoreMarkers(j_decompress_ptr cinfo);
  // Lossless transform of the source's coefficients into the sink (JPGTransformCall.cpp).
  BOOL Transform(CISIO& source, CISIO& sink, DWORD mode, int32_t x, int32_t y, uint32_t width, uint32_t height);

  ISErrorCode error = IS_ERR_OK;

 private:
  bool Fail(ISErrorCode code) {
    if (error == IS_ERR_OK) error = code;
    return false;
  }
};
