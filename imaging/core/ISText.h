// Text measured and drawn into images: the rectangle a text needs in a font, the text rendered
// as a 1-bit mask by the GDI stand-in, and a colour blended into an image through a coverage
// mask, anti-aliased by rendering larger and averaging down.
//
// Text: NUL-terminated, 8-bit characters, or UTF-16 with flag bit 2. Flags bit 1: the image's
// rows (and the mask's) are stored bottom-up. Format: the DT_ flags handed to DrawTextEx.
// Errors: 5 bad argument, 10 a device-context, selection, bitmap or brush step failed, 18 the
// font could not be created, 1 no memory, 14 stopped by the progress callback.
#pragma once

#include "imaging/core/ISContainers.h"
#include "imaging/core/ISEntryFrame.h"
#include "qrv/imaging.h"

constexpr DWORD kTextBottomUp = 2;
constexpr DWORD kTextUtf16 = 4;

// Width and height of the rectangle that DrawTextEx with DT_CALCRECT gives for the text in the
// font, starting from (left, top, right, bottom). An empty text is 0 x 0 without any GDI work.
bool MeasureTextRect(ISErrorCode& error, const void* text, const LOGFONTA* font, LONG left, LONG top, LONG right,
                     LONG bottom, DWORD* width, DWORD* height, UINT format, DWORD flags);

// The text drawn into a (right - left) x (bottom - top) monochrome bitmap at (0, 0), as rows of
// (width + 7) / 8 bytes (leftmost pixel in the high bit, 1 = covered) in `mask`: top first, or
// bottom first with flag bit 1.
bool RenderTextMask(ISErrorCode& error, const void* text, const LOGFONTA* font, LONG left, LONG top, LONG right,
                    LONG bottom, UINT format, DWORD flags, DWORD* width, DWORD* height, ISArray<BYTE>& mask);

// The part [partLeft, partRight) x [partTop, partBottom) of the mask that RenderTextMask gives
// for the same rectangle: the text is laid out in the whole (right - left) x (bottom - top)
// rectangle, but only that part (which must lie inside it) is made, at partRight - partLeft by
// partBottom - partTop, so that the work and memory are those of the part; glyphs outside it
// are only advanced over.
bool RenderTextMaskPart(ISErrorCode& error, const void* text, const LOGFONTA* font, LONG left, LONG top, LONG right,
                        LONG bottom, LONG partLeft, LONG partTop, LONG partRight, LONG partBottom, UINT format,
                        DWORD flags, DWORD* width, DWORD* height, ISArray<BYTE>& mask);

// Draws the text in `colour` into a 3-byte-per-pixel image within the rectangle, rendered at
// scaleFactor times the size and box-averaged down.
bool DrawTextIntoImage(ISErrorCode& error, BYTE* image, DWORD width, DWORD height, DWORD rowBytes, const void* text,
                       const LOGFONTA* font, DWORD scaleFactor, LONG left, LONG top, LONG right, LONG bottom,
                       UINT format, DWORD flags, COLORREF colour);

// Blends the colour into the image through a coverage mask (one byte per pixel, 255 = colour)
// placed at (x, y), clipped to the image. 3- or 4-byte pixels; flag bit 0: pixels are B, G, R;
// flag bit 1: the fourth byte of 4-byte pixels is blended with the colour's fourth byte.
bool BlendColourThroughMask(CISOpContext& ctx, BYTE* image, DWORD width, DWORD height, DWORD bytesPerPixel,
                            DWORD rowBytes, const BYTE* mask, DWORD maskWidth, DWORD maskHeight, DWORD maskRowBytes,
                            COLORREF colour, LONG x, LONG y, DWORD flags);
