// The TIFF writer: one image written as a TIFF page over the client glue, with the depth's
// tags, the common tags (size, orientation, resolution, Software, strips or tiles, extra
// arrays) and the tag list of the thread's TIFF options.
#pragma once

#include <cstdint>
#include <memory>

#include <tiffio.h>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISThreadState.h"

// Write flags (the last argument of ISWriteTIFF).
enum : DWORD {
  kTIFFWriteAppend = 1,
  kTIFFWriteGrey = 2,
  kTIFFWriteCMYK = 4,
  kTIFFWriteBlackIsZero = 8,
  kTIFFWritePredictor = 16,
  kTIFFWriteTiles = 32,
  kTIFFWriteSwapRB = 64,
  kTIFFWriteBottomUp = 128,
};

// Pixel layouts of the depth writers.
enum class TIFFLayout { k1Bit, k4Bit, k8Bit, kGrey16, kRGB24, kRGBA32 };

// The writer's context: error, tiled flag, resolution and the 8-to-16-bit table (257 v).
struct CISTIFFWriter {
  CISTIFFWriter();
  ISErrorCode error = IS_ERR_OK;
  bool tiled = false;
  DWORD resolutionX = 1;
  DWORD resolutionY = 1;
  DWORD resolutionUnit = 1;
  uint16_t table16[256];
};

// An open page being written: the TIFF handle (which holds its own copy of the stream), the
// next scanline, the height and the bits per pixel.
struct TIFFWriterRecord {
  TIFF* tif = nullptr;
  uint32_t nextLine = 0;
  uint32_t height = 0;
  uint32_t bits = 0;
};

struct TIFFWriterRecordDeleter {
  void operator()(TIFFWriterRecord* record) const;
};
using TIFFWriterHandle = std::unique_ptr<TIFFWriterRecord, TIFFWriterRecordDeleter>;

TIFFWriterHandle OpenTIFFWriter(CISTIFFWriter& context, CISIO& stream, DWORD width, DWORD height,
                                const RGBQUAD* palette, TIFFLayout layout, DWORD compression, DWORD flags);
void SetTIFFCommonTags(CISTIFFWriter& context, TIFF* tif, DWORD width, DWORD height, DWORD compression, DWORD flags);
ISErrorCode WriteTIFFRows(CISTIFFWriter& context, TIFFWriterRecord* record, const BYTE* pixels, DWORD rowBytes,
                          DWORD width, DWORD height, bool swapRedBlue, bool bottomUp);
ISErrorCode WriteTIFFRows16(CISTIFFWriter& context, TIFFWriterRecord* record, const BYTE* pixels, DWORD width,
                            DWORD height, bool bottomUp);
BOOL WriteTIFFScanline(TIFFWriterRecord* record, const BYTE* row, ISErrorCode* error);
// Writes the directory and closes the handle; false with error 4 when libtiff could not write
// the directory, 5 for a null record. The caller's stream stays open.
BOOL CloseTIFFWriter(CISTIFFWriter& context, TIFFWriterHandle record);

// Depth writers: the size of the stream after the page is closed, or 0 with the context's
// error set.
DWORD WriteTIFF1(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, DWORD compression,
                 DWORD flags);
DWORD WriteTIFF4(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette,
                 DWORD compression, DWORD flags);
DWORD WriteTIFF8(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette,
                 DWORD compression, DWORD flags);
DWORD WriteTIFF16(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, DWORD compression,
                  DWORD flags);
DWORD WriteTIFFRGB(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                   DWORD compression, DWORD flags);

// The tag list of the thread's TIFF options, and its value writers.
bool SetTIFFArrayTag(TIFF* tif, uint32_t tag, const ISArray<unsigned char>& bytes);
BOOL WriteTIFFTags(TIFF* tif);
ISErrorCode SetTIFFTagBytes(TIFF* tif, const ISTIFFExtraTag& entry);
ISErrorCode SetTIFFTagShorts(TIFF* tif, const ISTIFFExtraTag& entry);
ISErrorCode SetTIFFTagLongs(TIFF* tif, const ISTIFFExtraTag& entry);
ISErrorCode SetTIFFTagFloats(TIFF* tif, const ISTIFFExtraTag& entry);
ISErrorCode SetTIFFTagDoubles(TIFF* tif, const ISTIFFExtraTag& entry);
