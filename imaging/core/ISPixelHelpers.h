// Small pixel operations shared by the format layers, the DIB helpers and the public entry
// points: red/blue exchanges, grey conversion, palette expansion, row unpacking and packing,
// rectangle crop, paste and fill, and the tone adjustments behind the tone entry points.
//
// Helpers that take an error word follow the image-operation conventions: they set it to 0 on
// entry and return true on success, false with the code in `error` (1 no memory, 5 bad
// argument, 14 stopped by the progress callback), and report progress (at call depth 1 only). Call them under an
// ISCallDepthGuard when another operation runs them, so that only the outer one reports.
// The plain row helpers (no error word) trust their callers and report nothing.
#pragma once

#include <cstdint>

#include "qrv/imaging.h"

// ---- Red/blue exchanges: bytes (or samples) 0 and 2 of every pixel, in place.
bool SwapRB24(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD rowBytes);
bool SwapRB32(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD rowBytes);
// 3 samples of 16 bits per pixel; the row stride counts samples.
bool SwapRB48(ISErrorCode& error, uint16_t* pixels, DWORD width, DWORD height, DWORD rowStride);
// width x height pixels back to back.
void SwapRB24Run(BYTE* pixels, DWORD width, DWORD height);
void SwapRB32Run(BYTE* pixels, DWORD width, DWORD height);

// ---- Conversions

// One grey byte per pixel, (601 G + 306 R + 117 B) >> 10, from 3- or 4-byte pixels whose bytes
// 0, 1, 2 are R, G, B (B, G, R with flag bit 0).
bool RGBToGrey(ISErrorCode& error, const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel,
               DWORD sourceRowBytes, DWORD destinationRowBytes, DWORD flags, BYTE* destination);

// One-byte palette indices to 3-byte pixels: R, G, B from entries stored B, G, R (flag bit 0
// clear), or the entry's bytes 0, 1, 2 as they stand (flag bit 0 set). An index at or past
// paletteCount reads entry 0; with a count of 0 every pixel is black.
bool PaletteToRGB(ISErrorCode& error, const BYTE* indices, BYTE* destination, DWORD width, DWORD height,
                  DWORD indexRowBytes, DWORD destinationRowBytes, DWORD paletteCount, const RGBQUAD* palette,
                  DWORD flags);

// 3-byte pixels copied to 4-byte pixels whose fourth byte is `alpha`.
bool RGB24ToRGBA32(ISErrorCode& error, const BYTE* source, DWORD width, DWORD height, DWORD sourceRowBytes,
                   DWORD destinationRowBytes, BYTE alpha, BYTE* destination);

// One stored row of 1, 4, 8, 16, 24 or 32 bits per pixel to R, G, B bytes (each pixel followed
// by an alpha byte when addAlpha is set):
//  1/4/8 bits  palette indices (entries stored B, G, R); an index at or past paletteCount reads
//              entry 0, and with no palette every pixel is black; alpha = the given byte;
//  16 bits     through the three colour masks when given, else 5-5-5; alpha = the given byte;
//  24 bits     B, G, R stored; alpha = the given byte;
//  32 bits     through the masks when given, else R = bits 16-23, G = 8-15, B = 0-7;
//              alpha = bits 24-31 of the word.
// Any other depth writes nothing and returns false.
bool IndexedRowToRGB(const BYTE* row, BYTE* destination, DWORD width, DWORD bitsPerPixel, const RGBQUAD* palette,
                     DWORD paletteCount, const DWORD* colourMasks, bool addAlpha, BYTE alpha);

// The 256 entries of a palette as R, G, B bytes (entries stored B, G, R unless keepOrder), an
// index at or past the count reading entry 0, every entry black for an empty palette. A
// picture's rows share the one table built for it.
struct ISColourTable {
  BYTE rgb[256][3];
  ISColourTable(const RGBQUAD* palette, DWORD count, bool keepOrder = false);
};
// IndexedRowToRGB with the palette already built into a table (needed for 1, 4 and 8 bits, else
// unused and may be null).
bool IndexedRowToRGB(const BYTE* row, BYTE* destination, DWORD width, DWORD bitsPerPixel, const ISColourTable* colours,
                     const DWORD* colourMasks, bool addAlpha, BYTE alpha);

// For each of three masks, the right shift (negative: left shift) that puts the top bit of the
// mask's lowest run of set bits on bit 7, searching the low `pixelBits` bits (16 or 32).
// Returns 0 for a null mask list.
int ColourMaskShifts(const DWORD* colourMasks, int shifts[3], DWORD pixelBits = 16);

// 1- and 4-bit pixels to one byte each (the bit, or the nibble high first); 8-bit rows copied.
// Other depths write nothing.
void UnpackRowTo8(const BYTE* row, BYTE* destination, DWORD width, DWORD bitsPerPixel);

// 2-bit pixels to 4-bit pixels of the same value, two to a byte, high nibble first; a final
// half-filled byte has its low nibble 0. Other depths write nothing.
void Pack2BitTo4Bit(const BYTE* row, BYTE* destination, DWORD bitsPerPixel, DWORD width);

// count x rows samples of `bits` (1..8) bits read as one continuous most-significant-first
// stream (rows unpadded), written one per byte.
bool UnpackBits(ISErrorCode& error, const BYTE* source, DWORD count, DWORD rows, DWORD bits, BYTE* destination);

