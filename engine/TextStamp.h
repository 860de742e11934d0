// The text stamp, step 12 of the correction pipeline: a template with macros expanded with the
// picture's information, measured, placed in one of six positions, laid on an optional
// blended box and drawn anti-aliased into the working picture. In the preview nothing is
// drawn; the text-stamp page receives the picture's information for its own preview.
#pragma once

#include <cstdint>
#include <string>

#include "engine/shell/CMainDialog.h"
#include "platform/win32_types.h"

// A copy of text with the first occurrence of macro (exact, case-sensitive) replaced by value.
std::string ReplaceFirst(const std::string& text, const std::string& macro, const std::string& value);

// The values of the stamp's macros.
struct StampMacroValues {
  std::string date, flash, fNumber, iso, metering, model, program, speed, comment, height, modifDate, name,
      nameNoExt, width;
};

// Longest text the expansion grows to, and its number of passes.
constexpr size_t kStampTextLimit = 4096;
constexpr int kStampMaxPasses = 16;

// Repeated passes over the fifteen macros in their order, each pass replacing the first
// occurrence of each, until a pass changes nothing, for at most kStampMaxPasses passes; a value
// that would make the text longer than kStampTextLimit is cut to fit (at a whole UTF-8
// character), and `cut`, when given, says so.
std::string ExpandStampMacros(const std::string& templ, const StampMacroValues& values, bool* cut = nullptr);

// Largest font size of the stamp, in pixels.
constexpr uint32_t kStampMaxFontSize = 500;

// The stamp's font: height = the page's size (at least 8, at most kStampMaxFontSize), the
// page's weight, italic and underline, proof quality, FF_MODERN with the default pitch, the
// face name cut to fit its field.
LOGFONTA StampFont(const CTextStampPage& page);

// Top-left corner of a text block of w x h on a W x H picture for a placement (0 top centre,
// 1 bottom centre, 2 top left, 3 top right, 4 bottom left, anything else bottom right) and
// offsets from the picture's edges. May lie outside the picture.
void PlaceStamp(int placement, int64_t W, int64_t H, int64_t w, int64_t h, int64_t offsetX, int64_t offsetY,
                int64_t* x, int64_t* y);

// The box behind a text block at (x, y) of w x h: h / 2 wider on each side, h / 8 higher
// above and below, clipped to the picture; each byte becomes trunc(c x a + old x (1 - a)),
// byte 0 with the colour's red, 1 green, 2 blue. Opacity a: 0.25 for type 1, 1 for type 3,
// 0.5 for other positive types; types 0 and below draw no box.
void BlendStampBox(BYTE* image, int W, int H, int64_t x, int64_t y, int64_t w, int64_t h, int backType,
                   COLORREF colour);

// The step itself over image A (W x H, PackedRGB24); preview: image B was given.
void TextStampStep(CMainDialog& dlg, BYTE* imageA, int widthA, int heightA, bool preview);
