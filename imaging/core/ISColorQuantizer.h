// Colour quantization: palettes of at most 256 colours chosen by an octree or by a 5-5-5 colour
// cube merged through a heap, and the mapping of RGB pixels to one-byte indices with serpentine
// error diffusion and a per-cell cache of nearest colours.
//
// Pixels are 3 bytes (4 with flag bit 1, the fourth skipped), c0, c1, c2 = bytes 0, 1, 2.
// Palettes hold 256 entries of 4 bytes whose fourth byte is never written: (c2, c1, c0) in bytes
// 0, 1, 2 (the usual R, G, B pixels with B, G, R entries), or (c0, c1, c2) with flag bit 0.
// Flag bit 3 picks the octree builder. Error codes: 1 no memory, 5 bad argument, 14 stopped.
#pragma once

#include <cstdint>

#include "imaging/core/ISContainers.h"
#include "qrv/imaging.h"

constexpr DWORD kQuantPaletteOrder = 1;  // pixels in the palette's byte order
constexpr DWORD kQuantFourBytes = 2;     // 4-byte pixels
constexpr DWORD kQuantOctree = 8;        // the octree builder

// Octree palette builder. Returns the number of colours (0 on failure, code in `error`).
struct ISOctreeNode;
struct ISOctreeContext {
  ISErrorCode error = IS_ERR_OK;
  ISOctreeNode* root = nullptr;
  ~ISOctreeContext();
};
DWORD OctreeQuantize(ISOctreeContext& ctx, const BYTE* source, DWORD width, DWORD height, DWORD rowBytes, DWORD n,
                     RGBQUAD* palette, DWORD flags);
void OctreeFree(ISOctreeContext& ctx, ISOctreeNode*& node);

class CISColorQuantizer {
 public:
  CISColorQuantizer();
  CISColorQuantizer(const CISColorQuantizer&) = delete;
  CISColorQuantizer& operator=(const CISColorQuantizer&) = delete;

  // The cube builder: returns the number of colours (0 on failure) and writes all 256 entries,
  // those from the colour count on black.
  DWORD BuildPalette(const BYTE* source, DWORD width, DWORD height, DWORD rowBytes, DWORD n, RGBQUAD* palette,
                     DWORD flags);
  // Maps every pixel to the index of a palette colour with error diffusion.
  bool MapImage(const BYTE* source, BYTE* destination, DWORD width, DWORD height, DWORD sourceRowBytes,
                DWORD destinationRowBytes, DWORD colourCount, const RGBQUAD* palette, DWORD flags);
  void SetDitherLimit(BYTE limit) { ditherLimit_ = limit; }
  // 0: half of the error to the next pixel and half to the one below; otherwise Floyd-Steinberg.
  void SetDiffusionMode(DWORD mode) { diffusionMode_ = mode; }
  ISErrorCode Error() const { return error_; }

  // A cell of the 5-5-5 cube or one of its ancestors.
  struct Node {
    uint64_t sum[3];
    uint32_t own;      // pixels held by this node itself
    uint32_t subtree;  // pixels of the node and everything below it
    uint8_t childMask;
    uint8_t index;
  };
  struct HeapEntry {
    uint8_t level;
    uint16_t node;
  };

 private:
  void SiftDown(uint32_t position);
  uint64_t Key(const HeapEntry& e) const;
  void Collect(uint32_t level, uint32_t index);

  ISErrorCode error_ = IS_ERR_OK;
  DWORD diffusionMode_ = 1;
  BYTE p0_[256], p1_[256], p2_[256];
  Node* levels_[6] = {};
  uint32_t colourCount_ = 0;
  uint32_t nextIndex_ = 0;
  uint16_t cellIndex_[3][256];
  ISArray<Node> nodes_;      // the six levels, one block
  ISArray<HeapEntry> heap_;  // used from position 1
  uint32_t heapSize_ = 0;
  BYTE ditherLimit_ = 20;
};

// Runs the builder that flag bit 3 picks; stores the number of colours through colourCount.
bool BuildPalette(ISErrorCode& error, const BYTE* source, DWORD width, DWORD height, DWORD rowBytes, DWORD n,
                  RGBQUAD* palette, DWORD* colourCount, DWORD flags);
bool MapToPalette(ISErrorCode& error, const BYTE* source, BYTE* destination, DWORD width, DWORD height,
                  DWORD sourceRowBytes, DWORD destinationRowBytes, DWORD colourCount, RGBQUAD* palette,
                  DWORD diffusionMode, BYTE ditherLimit, DWORD flags);
// BuildPalette with up to colourCount colours, then MapToPalette with the colours it chose.
bool ReduceColours(ISErrorCode& error, const BYTE* source, BYTE* destination, DWORD width, DWORD height,
                   DWORD sourceRowBytes, DWORD destinationRowBytes, DWORD colourCount, RGBQUAD* palette,
                   DWORD diffusionMode, BYTE ditherLimit, DWORD flags);
