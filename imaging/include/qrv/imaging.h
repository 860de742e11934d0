// The imaging library's public interface: every entry point, with C linkage, and the types
// its callers need. Every entry point clears the thread's last error on entry, returns 0 or
// null on failure and leaves the code for ISGetLastError.
#pragma once

#include <stdint.h>

#include "platform/global_memory.h"
#include "platform/win32_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------------------------------
// Error codes. One table gives each code its number; the application keeps the texts.
// ---------------------------------------------------------------------------------------
#define IS_ERROR_CODES(X)                                                               \
  X(IS_ERR_OK, 0)               /* no error */                                          \
  X(IS_ERR_NOMEM, 1)            /* out of memory */                                     \
  X(IS_ERR_OPEN, 2)             /* file cannot be opened */                             \
  X(IS_ERR_READ, 3)             /* file read error or short header */                   \
  X(IS_ERR_WRITE, 4)            /* file write error */                                  \
  X(IS_ERR_BADPARAM, 5)         /* bad parameter: null pointer or handle, bad depth */  \
  X(IS_ERR_NOTBMP, 6)           /* not a BMP file */                                    \
  X(IS_ERR_BMPRLE, 7)           /* unsupported RLE variant */                           \
  X(IS_ERR_BADJPEG, 9)          /* bad JPEG file */                                     \
  X(IS_ERR_DC, 10)              /* device-context failure */                            \
  X(IS_ERR_BITMAPBITS, 11)      /* bitmap bits could not be read */                     \
  X(IS_ERR_RESOURCE, 13)        /* resource not found */                                \
  X(IS_ERR_STOPPED, 14)         /* stopped by the progress callback */                  \
  X(IS_ERR_BADPNG, 15)          /* bad PNG file */                                      \
  X(IS_ERR_PNGINTERNAL, 16)     /* PNG library internal failure */                      \
  X(IS_ERR_INTERNAL, 17)        /* unexpected internal failure */                       \
  X(IS_ERR_FONT, 18)            /* font could not be created */                         \
  X(IS_ERR_TIFFINTERNAL, 19)    /* TIFF internal error */                               \
  X(IS_ERR_BADTIFF, 20)         /* invalid TIFF file */                                 \
  X(IS_ERR_TIFFLZW, 21)         /* LZW-compressed TIFF not readable */                  \
  X(IS_ERR_BADPCX, 22)          /* invalid PCX file */                                  \
  X(IS_ERR_COMPATBITMAP, 23)    /* compatible bitmap could not be created */            \
  X(IS_ERR_SINGLELINE, 24)      /* image ended during single-line coding */             \
  X(IS_ERR_DIBITS, 25)          /* bitmap bits call failed */                           \
  X(IS_ERR_DEVCAPS, 26)         /* device lacks a required capability */                \
  X(IS_ERR_BADWMF, 27)          /* invalid Windows metafile */                          \
  X(IS_ERR_BITDEPTH, 28)        /* file not of the requested bit depth */               \
  X(IS_ERR_BLT, 29)             /* block transfer failed */                             \
  X(IS_ERR_BUFFERSMALL, 30)     /* output buffer too small */                           \
  X(IS_ERR_PALETTESMALL, 31)    /* output palette too small */                          \
  X(IS_ERR_BADTGA, 32)          /* bad TGA file */                                      \
  X(IS_ERR_DDB, 35)             /* device-dependent bitmap could not be created */      \
  X(IS_ERR_LZWNOTPERMITTED, 36) /* LZW coding not permitted */                          \
  X(IS_ERR_BADHANDLE, 38)       /* handle given is not a valid I/O handle */            \
  X(IS_ERR_SETWINMETAFILE, 41)  /* a Windows metafile could not be made enhanced */     \
  X(IS_ERR_NOMETABITS, 42)      /* the metafile has no bits */                          \
  X(IS_ERR_NOTPSD, 46)          /* not a PSD file, or mode not readable as stored */    \
  X(IS_ERR_PSDMODE, 47)         /* PSD depth or colour mode not supported */            \
  X(IS_ERR_NOSTATE, 55)         /* no per-thread state */                               \
  X(IS_ERR_EXIFPARSE, 56)       /* malformed EXIF block */                              \
  X(IS_ERR_EXIFTAG, 57)         /* EXIF tag missing */                                  \
  X(IS_ERR_EXIFCOPY, 65)        /* EXIF copy failure */                                 \
  X(IS_ERR_PSDRESOURCE, 67)     /* bad Photoshop image-resource block */                \
  X(IS_ERR_RESAMPLESIZE, 68)    /* resampling target side below the filter's support */

