// The JPEG write context: encodes 8-bit grey, 24-bit RGB/YCbCr or 32-bit CMYK/YCCK rows
// through libjpeg into a CISIO sink, with the thread's options, comments, markers and ICC
// profile.
#pragma once

#include <cstdint>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/jpeg/JPGCommon.h"

// Write flags of ISWriteJPG.
enum : DWORD {
  kJPGWriteProgressive = 1,  // jpeg_simple_progression
  kJPGWriteYCCK = 2,         // 32-bit input is YCCK, not CMYK
  kJPGWriteYCbCr = 4,        // 24-bit input is Y, Cb, Cr, not R, G, B
  kJPGWriteNoJFIF = 8,       // no JFIF APP0 marker
};

// The compressor of one write, built by Setup and freed by Release.
struct JPGCompressBlock {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  CISIO io;
  bool failed = false;  // libjpeg raised an error: the stream is abandoned, never finished

  explicit JPGCompressBlock(const CISIO& sink) : cinfo(), err(), io(sink) {}
  JPGCompressBlock(const JPGCompressBlock&) = delete;
  JPGCompressBlock& operator=(const JPGCompressBlock&) = delete;
  ~JPGCompressBlock();
};

// Fills `list` with the APP2 "ICC_PROFILE" chunks of the thread's ICC profile (at most 65519
// profile bytes each); FALSE when there is no profile or a chunk cannot be allocated.
BOOL WriteICCProfileMarkers(ISPtrVector<CFileDataTag>& list);

class CISJPGWriter {
 public:
  // Built on the stack of an entry point, whose frame holds the call-depth guard.
  CISJPGWriter() = default;
  CISJPGWriter(const CISJPGWriter&) = delete;
  CISJPGWriter& operator=(const CISJPGWriter&) = delete;

  // The whole write: the sink's size after the stream is finished, 0 on failure.
  DWORD Write(CISIO& sink, const BYTE* pixels, DWORD width, DWORD height, DWORD quality, DWORD bits, DWORD flags);

  JPGCompressBlock* Setup(CISIO& sink, DWORD width, DWORD height, DWORD quality, DWORD flags, DWORD bits);
  // Every row from the top, then Release; the sink's size, or 0 on failure.
  DWORD WriteRows(JPGCompressBlock* block, const BYTE* pixels, DWORD rowBytes, DWORD height);
  BOOL WriteScanline(JPGCompressBlock* block, const BYTE* row);
  // Finishes the stream (only when every row went in without error) and frees the block.
  BOOL Release(JPGCompressBlock* block);
  void SetDensity(j_compress_ptr cinfo);
  void SetDCTMethod(j_compress_ptr cinfo, int32_t option);
  void WriteMarkers(j_compress_ptr cinfo);

  ISErrorCode error = IS_ERR_OK;
  DWORD xDensity = 1;
  DWORD yDensity = 1;
  DWORD densityUnit = 0;

 private:
  bool Fail(ISErrorCode code) {
    if (error == IS_ERR_OK) error = code;
    return false;
  }
};
