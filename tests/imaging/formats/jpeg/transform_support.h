// Helpers of the lossless-transform tests: the transform over memory, jpegtran over temporary
// files, and a plain coefficient dump of a stream for comparisons block by block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jpeg_test_util.h"

namespace xformtest {

using jpegtest::Bytes;

struct TransformResult {
  Bytes out;
  bool ok = false;
  ISErrorCode error = IS_ERR_OK;
  DWORD sinkSize = 0;  // what the sink holds afterwards
};
// ISTransformJPG from a memory source into a memory sink.
TransformResult Transform(const Bytes& jpeg, DWORD mode, int32_t x = 0, int32_t y = 0, uint32_t w = 0,
                          uint32_t h = 0);

// jpegtran -copy all <args>; empty when it fails.
Bytes Jpegtran(const Bytes& jpeg, const std::string& args);

// The switches of jpegtran matching a mode word (and crop rectangle).
std::string JpegtranArgs(DWORD mode, int32_t x, int32_t y, uint32_t w, uint32_t h);

// Every component's blocks (only those inside its width and height in blocks), sampling factors
// and quantisation table, read through libjpeg's coefficient interface.
struct Component {
  int h = 0, v = 0;
  uint32_t widthInBlocks = 0, heightInBlocks = 0;
  std::vector<int16_t> coef;  // row-major blocks, 64 each
  std::vector<uint16_t> quant;
  const int16_t* Block(uint32_t row, uint32_t col) const {
    return coef.data() + (size_t{row} * widthInBlocks + col) * 64;
  }
};
struct Coefficients {
  bool ok = false;
  uint32_t width = 0, height = 0;
  int colourSpace = 0;
  std::vector<Component> comps;
};
Coefficients ReadCoefficients(const Bytes& jpeg);

// The stream with one more segment (code, payload) after its first segment (or after SOI when
// `afterSOI` is set).
Bytes InsertSegment(const Bytes& jpeg, int code, const Bytes& payload, bool afterSOI = false);

using jpegtest::Markers;

}  // namespace xformtest
