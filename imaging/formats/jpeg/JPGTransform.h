// The lossless transform engine: moves the quantised DCT blocks of a JPEG stream (with the
// coefficients negated or transposed inside them) to flip, transpose, rotate or crop it.
#pragma once

#include <cstdint>

#include "imaging/formats/jpeg/JPGCommon.h"

// Transform codes of the engine.
enum JPGTransformCode : int32_t {
  kJXformNone = 0,
  kJXformFlipH = 1,
  kJXformFlipV = 2,
  kJXformTranspose = 3,
  kJXformTransverse = 4,
  kJXformRot90 = 5,
  kJXformRot180 = 6,
  kJXformRot270 = 7,
};

// How a crop value is given.
enum JPGCropMode : int32_t {
  kJCropUnset = 0,
  kJCropPositive = 1,  // from the left or top edge
  kJCropNegative = 2,  // from the right or bottom edge
};

// Operation numbers (low byte of the public mode word) and flags.
enum : uint32_t {
  kJPGOpFlipH = 1,
  kJPGOpFlipV = 2,
  kJPGOpTransverse = 3,
  kJPGOpTranspose = 4,
  kJPGOpRot90 = 5,
  kJPGOpRot180 = 6,
  kJPGOpRot270 = 7,
  kJPGOpCrop = 8,
  kJPGTransformGrey = 0x100,
  kJPGTransformNoTrim = 0x200,
  kJPGTransformProgressive = 0x400,
};

// The transform request and its derived geometry.
struct JPGTransformInfo {
  int32_t transform = kJXformNone;
  uint8_t trim = 0;
  uint8_t forceGrey = 0;
  uint8_t crop = 0;
  uint32_t cropWidth = 0;
  int32_t cropWidthSet = kJCropUnset;
  uint32_t cropHeight = 0;
  int32_t cropHeightSet = kJCropUnset;
  uint32_t cropXOffset = 0;
  int32_t cropXOffsetSet = kJCropUnset;
  uint32_t cropYOffset = 0;
  int32_t cropYOffsetSet = kJCropUnset;

  int32_t numComponents = 0;
  jvirt_barray_ptr* workspace = nullptr;  // one array per output component, or none
  uint32_t outputWidth = 0;
  uint32_t outputHeight = 0;
  uint32_t xCropOffset = 0;  // in iMCUs
  uint32_t yCropOffset = 0;
  int32_t maxHSamp = 1;  // of the output
  int32_t maxVSamp = 1;

  uint32_t IMCUWidth() const { return static_cast<uint32_t>(maxHSamp) * DCTSIZE; }
  uint32_t IMCUHeight() const { return static_cast<uint32_t>(maxVSamp) * DCTSIZE; }
};

// The transform code of a public operation number (3 is transverse and 4 transpose there).
int32_t JPGTransformCodeFromOperation(uint32_t operation);
// True for the transforms that exchange width and height.
bool JPGTransformTransposes(int32_t transform);

// From the source header: output components, geometry, crop, trim; requests the workspace
// arrays from the source's memory manager (before jpeg_read_coefficients realises them).
// An unacceptable crop is libjpeg's "Invalid crop request".
void RequestTransformWorkspace(j_decompress_ptr srcinfo, JPGTransformInfo* info);
void TrimRightEdge(JPGTransformInfo* info, uint32_t fullWidth);
void TrimBottomEdge(JPGTransformInfo* info, uint32_t fullHeight);

// Destination set-up after jpeg_copy_critical_parameters; the coefficient arrays to write.
jvirt_barray_ptr* AdjustTransformParameters(j_decompress_ptr srcinfo, j_compress_ptr dstinfo,
                                            jvirt_barray_ptr* srcCoefArrays, JPGTransformInfo* info);
// Exchanges the sampling factors of every component and transposes every quantisation table.
void TransposeCriticalParameters(j_compress_ptr dstinfo);
// Rewrites the EXIF pixel dimensions of a TIFF structure in place; gives up silently on any
// mismatch.
void AdjustExifDimensions(JOCTET* data, uint32_t length, uint32_t newWidth, uint32_t newHeight);

// Saves COM and APP0 to APP15 of the source; writes them to the destination in file order.
void CopyMarkersSetup(j_decompress_ptr srcinfo);
void CopyMarkersExecute(j_decompress_ptr srcinfo, j_compress_ptr dstinfo);

// Moves the blocks into the arrays being written. FALSE when the progress callback stopped it.
bool ExecuteTransform(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, jvirt_barray_ptr* srcCoefArrays,
                      const JPGTransformInfo* info);

// The workers, one per transform (JPGTransformWorkers.cpp). Each reports progress after every
// row of iMCUs of a component and returns false at once when asked to stop.
bool JPGTransformCrop(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                      jvirt_barray_ptr* src, jvirt_barray_ptr* dst);
bool JPGTransformFlipHInPlace(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                              jvirt_barray_ptr* src);
bool JPGTransformFlipH(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                       jvirt_barray_ptr* src, jvirt_barray_ptr* dst);
bool JPGTransformFlipV(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                       jvirt_barray_ptr* src, jvirt_barray_ptr* dst);
bool JPGTransformTranspose(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                           jvirt_barray_ptr* src, jvirt_barray_ptr* dst);
bool JPGTransformTransverse(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                            jvirt_barray_ptr* src, jvirt_barray_ptr* dst);
bool JPGTransformRot90(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                       jvirt_barray_ptr* src, jvirt_barray_ptr* dst);
bool JPGTransformRot180(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                        jvirt_barray_ptr* src, jvirt_barray_ptr* dst);
bool JPGTransformRot270(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                        jvirt_barray_ptr* src, jvirt_barray_ptr* dst);