typedef uint32_t ISErrorCode;
#ifdef __cplusplus
#define IS_DEFINE_ERROR(name, value) constexpr ISErrorCode name = value;
#else
#define IS_DEFINE_ERROR(name, value) enum { name = value };
#endif
IS_ERROR_CODES(IS_DEFINE_ERROR)
#undef IS_DEFINE_ERROR

// ---------------------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------------------

// An open byte source or sink; opaque to callers.
typedef struct ISIOHandleRec* ISIOHandle;

// Progress: (rows done, total rows, user word); 0 stops the operation with error 14.
typedef BOOL (*ISProgressCallback)(DWORD done, DWORD total, uintptr_t user);

// Allocation callbacks a caller may install for the blocks readers hand out.
typedef void* (*ISAllocCallback)(uint64_t size, uintptr_t user);
typedef void* (*ISReAllocCallback)(void* block, uint64_t size, uintptr_t user);
typedef BOOL (*ISFreeCallback)(void* block, uintptr_t user);

// Caller callbacks behind a callback source or sink; `user` is handed to each.
typedef BOOL (*ISIOOpenFn)(uintptr_t user);
typedef DWORD (*ISIOReadFn)(void* buffer, DWORD count, uintptr_t user);
typedef BOOL (*ISIOWriteFn)(const void* buffer, DWORD count, uintptr_t user);
typedef BOOL (*ISIOSeekFn)(int32_t offset, int32_t origin, uintptr_t user);
typedef BOOL (*ISIOTellFn)(uintptr_t user, DWORD* position);
typedef BOOL (*ISIOSizeFn)(uintptr_t user, DWORD* size);
typedef BOOL (*ISIOEofFn)(uintptr_t user);
typedef BOOL (*ISIOCloseFn)(uintptr_t user);

// Seek origins.
enum { IS_SEEK_SET = 0, IS_SEEK_CUR = 1, IS_SEEK_END = 2 };

// The I/O functions a separate decoder uses to read through this library. The first word
// holds sizeof(ISIOCallbackTable); a consumer accepts the table only when it matches.
typedef struct ISIOCallbackTable {
  uintptr_t size;
  ISIOHandle handle;
  DWORD (*read)(ISIOHandle handle, void* buffer, DWORD count);
  BOOL (*write)(ISIOHandle handle, const void* buffer, DWORD count);
  BOOL (*seek)(ISIOHandle handle, int32_t offset, int32_t origin);
  BOOL (*tell)(ISIOHandle handle, DWORD* position);
  BOOL (*getSize)(ISIOHandle handle, DWORD* size);
  BOOL (*atEnd)(ISIOHandle handle);
  ISProgressCallback (*getProgressCallback)(uintptr_t* user);
  void (*getAllocCallbacks)(ISAllocCallback* alloc, ISReAllocCallback* realloc, ISFreeCallback* free,
                            uintptr_t* user);
  void (*setError)(ISErrorCode code);
  uintptr_t reserved;
} ISIOCallbackTable;

// Resolution record {x density, y density, unit} of the JPEG, PNG and TIFF layers.
typedef struct ISResolution {
  DWORD x;
  DWORD y;
  DWORD unit;
} ISResolution;

