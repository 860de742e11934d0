// Text of the player: one line drawn onto the canvas as the text layer lays it out, through the
// clip region.
#pragma once

#include <string>

#include "platform/gdi_metafile_clip.h"

class GdiFontFace;

namespace metafile_player {

// Draws text as DrawTextExW does with DT_SINGLELINE | DT_NOCLIP at (left, top) in the face: the
// cell filled with bk when opaque, the glyphs and the underline in colour, onto the canvas
// through its clip.
void DrawTextLine(const Canvas& c, GdiFontFace& face, const std::u16string& text, int64_t left, int64_t top,
                  bool opaque, COLORREF bk, COLORREF colour);

}  // namespace metafile_player
