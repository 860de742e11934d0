// The PNG read and write context over libpng, and the pieces its readers and writer share:
// the libpng error, warning and data hooks over CISIO, the colour set-up of the paletted
// layouts, gamma, the file's background and its text chunks.
//
// libpng errors are thrown from PNGErrorHook as RovIrirev::ISException. libpng is built with
// unwind tables for every C function on this platform (as libjpeg is for the JPEG layer), so
// the exception passes through its frames to the catch of the reader or writer that called it;
// libpng's frames hold no resources of their own (its scratch lives in the read or write
// structure), so destroying the structures afterwards frees everything, exactly as after
// libpng's own longjmp. libpng never prints: the warning hook keeps its messages for the caller.
#pragma once

#include <png.h>

#include <cstdint>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISThreadState.h"

// Ancillary chunks (texts above all) are held whole by libpng: at most 1 MB each, after
// inflating, and at most 256 of them in one file, so that a small file of compressed texts
// cannot make libpng hold gigabytes. Larger or further chunks are skipped with a warning (a
// metadata chunk's is a note of the block left out).
constexpr png_alloc_size_t kPNGMaxChunkBytes = 1u << 20;

// Read options (the flags of ISReadPNG).
enum : DWORD {
  kPNGReadGamma = 1,     // gamma correction to the thread's display gamma
  kPNGReadAsStored = 2,  // a packed DIB in the file's own format
  kPNGReadKeep16 = 4,    // with a 16-bit request: 16-bit grey samples
};

// Write flags of WritePNG.
enum : DWORD {
  kPNGWriteInterlaced = 1,    // Adam7
  kPNGWritePaletteAlpha = 2,  // tRNS alphas from the palette entries' fourth bytes
};

// libpng's error callback: throws RovIrirev::ISException carrying the message; never returns.
[[noreturn]] void PNGErrorHook(png_structp png, png_const_charp message);
// libpng's warning callback: the message goes to the library trace, which shows nothing, and
// is kept for ISGetLastWarning unless it is about the colour profile only.
void PNGWarningHook(png_structp png, png_const_charp message);
// The readers' warning callback: a warning about a metadata chunk (iCCP, iTXt, eXIf) notes the
// block as left out, for it says nothing about the pixels; others as PNGWarningHook.
void PNGReadWarningHook(png_structp png, png_const_charp message);
// Read-data callback: exactly n bytes from the CISIO held as libpng's I/O pointer, or the
// libpng error "read Error".
void PNGReadCallback(png_structp png, png_bytep buffer, size_t n);

// What the write callback writes to: the sink and the bytes it accepted so far.
struct PNGWriteTarget {
  CISIO* sink = nullptr;
  uint64_t written = 0;
};
// Write-data callback over a PNGWriteTarget; a refused write is the libpng error "Write error".
void PNGWriteCallback(png_structp png, png_bytep data, size_t n);
// Output flush: nothing to do, the sink writes through.
void PNGFlushCallback(png_structp png);

// Colour set-up of the layouts of 1 to 8 bits (palette filled, packing chosen) and of 24 bits
// (expansion to RGB); FALSE when the file cannot be delivered at that depth.
BOOL SetupDepthAndPalette(png_structp png, png_infop info, RGBQUAD* palette, DWORD depth, int bitDepth,
                          int colourType);
// The file's bKGD colour (or zero) into the thread's file background.
void RecordFileBackground(png_structp png, png_infop info);
// Gamma handling of a read (see the definition).
void SetupGamma(png_structp png, png_infop info, DWORD options);
// The file's tEXt and zTXt chunks appended to `texts`, in libpng's order.
void CaptureTextChunks(png_structp png, png_infop info, std::vector<ISKeyTextPair>& texts);
// Empties the thread's list of texts read.
void ClearTextsRead();
// Keep the file's colour profile (iCCP), XMP packet (iTXt "XML:com.adobe.xmp", read as an
// unknown chunk and inflated here) and EXIF block (eXIf) for ISGetReadMetadata, or note why one
// met was left out.
void KeepPNGProfile(png_structp png, png_infop info);
void KeepPNGXMP(png_structp png, png_infop info);
void KeepPNGExif(png_structp png, png_infop info);

class CISPNGCodec {
 public:
  // Built on the stack of an entry point, whose frame holds the call-depth guard.
  CISPNGCodec() = default;
  CISPNGCodec(const CISPNGCodec&) = delete;
  CISPNGCodec& operator=(const CISPNGCodec&) = delete;

  // The pHYs triple of the writer: the caller's {x, y, unit}, or (1, 1, 0) for null.
  void SetResolution(const ISResolution* resolution);

  // Depth 1, 8, 16 (keep16), 24 or 48 (keep16); palette: 256 entries or null.
  HGLOBAL ReadPNGToDepth(CISIO& source, DWORD* width, DWORD* height, DWORD depth, RGBQUAD* palette, bool keep16,
                         DWORD options);
  // A packed DIB of 1, 4, 8, 24 or 32 bits from the file's own format.
  HGLOBAL ReadPNGAsStored(CISIO& source, DWORD* width, DWORD* height, RGBQUAD* palette, DWORD options);
  // R, G, B, A of 8 bits (filler 255) or 16 bits (keep16, filler 65535); a 32-bit DIB with
  // option bit 1.
  HGLOBAL ReadPNGRGBA(CISIO& source, DWORD* width, DWORD* height, uint32_t filler, bool keep16, DWORD options);
  // Grey and alpha, 8 bits each.
  HGLOBAL ReadPNGGreyAlpha(CISIO& source, DWORD* width, DWORD* height, uint32_t filler, DWORD options);

  // Writes the rows as a PNG stream; the sink's size after writing, or 0 with the error set.
  BOOL WritePNG(CISIO& sink, const BYTE* pixels, DWORD width, DWORD height, DWORD rowStride, DWORD bitsPerChannel,
                DWORD paletteColours, const RGBQUAD* palette, DWORD colourType, double gamma, DWORD flags);

  ISErrorCode error = IS_ERR_OK;
  uint32_t spare = 0;
  DWORD resolutionX = 1;
  DWORD resolutionY = 1;
  DWORD resolutionUnit = 0;

  // How the rows of one read come out; filled by a reader's colour set-up.
  struct Layout {
    uint64_t rowBytes = 0;   // bytes libpng must deliver per row
    DWORD dibDepth = 0;      // 0: packed top-down rows; else a packed DIB of this depth
    bool repack2To4 = false; // 2-bit palette rows widened to the DIB's 4 bits after reading
    RGBQUAD dibPalette[256] = {};
    // What the pixels that a damaged file cannot give are filled with: mid grey, opaque.
    // Rows of palette indices (indexBits 1, 2, 4 or 8) take the entry nearest to mid grey
    // among the first paletteColours of `palette`; other rows are 128 in every colour sample
    // and opaque in the last alphaBytes of each pixel.
    DWORD indexBits = 0;
    const RGBQUAD* palette = nullptr;
    DWORD paletteColours = 0;
    DWORD alphaBytes = 0;
  };

 private:
  template <typename Setup>
  HGLOBAL Read(CISIO& source, DWORD* width, DWORD* height, DWORD options, Setup&& setup);
  bool Fail(ISErrorCode code) {
    if (error == IS_ERR_OK) error = code;
    return false;
  }
};