// File types found from signatures, the file extension, the TGA footer or the PCD probe.
typedef enum ISFileType {
  IS_FT_UNKNOWN = 0,
  IS_FT_BMP = 1,
  IS_FT_GIF = 2,
  IS_FT_JPEG = 3,
  IS_FT_PNG = 4,
  IS_FT_PCX = 5,
  IS_FT_TIFF = 6,
  IS_FT_WMF = 7,
  IS_FT_EMF = 8,
  IS_FT_PAX = 9,
  IS_FT_PSD = 10,
  IS_FT_TLA = 11,
  IS_FT_TLAU = 12,
  IS_FT_WBMP = 13,
  IS_FT_TGA = 14,
  IS_FT_PCD_OVERVIEW = 15,
  IS_FT_PHOTOCD = 16,
  IS_FT_JPEG2000 = 17,
  IS_FT_J2K_CODESTREAM_AT4 = 18,
  IS_FT_OLE = 19,
  // Later formats, known by their signatures only when none of the types above is found.
  IS_FT_WEBP = 20,
  IS_FT_HEIF = 21,
  IS_FT_AVIF = 22,
  IS_FT_JPEGXL = 23,
  IS_FT_OPENEXR = 24,
  IS_FT_ICO = 25,
  IS_FT_RADIANCE = 26
} ISFileType;

// Reader flag: the image as stored (its own depth, with its palette).
enum { IS_READ_AS_STORED = 2 };

// ---------------------------------------------------------------------------------------
// Thread state: last error, progress, JPEG options and metadata lists
// ---------------------------------------------------------------------------------------
ISErrorCode ISGetLastError(void);
// The first warning of the last entry point called on this thread, "" when there was none: a
// reader that still returned its picture says here that the data ended early or was corrupt
// (the decoders' own words, at most 200 bytes); a reader that refused a picture larger than
// its data could hold, or over the fixed limit for data whose size cannot be checked, says
// why here (see README: the decode budget). Like the last error it is
// cleared when the next entry point starts; the text is valid until then. Never null.
const char* ISGetLastWarning(void);
ISProgressCallback ISGetProgressCallback(uintptr_t* user);

DWORD ISGetJPGCommentCount(void);
HGLOBAL ISGetJPGComment(DWORD index);
BOOL ISAddJPGComment(const char* text);
BOOL ISClearJPGComments(void);
DWORD ISGetJPGMarkerCount(void);
BOOL ISGetJPGMarker(DWORD index, HGLOBAL* data, DWORD* length, DWORD* markerCode);
BOOL ISAddJPGMarker(const BYTE* data, DWORD length, DWORD markerCode);
BOOL ISClearJPGMarkers(void);
void ISSetJPGDCTMethod(DWORD method);
void ISSetJPGSampling(const int32_t* horizontal, const int32_t* vertical);
void ISSetJPGReadScale(DWORD numerator, DWORD denominator);