// The low `bits` (1..8) bits of every source byte (width per row, height rows) appended
// most-significant-first to one continuous stream; a final partial byte is left-aligned.
bool PackRowBits(ISErrorCode& error, const BYTE* source, DWORD width, DWORD height, DWORD sourceRowBytes,
                 BYTE* destination, DWORD bits);

// ---- Rectangles

// A rectangle of rw x rh placed at (x, y) on a w x h image, clipped to it: columns x0..x1-1,
// rows y0..y1-1; source coordinates are (column - x, row - y).
struct ISClip {
  int64_t x0, x1, y0, y1;
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
};
ISClip ClipRect(int64_t x, int64_t y, int64_t rectWidth, int64_t rectHeight, int64_t width, int64_t height);

// Copies the rectangle (x, y, rectWidth, rectHeight) of the source to consecutive destination
// rows. Error 5 unless the rectangle lies wholly inside the source.
bool CropRect(ISErrorCode& error, const BYTE* source, BYTE* destination, DWORD width, DWORD height,
              DWORD bytesPerPixel, LONG x, LONG y, DWORD rectWidth, DWORD rectHeight, DWORD sourceRowBytes,
              DWORD destinationRowBytes);

// Mode word of the pastes: bit 31 = source rows bottom-up; the rest is the mode (0 blend,
// 1 copy; 2..19 are refused, above 19 error 5).
constexpr DWORD kPasteBottomUp = 0x80000000u;

// Places the source at (x, y) on the destination, clipped to both; opacity 1 copies, 0 writes
// nothing, between them (mode 0) blends d = trunc((1 - o) d) + trunc(o s).
bool PasteRect8(ISErrorCode& error, BYTE* destination, DWORD destinationWidth, DWORD destinationHeight,
                const BYTE* source, DWORD sourceWidth, DWORD sourceHeight, LONG x, LONG y, double opacity,
                DWORD bytesPerPixel, DWORD destinationRowBytes, DWORD sourceRowBytes, DWORD mode);
// The same for 16-bit samples: samples per pixel, strides in samples.
bool PasteRect16(ISErrorCode& error, uint16_t* destination, DWORD destinationWidth, DWORD destinationHeight,
                 const uint16_t* source, DWORD sourceWidth, DWORD sourceHeight, LONG x, LONG y, double opacity,
                 DWORD samplesPerPixel, DWORD destinationRowStride, DWORD sourceRowStride, DWORD mode);
// 4-bit pixels (high nibble first); flags are not read.
bool PasteRect4Bit(ISErrorCode& error, BYTE* destination, DWORD destinationWidth, DWORD destinationHeight,
                   DWORD destinationRowBytes, const BYTE* source, DWORD sourceWidth, DWORD sourceHeight,
                   DWORD sourceRowBytes, LONG x, LONG y, DWORD flags);
// 1-bit pixels (most significant first). Flags: bit 3 source rows bottom-up; bit 0 transparent
// copy, writing only the source bits equal to flag bit 1.
constexpr DWORD kPaste1BitTransparent = 1;
constexpr DWORD kPaste1BitValue = 2;
constexpr DWORD kPaste1BitBottomUp = 8;
bool PasteRect1Bit(ISErrorCode& error, BYTE* destination, DWORD destinationWidth, DWORD destinationHeight,
                   DWORD destinationRowBytes, const BYTE* source, DWORD sourceWidth, DWORD sourceHeight,
                   DWORD sourceRowBytes, LONG x, LONG y, DWORD flags);

// Fills the rectangle, clipped to the buffer, with the colour's R, G, B bytes (B, G, R with
// flag bit 0) and, for 4-byte pixels, its fourth byte.
bool FillRect(ISErrorCode& error, BYTE* buffer, DWORD width, DWORD height, DWORD rowBytes, LONG x, LONG y,
              DWORD rectWidth, DWORD rectHeight, COLORREF colour, DWORD bytesPerPixel, DWORD flags);

// ---- Tone adjustments (in place, 1 to 8 bytes per pixel)

// Applies one 256-entry table per channel (null: channel left alone) to every pixel.
bool ApplyChannelTables(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel,
                        DWORD rowBytes, const BYTE* const* tables);

// Per masked channel, the values inside [low, high] equalised through their histogram.
bool RemapChannelRange(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel,
                       DWORD rowBytes, DWORD low, DWORD high, DWORD channelMask);

// trunc(256 (i / 256)^(1 / gamma)) on every channel; the fourth byte of 4-byte pixels only with
// flag bit 0. Negative gamma: error 5; 0: exponent 1.
bool ApplyGamma(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                double gamma, DWORD flags);

// Per masked channel: the darkest lowPercent and the brightest highPercent of the channel's
// pixels are clipped and the rest stretched linearly over 0..255; with flag 0x100 a gamma curve
// then takes the channel's median to the middle of the range.
constexpr DWORD kHistogramMidpoint = 0x100;
bool HistogramAdjust(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel,
                     DWORD rowBytes, double lowPercent, double highPercent, DWORD flags, DWORD channelMask);

// A grey copy trunc(0.299 R + 0.587 G + 0.114 B) is adjusted (method 0 HistogramAdjust with
// the percentages and flags, 1 RemapChannelRange with low and high as values) and every pixel's
// three bytes move by the grey's change, limited to 0..255. 3 or 4 bytes per pixel.
bool LumaChromaAdjust(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel,
                      DWORD rowBytes, DWORD method, double low, double high, DWORD flags);
