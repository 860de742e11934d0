// Fonts and text of the GDI stand-in, over FreeType and fontconfig.
//
// Fonts are matched by face name, weight, italic and pitch through fontconfig, falling back to
// a sans face (a monospace one for a fixed-pitch request). A positive lfHeight is the cell
// height (ascent + descent), a negative one the character (em) height, 0 a cell of 16 pixels.
// Glyphs are monochrome hinted bitmaps; bold and italic are synthesised when the matched face
// lacks them, and underline is drawn along each line. A character that the matched face lacks
// is drawn from the closest installed font that has it (fontconfig's sorted list), at the same
// em size and in the same style; one that no installed font has is drawn as the face's
// missing glyph. Width, escapement, orientation,
// strike-out, character set and quality are kept in the LOGFONT but not used.
//
// Text drawing: 8-bit text is read as UTF-8 when it is valid UTF-8, else as Windows-1252;
// 16-bit text as UTF-16. Lines break at CR, LF and CR LF; there is no word wrap, no tab
// expansion and no prefix processing ("&" is drawn as it stands). Formats honoured: DT_CALCRECT,
// DT_SINGLELINE, DT_CENTER, DT_RIGHT, DT_VCENTER and DT_BOTTOM (single line), DT_NOCLIP; other
// bits are ignored. Text is clipped to the rectangle and the context's bitmap.
#pragma once

#include "platform/gdi.h"

constexpr UINT DT_TOP = 0x0000;
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_WORDBREAK = 0x0010;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_EXPANDTABS = 0x0040;
constexpr UINT DT_NOCLIP = 0x0100;
constexpr UINT DT_CALCRECT = 0x0400;
constexpr UINT DT_NOPREFIX = 0x0800;

constexpr LONG FW_DONTCARE = 0;
constexpr LONG FW_THIN = 100;
constexpr LONG FW_LIGHT = 300;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_MEDIUM = 500;
constexpr LONG FW_SEMIBOLD = 600;
constexpr LONG FW_BOLD = 700;
constexpr LONG FW_HEAVY = 900;

constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE DRAFT_QUALITY = 1;
constexpr BYTE PROOF_QUALITY = 2;
constexpr BYTE NONANTIALIASED_QUALITY = 3;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr BYTE FF_DONTCARE = 0x00;
constexpr BYTE FF_ROMAN = 0x10;
constexpr BYTE FF_SWISS = 0x20;
constexpr BYTE FF_MODERN = 0x30;
constexpr BYTE FF_SCRIPT = 0x40;
constexpr BYTE FF_DECORATIVE = 0x50;

struct DRAWTEXTPARAMS {
  UINT cbSize;
  int iTabLength;
  int iLeftMargin;
  int iRightMargin;
  UINT uiLengthDrawn;
};

struct TEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  BYTE tmFirstChar;
  BYTE tmLastChar;
  BYTE tmDefaultChar;
  BYTE tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};

// A font from its description (copied); null when no face can be found or loaded, or the
// height is beyond 16384 pixels.
HFONT CreateFontIndirectA(const LOGFONTA* font);
HFONT CreateFontIndirectW(const LOGFONTW* font);

// Draws `count` characters of text (-1: up to the terminating NUL) into rect with the context's
// font, text colour and background mode. With DT_CALCRECT nothing is drawn: rect's right and
// bottom are set to hold the text. Returns the height of the text (with DT_VCENTER or
// DT_BOTTOM the offset from rect's top to the text's bottom), 0 on failure.
int DrawTextExA(HDC dc, const char* text, int count, RECT* rect, UINT format, DRAWTEXTPARAMS* params);
int DrawTextExW(HDC dc, const WCHAR* text, int count, RECT* rect, UINT format, DRAWTEXTPARAMS* params);

// Cell metrics of the context's font, in pixels.
BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics);

// The characters of an 8-bit text (read as DrawTextExA reads it; -1 count: up to the NUL) that
// neither the font nor any installed font it falls back on has, each once, in the order of the
// text, as UTF-8 (stand-in extension): copies them into out (NUL-terminated, cut to size) and
// returns their length in bytes; 0 when the font draws every character or is not a font.
// Control characters are not counted.
int GdiMissingCharacters(HFONT font, const char* text, int count, char* out, int size);

// The control characters of an 8-bit text (read as DrawTextExA reads it; -1 count: up to the
// NUL): the C0 and C1 controls and DEL, but CR and LF, which break lines (stand-in extension).
// Copies their code points, each once in the order of the text, into out (cut to size) and
// returns how many there are; 0 when the text has none.
int GdiControlCharacters(const char* text, int count, DWORD* out, int size);
// The same text as UTF-8 without its control characters (stand-in extension): copies it into
// out (NUL-terminated, cut to size) and returns its length in bytes.
int GdiWithoutControlCharacters(const char* text, int count, char* out, int size);

// The family name of the installed font a font was matched to (stand-in extension): copies it
// into out (NUL-terminated, cut to size) and returns its length, 0 when font is not a font.
// *named (when given) tells whether that font goes by the face name the description asked
// for; it does also when the description named none or a generic family ("sans-serif").
int GdiGetFontFamily(HFONT font, char* out, int size, BOOL* named);

// The font file a font was matched to (stand-in extension, for diagnostics and tests):
// copies its path into out (NUL-terminated, cut to size) and returns the path's length, or 0.
int GdiGetFontFile(HFONT font, char* out, int size);