// Metadata blocks a picture's file carries. The readers that meet them keep them for the thread:
// the ICC colour profile from JPEG APP2 "ICC_PROFILE" chunks (put together in sequence order),
// PNG iCCP, TIFF tag 34675 and PSD resource 1039; the IPTC record (the data of Photoshop
// resource 0x0404) from JPEG APP13 and TIFF tag 33723; the XMP packet from JPEG APP1
// "http://ns.adobe.com/xap/1.0/", TIFF tag 700 and PNG iTXt "XML:com.adobe.xmp"; and the
// extended XMP packet of a JPEG (its APP1 "http://ns.adobe.com/xmp/extension/" chunks put
// together, kept only when whole); the EXIF block, as the payload of a JPEG APP1 "Exif" marker
// ("Exif\0\0", then a TIFF header and its directories).
enum { IS_META_ICC = 1, IS_META_IPTC = 2, IS_META_XMP = 3, IS_META_XMP_EXTENDED = 4, IS_META_EXIF = 5 };
// The block of that kind met by the last ISReadJPG, ISGetJPGInfo, ISReadPNG, ISReadTIFF or
// ISReadPSD on this thread: a GlobalAlloc copy the caller frees and its length. FALSE (error 5)
// when that read met none.
BOOL ISGetReadMetadata(DWORD kind, HGLOBAL* data, DWORD* length);
// Why the last read left out a block of that kind it met (a colour profile whose chunks are
// missing or disagree, whose stored length is not its size, or that is no ICC profile); "" when
// it left out none. Valid until the next read on this thread. Never null.
const char* ISGetReadMetadataNote(DWORD kind);
// A block every following write on this thread embeds, until it is set again; null or length 0
// clears it. IS_META_ICC: JPEG (APP2 chunks), PNG (iCCP) and TIFF (tag 34675) writes; a profile
// of more than 255 JPEG chunks is refused (error 5). IS_META_IPTC: TIFF tag 33723. IS_META_XMP:
// TIFF tag 700 and a PNG iTXt chunk. IS_META_EXIF: a PNG eXIf chunk and a TIFF's camera tags.
// JPEG writes carry EXIF, IPTC and XMP through the marker list.
BOOL ISSetWriteMetadata(DWORD kind, const BYTE* data, DWORD length);
// The GUID an XMP packet names its extended packet by (xmpNote:HasExtendedXMP): 32 hex digits
// and a terminating zero into guid[33]. FALSE (error 5) when the packet names none.
BOOL ISGetXMPExtendedGUID(const BYTE* packet, DWORD length, char* guid);

// ---------------------------------------------------------------------------------------
// I/O sources and sinks
// ---------------------------------------------------------------------------------------
ISIOHandle ISOpenFileSource(const char* path);
ISIOHandle ISOpenMemorySource(const void* base, DWORD size);
ISIOHandle ISOpenFileSink(const char* path, DWORD flag);
ISIOHandle ISOpenMemorySink(void* base, DWORD size, DWORD flag);
ISIOHandle ISOpenCallbackSource(ISIOOpenFn open, ISIOWriteFn write, ISIOReadFn read, ISIOSeekFn seek,
                                ISIOTellFn tell, ISIOSizeFn size, ISIOEofFn eof, ISIOCloseFn close, DWORD flag,
                                uintptr_t user);
DWORD ISReadSource(ISIOHandle handle, void* buffer, DWORD count);
BOOL ISWriteSink(ISIOHandle handle, const void* buffer, DWORD count);
BOOL ISSeekSource(ISIOHandle handle, int32_t offset, int32_t origin);
BOOL ISTellSource(ISIOHandle handle, DWORD* position);
BOOL ISGetSourceSize(ISIOHandle handle, DWORD* size);
BOOL ISIsSourceAtEnd(ISIOHandle handle);
DWORD ISCloseSource(ISIOHandle handle);
DWORD ISCloseSink(ISIOHandle handle);
ISIOCallbackTable* ISGetIOCallbackTable(ISIOHandle handle);

// ---------------------------------------------------------------------------------------
// File formats and metadata. Readers return a GlobalAlloc block the caller frees with
// GlobalFree; `palette` receives up to 256 entries where the depth has one.
// ---------------------------------------------------------------------------------------
ISFileType ISGuessFileType(ISIOHandle source);

HGLOBAL ISReadBMP(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette, DWORD flags);
BOOL ISWriteBMP(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD bits, DWORD colourCount,
                const RGBQUAD* palette, const LONG* resolution, DWORD flags);
HGLOBAL ISReadTGA(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette, DWORD flags);
BOOL ISWriteTGA(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                const RGBQUAD* palette, DWORD flags);
HGLOBAL ISReadPSD(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette, DWORD flags);
BOOL ISWritePSD(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                const RGBQUAD* palette, DWORD flags);
HGLOBAL ISReadPCX(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette, DWORD flags);
BOOL ISWritePCX(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                const RGBQUAD* palette, DWORD flags);

