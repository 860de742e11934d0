// The player's rasteriser: polygons filled by scanlines (alternate and winding), one-pixel lines,
// and wide strokes made of filled quadrilaterals and round joins.
#pragma once

#include "platform/gdi_metafile_clip.h"

namespace metafile_player {

// Fills the figures (closed implicitly) with colour; winding selects the nonzero rule.
void FillFigures(const Canvas& b, const std::vector<Figure>& figures, const Paint& colour, bool winding);
// A disc of radius r around c, filled as a polygon.
void FillCircle(const Canvas& b, PointF c, double r, COLORREF colour);
// A one-pixel line from a to b (b's pixel excluded, as GDI draws).
void ThinLine(const Canvas& b, PointF a, PointF c, COLORREF colour);
// Strokes an open (or, with closed, a closed) polyline with a pen of `width` device pixels.
void StrokeFigure(const Canvas& b, const Figure& f, bool closed, double width, COLORREF colour);

}  // namespace metafile_player