// Encode 8-bit grey, 24-bit RGB or 32-bit CMYK rows (packed, top row first) as JPEG; returns the
// number of bytes in the sink afterwards, 0 on failure. resolution null = {1, 1, 0};
// flags: 1 progressive, 2 32-bit input is YCCK, 4 24-bit input is YCbCr, 8 no JFIF header
DWORD ISWriteJPG(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD quality, DWORD bits,
                 const ISResolution* resolution, DWORD flags);

HGLOBAL ISReadPNG(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette, DWORD flags);
BOOL ISWritePNG(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD rowStride,
                DWORD bitsPerChannel, DWORD paletteColours, const RGBQUAD* palette, DWORD colourType, double gamma,
                const ISResolution* resolution, DWORD flags);

HGLOBAL ISReadTIFF(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette, DWORD page,
                   DWORD flags);
BOOL ISGetTIFFInfo(ISIOHandle source, DWORD page, DWORD* width, DWORD* height, DWORD* bitsPerPixel,
                   ISResolution* resolution);
// Whether the first directory of a TIFF file holds only a preview of its picture: it is marked
// reduced-resolution, or another directory (in the chain or among the sub-directories) holds a
// larger picture that is no transparency mask. *width and *height are the first directory's.
BOOL ISGetTIFFPreview(ISIOHandle source, DWORD* isPreview, DWORD* width, DWORD* height);
BOOL ISWriteTIFF(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                 const RGBQUAD* palette, DWORD compression, const ISResolution* resolution, DWORD flags);

#ifdef __cplusplus
}  // extern "C"
class CISEXIFBase;
extern "C" {
#else
typedef struct CISEXIFBase CISEXIFBase;
#endif
// EXIF: `block` is an APP1 marker record (four leading bytes, then "Exif"). Read flags: 1 keep
// the IFD1 thumbnail, 2 parse the maker note, 4 keep the UserComment bytes. List mask of the
// tag text: 1 IFD0, 2 Exif sub-IFD, 4 interoperability, 8 IFD1, 16 GPS, 32 maker note; a tag
// that is not found gives TRUE with a null text and length 0.
CISEXIFBase* ISReadEXIF(const BYTE* block, DWORD length, DWORD flags);
BOOL ISReleaseEXIF(CISEXIFBase* exif);
BOOL ISGetEXIFTagText(CISEXIFBase* exif, DWORD tag, DWORD listMask, HGLOBAL* text, DWORD* length);

// ---------------------------------------------------------------------------------------
// Image operations. Image arguments: pixels, width, height, bytes per pixel, row bytes; the
// destination has its own row bytes; the channel mask (bit i = byte i of a pixel) comes last.
// ---------------------------------------------------------------------------------------
BOOL ISSharpenImage(const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD sourceRowBytes,
                    BYTE* destination, DWORD destinationRowBytes, int32_t amount, DWORD channelMask);
BOOL ISSoftenImage(const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD sourceRowBytes,
                   BYTE* destination, DWORD destinationRowBytes, int32_t amount, DWORD channelMask);
BOOL ISMedianFilterImage(const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD sourceRowBytes,
                         BYTE* destination, DWORD destinationRowBytes, DWORD channelMask);
BOOL ISBlurImage(const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD sourceRowBytes,
                 BYTE* destination, DWORD destinationRowBytes, double sigma, DWORD channelMask);
BOOL ISUnsharpMask(const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD sourceRowBytes,
                   BYTE* destination, DWORD destinationRowBytes, DWORD threshold, double amount, double radius,
                   DWORD channelMask);
BOOL ISRemoveSpeckles(BYTE* image, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                      DWORD channelMask);

// ---- JPEG

// Decode a JPEG from a source into a new global-memory image; bits = 8, 24 or 32 (others: error 5);
// flags: 1 keep CMYK as 32-bit, 2 as stored (packed DIB), 4 keep YCbCr, 8 rows padded to 4 bytes and B,G,R, 16 leave source just after the JPEG data
HGLOBAL ISReadJPG(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, DWORD flags);

// Header-only information; also captures comments and markers into the thread lists.
// Outputs: width, height, bits (= output components x 8), JFIF density {x, y, unit} as stored,
// libjpeg colour space (0 unknown,1 grey,2 RGB,3 YCbCr,4 CMYK,5 YCCK), coding flags (bit 0 progressive, bit 1 arithmetic)
BOOL ISGetJPGInfo(ISIOHandle source, DWORD* width, DWORD* height, DWORD* bits,
                  ISResolution* resolution, DWORD* colourSpace, DWORD* codingFlags);

// Lossless JPEG transform source -> sink. mode: low byte operation (1 flip H, 2 flip V, 3 transverse,
// 4 transpose, 5 rot 90 CW, 6 rot 180, 7 rot 270 CW, 8 crop, other = copy); flags 0x100 grey, 0x200 no trim, 0x400 progressive.
// x, y, width, height: crop rectangle in pixels for operation 8 (negative x/y count from the right/bottom edge)
BOOL ISTransformJPG(ISIOHandle source, ISIOHandle sink, DWORD mode,
                    int32_t x, int32_t y, uint32_t width, uint32_t height);

// ---- Metafiles

// Render a Windows/enhanced/placeable metafile named by path into a new image (RGB, or a packed DIB with flags bit 1);
// requested size used with flags bit 0 (pixels) or bit 2 (percentages) and for non-placeable plain WMF extents
HGLOBAL ISReadMetafile(const char* fileName, DWORD* width, DWORD* height,
                       DWORD requestedWidth, DWORD requestedHeight,
                       COLORREF background, DWORD flags);

// Write an RGB image (3 bytes per pixel, R,G,B, rows top first) as a Windows metafile; placeable != 0 writes the 22-byte placeable header first
BOOL ISWriteWMF(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, BOOL placeable);

// Write an RGB image (3 bytes per pixel, R,G,B, rows top first) as an enhanced metafile
BOOL ISWriteEMF(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height);

// ---- Resize

// Bilinear resize: source (pixels, width, height, row bytes) -> destination (pixels, width, height, row bytes); bytes per pixel last
BOOL ISResizeBilinear(const BYTE* src, DWORD srcWidth, DWORD srcHeight, DWORD srcRowBytes,
                      BYTE* dst, DWORD dstWidth, DWORD dstHeight, DWORD dstRowBytes,
                      DWORD bytesPerPixel);

// Bicubic (cubic convolution, a = -1) resize; same argument order; maximum sample 255 is supplied internally
BOOL ISResizeBicubic(const BYTE* src, DWORD srcWidth, DWORD srcHeight, DWORD srcRowBytes,
                     BYTE* dst, DWORD dstWidth, DWORD dstHeight, DWORD dstRowBytes,
                     DWORD bytesPerPixel);

// Filtered two-pass resampling with filter index 0..13 (8 = Lanczos3); order as the pipeline calls it:
// ISResampleImage(src, sw, sh, sw*3, dst, dw, dh, dw*3, 3, 8)
BOOL ISResampleImage(const BYTE* src, DWORD srcWidth, DWORD srcHeight, DWORD srcRowBytes,
                     BYTE* dst, DWORD dstWidth, DWORD dstHeight, DWORD dstRowBytes,
                     DWORD bytesPerPixel, DWORD filter);

// ---- Rotation and flips

// Rotate a packed 8-bit-sample image in place (row bytes = width x bytes per pixel);
// mode 0 quarter turn clockwise, 1 half turn, 2 quarter turn counter-clockwise; a quarter turn leaves it height wide, width tall
BOOL ISRotateImage(BYTE* pixels, DWORD width, DWORD height, DWORD mode, DWORD bytesPerPixel);

// Flip an image upside down in place (exchange rows i and height-1-i)
BOOL ISFlipVertical(BYTE* pixels, DWORD rowBytes, DWORD height);

// Mirror an 8-bit-sample image left-right in place
BOOL ISFlipHorizontal(BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes);

// ---- Text

// Measure the block a text needs: rectangle left, top, right, bottom; outputs width and height;
// format = DT_ flags; flags bit 1 rows bottom-up, bit 2 text is UTF-16. Caller: (text, font, 0, 0, 0x80000000, 0x80000000, &w, &h, 0, 0)
BOOL ISMeasureText(const void* text, const LOGFONTA* font,
                   LONG left, LONG top, LONG right, LONG bottom,
                   DWORD* width, DWORD* height, UINT format, DWORD flags);

// Draw text anti-aliased into a 3-byte-per-pixel RGB image: image, width, height, row bytes; text; font; oversampling
// factor; rectangle left, top, right, bottom; DT_ format; flags (bit 1 bottom-up, bit 2 UTF-16); colour.
// Caller: (img, W, H, W*3, text, font, 3, x, y, W-1, H-1, 0, 0, textColour)
BOOL ISDrawText(BYTE* pixels, DWORD width, DWORD height, DWORD rowBytes,
                const void* text, const LOGFONTA* font, DWORD scaleFactor,
                LONG left, LONG top, LONG right, LONG bottom,
                UINT format, DWORD flags, COLORREF colour);

// ---- Pixel helpers / colour

// Grey conversion (601 G + 306 R + 117 B) >> 10 of 3- or 4-byte pixels into one byte per pixel; flags bit 0: pixels are B,G,R
BOOL ISConvertRGBToGray(const BYTE* src, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD srcRowBytes,
                        BYTE* dst, DWORD dstRowBytes, DWORD flags);

// Build a palette of up to `colours` (limited to 1..256) and map the image to one-byte indices with error diffusion;
// palette gets 256 RGBQUAD entries (a null palette is error 5); diffusionMode 0 simple / nonzero Floyd-Steinberg
// (serpentine); ditherLimit bounds the error (20 usual);
// flags: bit 0 pixels in palette byte order, bit 1 4-byte pixels, bit 3 octree builder
BOOL ISReduceColors(const BYTE* src, DWORD width, DWORD height, DWORD srcRowBytes,
                    BYTE* dst, DWORD dstRowBytes, UINT colours, RGBQUAD* palette,
                    DWORD diffusionMode, BYTE ditherLimit, DWORD flags);

// Choose a palette of up to `colours` (limited to 1..256) for an image; writes 256 RGBQUAD entries (unused ones black)
// and the number of colours used; flags as ISReduceColors (application passes 0)
BOOL ISBuildPalette(const BYTE* src, DWORD width, DWORD height, DWORD rowBytes,
                    UINT colours, RGBQUAD* palette, UINT* colourCount, DWORD flags);

// ---- Tone adjustments (no caller in the system)

// In place: per channel selected by channelMask, equalise the values inside [low, high] (swapped if reversed) through their histogram
BOOL ISRemapChannelRange(BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                         DWORD low, DWORD high, DWORD channelMask);

// In place: gamma table trunc(256 * (i/256)^(1/gamma)) on every channel; flags bit 0 also the fourth byte of 4-byte pixels;
// negative gamma: error 5, 0: identity
BOOL ISApplyGamma(BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                  double gamma, DWORD flags);

// In place: per masked channel, the darkest lowPercent and brightest highPercent of the pixels (each <= 100) are
// clipped and the rest stretched linearly over 0..255; flags 0x100 then applies a gamma curve taking the channel's
// median to the middle
BOOL ISHistogramAdjust(BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                       double lowPercent, double highPercent, DWORD flags, DWORD channelMask);

// In place: adjust a grey copy (method 0 histogram adjust with low/high percentages and flags, 1 channel-range remap with
// low/high values) and move each pixel's three bytes by (adjusted grey - trunc(0.299 R + 0.587 G + 0.114 B)), limited to 0..255
BOOL ISLumaChromaAdjust(BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                        DWORD method, double low, double high, DWORD flags);

#ifdef __cplusplus
}  // extern "C"
#endif
