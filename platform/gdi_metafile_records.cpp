// The metafile player's records: enhanced and Windows metafile records read, checked against
// their sizes and drawn through the playback state until the end record, the end of the data, a
// malformed record or the meter's limit; GdiPlayMetafile tells which.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/gdi_metafile_playback.h"

namespace metafile_player {

MetafileEnd Player::PlayEmf(const GdiMetafile& mf) {
  const std::vector<uint8_t>& d = mf.bytes;
  const ENHMETAHEADER& h = mf.header;
  // Reference-device pixels of the frame, mapped onto the destination rectangle.
  const double devPerFrameX = h.szlDevice.cx / (h.szlMillimeters.cx * 100.0);
  const double devPerFrameY = h.szlDevice.cy / (h.szlMillimeters.cy * 100.0);
  const double fx0 = h.rclFrame.left * devPerFrameX, fy0 = h.rclFrame.top * devPerFrameY;
  const double fw = (static_cast<double>(h.rclFrame.right) - h.rclFrame.left) * devPerFrameX;
  const double fh = (static_cast<double>(h.rclFrame.bottom) - h.rclFrame.top) * devPerFrameY;
  baseSX_ = fw != 0 ? (dest_.right - dest_.left) / fw : 1;
  baseSY_ = fh != 0 ? (dest_.bottom - dest_.top) / fh : 1;
  baseX0_ = dest_.left - fx0 * baseSX_;
  baseY0_ = dest_.top - fy0 * baseSY_;
  objects_.assign(std::min<uint32_t>(h.nHandles, 65535), Obj{});

  size_t pos = 0;
  while (pos + 8 <= d.size()) {
    if (meter_.Out()) return kMetafileStopped;
    const uint8_t* r = d.data() + pos;
    const uint32_t type = MfU32(r), size = MfU32(r + 4);
    if (size < 8 || size % 4 != 0) return kMetafileDamaged;
    if (size > d.size() - pos) return kMetafileEndedEarly;  // a record runs past the end of the data
    pos += size;
    auto need = [&](uint32_t n) { return size >= n; };
    auto I = [&](uint32_t o) { return MfI32(r + o); };
    switch (type) {
      case EMR_EOF:
        return kMetafileComplete;
      case EMR_SETMAPMODE:
        if (need(12)) SetMapMode(I(8));
        break;
      case EMR_SETWINDOWEXTEX:
        if (need(16) && st_.mapMode >= MM_ISOTROPIC && I(8) != 0 && I(12) != 0) {
          st_.winExtX = I(8);
          st_.winExtY = I(12);
          FixIsotropic();
        }
        break;
      case EMR_SETVIEWPORTEXTEX:
        if (need(16) && st_.mapMode >= MM_ISOTROPIC && I(8) != 0 && I(12) != 0) {
          st_.vpExtX = I(8);
          st_.vpExtY = I(12);
          FixIsotropic();
        }
        break;
      case EMR_SETWINDOWORGEX:
        if (need(16)) st_.winOrgX = I(8), st_.winOrgY = I(12);
        break;
      case EMR_SETVIEWPORTORGEX:
        if (need(16)) st_.vpOrgX = I(8), st_.vpOrgY = I(12);
        break;
      case EMR_SETBKMODE:
        if (need(12)) st_.bkMode = I(8) == TRANSPARENT ? TRANSPARENT : OPAQUE;
        break;
      case EMR_SETPOLYFILLMODE:
        if (need(12)) st_.winding = I(8) == 2;
        break;
      case EMR_SETTEXTALIGN:
        if (need(12)) st_.textAlign = MfU32(r + 8);
        break;
      case EMR_INTERSECTCLIPRECT:
      case EMR_EXCLUDECLIPRECT:
        if (need(24)) ClipTo({DeviceRect(I(8), I(12), I(16), I(20))}, type == EMR_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
        break;
      case EMR_EXTSELECTCLIPRGN:
        if (need(16) && MfU32(r + 8) <= size - 16) SelectClipRegion(r + 16, MfU32(r + 8), I(12));
        break;
      case EMR_SETTEXTCOLOR:
        if (need(12)) st_.textColour = MfU32(r + 8) & 0xFFFFFF;
        break;
      case EMR_SETBKCOLOR:
        if (need(12)) st_.bkColour = MfU32(r + 8) & 0xFFFFFF;
        break;
      case EMR_SAVEDC:
        Save();
        break;
      case EMR_RESTOREDC:
        if (need(12) && !saved_.empty()) {
          int32_t rel = I(8);
          if (rel < 0 && static_cast<uint32_t>(-static_cast<int64_t>(rel)) <= saved_.size())
            Restore(static_cast<size_t>(-static_cast<int64_t>(rel)));
        }
        break;
      case EMR_SETWORLDTRANSFORM:
      case EMR_MODIFYWORLDTRANSFORM:
        if (need(32)) {
          float v[6];
          for (int i = 0; i < 6; ++i) {
            uint32_t u = MfU32(r + 8 + 4 * i);
            std::memcpy(&v[i], &u, 4);
            if (!std::isfinite(v[i])) v[i] = 0;
          }
          const Affine x{v[0], v[1], v[2], v[3], v[4], v[5]};
          uint32_t modeW = type == EMR_SETWORLDTRANSFORM ? 4 : (need(36) ? MfU32(r + 32) : 0);
          Affine& w = st_.world;
          if (modeW == 1) w = Affine{};                 // MWT_IDENTITY
          else if (modeW == 4) w = x;                   // set
          else if (modeW == 2 || modeW == 3) {          // left / right multiply
            const Affine a = modeW == 2 ? x : w, b = modeW == 2 ? w : x;
            w = Affine{a.m11 * b.m11 + a.m12 * b.m21,        a.m11 * b.m12 + a.m12 * b.m22,
                       a.m21 * b.m11 + a.m22 * b.m21,        a.m21 * b.m12 + a.m22 * b.m22,
                       a.dx * b.m11 + a.dy * b.m21 + b.dx,   a.dx * b.m12 + a.dy * b.m22 + b.dy};
          }
        }
        break;
      case EMR_CREATEPEN:
        if (need(28) && MfU32(r + 8) < objects_.size()) {
          Obj o;
          o.kind = Obj::Pen;
          o.null = (MfU32(r + 12) & 0xF) == 5;
          o.width = I(16);
          o.colour = MfU32(r + 24) & 0xFFFFFF;
          objects_[MfU32(r + 8)] = o;
        }
        break;
      case EMR_EXTCREATEPEN:
        if (need(44) && MfU32(r + 8) < objects_.size()) {
          Obj o;
          o.kind = Obj::Pen;
          o.null = (MfU32(r + 28) & 0xF) == 5;
          o.width = MfU32(r + 32);
          if ((MfU32(r + 28) & 0xF0000) == 0) o.width = 1;  // cosmetic
          o.colour = MfU32(r + 40) & 0xFFFFFF;
          o.null = o.null || MfU32(r + 36) == 1;          // BS_NULL
          objects_[MfU32(r + 8)] = o;
        }
        break;
      case EMR_CREATEBRUSHINDIRECT:
        if (need(24) && MfU32(r + 8) < objects_.size()) {
          Obj o;
          o.kind = Obj::Brush;
          o.null = MfU32(r + 12) == 1;
          o.colour = MfU32(r + 16) & 0xFFFFFF;
          if (MfU32(r + 12) == 2 && MfU32(r + 20) < 6) o.hatch = static_cast<int>(MfU32(r + 20));  // BS_HATCHED
          objects_[MfU32(r + 8)] = o;
        }
        break;
      case EMR_CREATEDIBPATTERNBRUSHPT:
        if (need(32) && MfU32(r + 8) < objects_.size()) {
          const uint8_t *info, *bits;
          Obj o;
          if (!RecordDIB(r, size, MfU32(r + 16), MfU32(r + 20), MfU32(r + 24), MfU32(r + 28), &info, &bits) ||
              !PatternBrush(info, MfU32(r + 20), bits, MfU32(r + 28), o))
            o = Obj{};
          objects_[MfU32(r + 8)] = o;
        }
        break;
      case EMR_EXTCREATEFONTINDIRECTW:
        if (need(12 + 92) && MfU32(r + 8) < objects_.size()) {
          Obj o;
          o.kind = Obj::Font;
          const uint8_t* f = r + 12;
          o.font.lfHeight = MfI32(f);
          o.font.lfWidth = MfI32(f + 4);
          o.font.lfWeight = MfI32(f + 16);
          o.font.lfItalic = f[20];
          o.font.lfUnderline = f[21];
          for (int i = 0; i < 31; ++i) o.font.lfFaceName[i] = static_cast<WCHAR>(MfU16(f + 28 + 2 * i));
          objects_[MfU32(r + 8)] = o;
        }
        break;
      case EMR_SELECTOBJECT:
        if (need(12)) {
          const uint32_t i = MfU32(r + 8);
          if (i & 0x80000000u) {
            const uint32_t s = i & 0x7FFFFFFFu;
            Obj o;
            if (s <= 5) {
              static const COLORREF kBrush[5] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0};
              o.kind = Obj::Brush;
              o.null = s == 5;
              o.colour = s < 5 ? kBrush[s] : 0;
              st_.brush = o;
            } else if (s >= 6 && s <= 8) {
              o.kind = Obj::Pen;
              o.colour = s == 6 ? 0xFFFFFF : 0;
              o.null = s == 8;
              st_.pen = o;
            } else if (s >= 10 && s <= 17) {
              st_.font = Obj{};
            }
          } else if (i < objects_.size()) {
            const Obj& o = objects_[i];
            if (o.kind == Obj::Pen) st_.pen = o;
            else if (o.kind == Obj::Brush) st_.brush = o;
            else if (o.kind == Obj::Font) st_.font = o;
          }
        }
        break;
      case EMR_DELETEOBJECT:
        if (need(12) && MfU32(r + 8) < objects_.size()) objects_[MfU32(r + 8)] = Obj{};
        break;
      case EMR_RECTANGLE:
      case EMR_ELLIPSE:
        if (need(24)) DrawShape(type == EMR_RECTANGLE ? 0 : 1, I(8), I(12), I(16), I(20), 0, 0);
        break;
      case EMR_ROUNDRECT:
        if (need(32)) DrawShape(2, I(8), I(12), I(16), I(20), I(24), I(28));
        break;
      case EMR_MOVETOEX:
        if (need(16)) {
          st_.pos = PointF{static_cast<double>(I(8)), static_cast<double>(I(12))};
          if (inPath_) PathAdd(Figure{Map(st_.pos.x, st_.pos.y)}, false);
        }
        break;
      case EMR_LINETO:
        if (need(16)) {
          const PointF to{static_cast<double>(I(8)), static_cast<double>(I(12))};
          if (inPath_) PathAdd(Figure{Map(to.x, to.y)}, true);
          else if (!st_.pen.null) StrokeFigure(Cv(), Figure{Map(st_.pos.x, st_.pos.y), Map(to.x, to.y)}, false,
                                               PenWidth(), st_.pen.colour);
          st_.pos = to;
        }
        break;
      case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIER: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
      case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIER16: case EMR_POLYBEZIERTO16:
      case EMR_POLYLINETO16: {
        if (!need(28)) return kMetafileDamaged;
        const bool small = type >= EMR_POLYBEZIER16;
        const uint32_t count = MfU32(r + 24), ps = small ? 4 : 8;
        if (count > (size - 28) / ps) return kMetafileDamaged;
        Figure pts;
        pts.reserve(count);
        std::vector<PointF> logical;
        for (uint32_t i = 0; i < count; ++i) {
          const uint8_t* p = r + 28 + i * ps;
          const double x = small ? MfI16(p) : MfI32(p), y = small ? MfI16(p + 2) : MfI32(p + 4);
          logical.push_back(PointF{x, y});
          pts.push_back(Map(x, y));
        }
        const uint32_t base = small ? type - (EMR_POLYBEZIER16 - EMR_POLYBEZIER) : type;
        const bool to = base == EMR_POLYBEZIERTO || base == EMR_POLYLINETO;
        const bool bez = base == EMR_POLYBEZIER || base == EMR_POLYBEZIERTO;
        Figure out;
        // A curve of three points flattens to kBezierSteps: spent before it is made.
        if (bez && !meter_.Spend(uint64_t{kBezierSteps} * (pts.size() / 3 + 1))) break;
        if (bez) {
          PointF start = to ? Map(st_.pos.x, st_.pos.y) : (pts.empty() ? PointF{0, 0} : pts[0]);
          size_t i = to ? 0 : 1;
          if (!to && !pts.empty()) out.push_back(start);
          for (; i + 3 <= pts.size(); i += 3) {
            Bezier(start, pts[i], pts[i + 1], pts[i + 2], out);
            start = pts[i + 2];
          }
        } else {
          out = pts;
        }
        if (to && !logical.empty()) {
          if (!inPath_) out.insert(out.begin(), Map(st_.pos.x, st_.pos.y));
          st_.pos = logical.back();
        }
        if (inPath_) PathAdd(out, to);
        else Draw({out}, base == EMR_POLYGON, base == EMR_POLYGON);
        break;
      }
      case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON16: case EMR_POLYPOLYLINE16: {
        if (!need(32)) return kMetafileDamaged;
        const bool small = type >= EMR_POLYPOLYLINE16;
        const uint32_t nPolys = MfU32(r + 24), total = MfU32(r + 28), ps = small ? 4 : 8;
        if (nPolys > (size - 32) / 4 || total > (size - 32 - nPolys * 4) / ps) return kMetafileDamaged;
        std::vector<Figure> figs;
        const uint8_t* p = r + 32 + nPolys * 4;
        uint32_t used = 0;
        for (uint32_t k = 0; k < nPolys; ++k) {
          const uint32_t c = MfU32(r + 32 + 4 * k);
          if (c > total - used) return kMetafileDamaged;
          Figure f;
          for (uint32_t i = 0; i < c; ++i, p += ps)
            f.push_back(small ? Map(MfI16(p), MfI16(p + 2)) : Map(MfI32(p), MfI32(p + 4)));
          used += c;
          figs.push_back(std::move(f));
        }
        const bool polygon = type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16;
        Draw(figs, polygon, polygon);
        break;
      }
      case EMR_BEGINPATH:
        inPath_ = true;
        path_.clear();
        pathClosed_.clear();
        break;
      case EMR_CLOSEFIGURE:
        if (inPath_ && !pathClosed_.empty()) {
          pathClosed_.back() = true;
          const Figure& f = path_.back();
          if (!f.empty()) {
            path_.push_back(Figure{f.front()});
            pathClosed_.push_back(false);
          }
        }
        break;
      case EMR_ENDPATH:
        inPath_ = false;
        break;
      case EMR_ABORTPATH:
        inPath_ = false;
        path_.clear();
        pathClosed_.clear();
        break;
      case EMR_FILLPATH:
      case EMR_STROKEPATH:
      case EMR_STROKEANDFILLPATH: {
        std::vector<Figure> figs;
        std::vector<bool> closed;
        for (size_t i = 0; i < path_.size(); ++i)
          if (path_[i].size() > 1) figs.push_back(path_[i]), closed.push_back(pathClosed_[i]);
        if (type != EMR_STROKEPATH && !st_.brush.null) FillFigures(Cv(), figs, st_.brush.colour, st_.winding);
        if (type != EMR_FILLPATH && !st_.pen.null)
          for (size_t i = 0; i < figs.size(); ++i)
            StrokeFigure(Cv(), figs[i], closed[i], PenWidth(), st_.pen.colour);
        path_.clear();
        pathClosed_.clear();
        break;
      }
      case EMR_STRETCHDIBITS:
        if (need(80)) {
          const uint8_t *info, *bits;
          if (RecordDIB(r, size, MfU32(r + 48), MfU32(r + 52), MfU32(r + 56), MfU32(r + 60), &info, &bits)) {
            const PointF a = Map(I(24), I(28)), c = Map(static_cast<double>(I(24)) + I(72),
                                                         static_cast<double>(I(28)) + I(76));
            DrawDIB(a.x, a.y, c.x - a.x, c.y - a.y, I(32), I(36), I(40), I(44), info, MfU32(r + 52), bits,
                    MfU32(r + 60), MfU32(r + 68));
          }
        }
        break;
      case EMR_SETDIBITSTODEVICE:
        if (need(76)) {
          const uint8_t *info, *bits;
          if (RecordDIB(r, size, MfU32(r + 48), MfU32(r + 52), MfU32(r + 56), MfU32(r + 60), &info, &bits)) {
            const PointF a = Map(I(24), I(28));
            const double w = static_cast<double>(I(40)) * baseSX_, hh = I(44) * baseSY_;  // device units
            DrawDIB(a.x, a.y, w, hh, I(32), I(36), I(40), I(44), info, MfU32(r + 52), bits, MfU32(r + 60));
          }
        }
        break;
      case EMR_BITBLT:
      case EMR_STRETCHBLT:
        if (need(type == EMR_BITBLT ? 100 : 108)) {
          const PointF a = Map(I(24), I(28)), c = Map(static_cast<double>(I(24)) + I(32),
                                                       static_cast<double>(I(28)) + I(36));
          const uint32_t cbBmi = MfU32(r + 88);
          if (cbBmi == 0) {  // no source: the brush and the bitmap alone
            PatBlt(a, c, MfU32(r + 40));
            break;
          }
          const uint8_t *info, *bits;
          if (RecordDIB(r, size, MfU32(r + 84), cbBmi, MfU32(r + 92), MfU32(r + 96), &info, &bits)) {
            const int32_t sw = type == EMR_BITBLT ? I(32) : I(100), sh = type == EMR_BITBLT ? I(36) : I(104);
            DrawDIB(a.x, a.y, c.x - a.x, c.y - a.y, I(44), I(48), sw, sh, info, cbBmi, bits, MfU32(r + 96),
                    MfU32(r + 40));
          }
        }
        break;
      case EMR_EXTTEXTOUTW:
        if (need(76)) {
          const uint32_t n = MfU32(r + 44), off = MfU32(r + 48);
          if (n <= 8192 && off <= size && n * 2 <= size - off) {
            std::u16string s;
            for (uint32_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(MfU16(r + off + 2 * i)));
            const double box[4] = {static_cast<double>(I(56)), static_cast<double>(I(60)),
                                   static_cast<double>(I(64)), static_cast<double>(I(68))};
            Text(I(36), I(40), s, MfU32(r + 52), box);
          }
        }
        break;
      default:
        break;  // not drawn
    }
    bytesPlayed_ = pos;
    ++records_;
  }
  if (meter_.Out()) return kMetafileStopped;
  // No end record: the data ended early when bytes of a record are left or the header gives more.
  return pos < d.size() || h.nBytes > d.size() ? kMetafileEndedEarly : kMetafileComplete;
}

MetafileEnd Player::PlayWmf(const GdiMetafile& mf) {
  const std::vector<uint8_t>& d = mf.bytes;
  if (d.size() < 18) return kMetafileDamaged;
  // The metafile's window fills the destination rectangle.
  st_.mapMode = MM_ANISOTROPIC;
  st_.vpOrgX = dest_.left;
  st_.vpOrgY = dest_.top;
  st_.vpExtX = dest_.right - dest_.left;
  st_.vpExtY = dest_.bottom - dest_.top;
  st_.winExtX = st_.vpExtX != 0 ? st_.vpExtX : 1;
  st_.winExtY = st_.vpExtY != 0 ? st_.vpExtY : 1;
  objects_.assign(MfU16(d.data() + 10), Obj{});
  // A new object takes the lowest free slot; no slot below freeFrom is free.
  size_t freeFrom = 0;
  auto addObject = [&](const Obj& o) {
    for (; freeFrom < objects_.size(); ++freeFrom) {
      Obj& slot = objects_[freeFrom];
      if (slot.kind == Obj::None && !slot.null) {
        slot = o;
        if (slot.kind == Obj::None) slot.null = true;  // a taken slot of an undrawn kind
        ++freeFrom;
        return;
      }
    }
  };
  size_t pos = static_cast<size_t>(MfU16(d.data() + 2)) * 2;
  bytesPlayed_ = pos;
  while (pos + 6 <= d.size()) {
    if (meter_.Out()) return kMetafileStopped;
    const uint8_t* r = d.data() + pos;
    const uint64_t words = MfU32(r);
    const uint16_t fn = MfU16(r + 4);
    if (fn == 0 && (words < 3 || words * 2 > d.size() - pos)) return kMetafileComplete;  // the end, mis-sized
    if (words < 3) return kMetafileDamaged;
    if (words * 2 > d.size() - pos) return kMetafileEndedEarly;  // a record runs past the end of the data
    const uint32_t size = static_cast<uint32_t>(words * 2);
    pos += size;
    const uint8_t* p = r + 6;  // parameters
    const uint32_t np = (size - 6) / 2;
    auto S = [&](uint32_t i) { return static_cast<double>(MfI16(p + 2 * i)); };
    auto cref = [&](uint32_t i) { return MfU32(p + 2 * i) & 0xFFFFFF; };
    switch (fn) {
      case 0x0000:
        return kMetafileComplete;
      case 0x020C:  // SETWINDOWEXT (y, x)
        if (np >= 2 && S(0) != 0 && S(1) != 0) st_.winExtY = S(0), st_.winExtX = S(1);
        break;
      case 0x020B:  // SETWINDOWORG
        if (np >= 2) st_.winOrgY = S(0), st_.winOrgX = S(1);
        break;
      case 0x0102:
        if (np >= 1) st_.bkMode = S(0) == TRANSPARENT ? TRANSPARENT : OPAQUE;
        break;
      case 0x0106:
        if (np >= 1) st_.winding = S(0) == 2;
        break;
      case 0x012E:  // SETTEXTALIGN
        if (np >= 1) st_.textAlign = MfU16(p);
        break;
      case 0x0416: case 0x0415:  // INTERSECTCLIPRECT, EXCLUDECLIPRECT (bottom, right, top, left)
        if (np >= 4) ClipTo({DeviceRect(S(3), S(2), S(1), S(0))}, fn == 0x0416 ? RGN_AND : RGN_DIFF);
        break;
      case 0x0209:
        if (np >= 2) st_.textColour = cref(0);
        break;
      case 0x0201:
        if (np >= 2) st_.bkColour = cref(0);
        break;
      case 0x001E:
        Save();
        break;
      case 0x0127:
        Restore(1);
        break;
      case 0x02FA: {  // CREATEPENINDIRECT: style, width (x, y), colour
        Obj o;
        if (np >= 5) {
          o.kind = Obj::Pen;
          o.null = (MfU16(p) & 0xF) == 5;
          o.width = S(1);
          o.colour = cref(3);
        }
        addObject(o);
        break;
      }
      case 0x02FC: {  // CREATEBRUSHINDIRECT: style, colour, hatch
        Obj o;
        if (np >= 3) {
          o.kind = Obj::Brush;
          o.null = MfU16(p) == 1;
          o.colour = cref(1);
          if (MfU16(p) == 2 && np >= 4 && MfU16(p + 6) < 6) o.hatch = MfU16(p + 6);  // BS_HATCHED
        }
        addObject(o);
        break;
      }
      case 0x02FB: {  // CREATEFONTINDIRECT
        Obj o;
        if (np >= 9) {
          o.kind = Obj::Font;
          o.font.lfHeight = MfI16(p);
          o.font.lfWeight = MfI16(p + 8);
          o.font.lfItalic = p[10];
          o.font.lfUnderline = p[11];
          for (uint32_t i = 0; i < 31 && 18 + i < np * 2 && p[18 + i]; ++i) o.font.lfFaceName[i] = p[18 + i];
        }
        addObject(o);
        break;
      }
      case 0x0142: {  // DIBCREATEPATTERNBRUSH: style, usage, packed DIB (a device bitmap for BS_PATTERN)
        Obj o;
        if (np < 2 || MfU16(p) == 3 || !PatternBrush(p + 4, size - 10, nullptr, 0, o)) o = Obj{};
        addObject(o);
        break;
      }
      case 0x00F7: case 0x01F9: case 0x06FF:  // palette, device-bitmap pattern brush, region
        addObject(Obj{});
        break;
      case 0x061D:  // PATBLT: rop (2 words), height, width, y, x
        if (np >= 6) PatBlt(Map(S(5), S(4)), Map(S(5) + S(3), S(4) + S(2)), MfU32(p));
        break;
      case 0x012D:  // SELECTOBJECT
        if (np >= 1 && MfU16(p) < objects_.size()) {
          const Obj& o = objects_[MfU16(p)];
          if (o.kind == Obj::Pen) st_.pen = o;
          else if (o.kind == Obj::Brush) st_.brush = o;
          else if (o.kind == Obj::Font) st_.font = o;
        }
        break;
      case 0x01F0:  // DELETEOBJECT
        if (np >= 1 && MfU16(p) < objects_.size()) {
          objects_[MfU16(p)] = Obj{};
          freeFrom = std::min<size_t>(freeFrom, MfU16(p));
        }
        break;
      case 0x041B: case 0x0418:  // RECTANGLE, ELLIPSE (bottom, right, top, left)
        if (np >= 4) DrawShape(fn == 0x041B ? 0 : 1, S(3), S(2), S(1), S(0), 0, 0);
        break;
      case 0x061C:  // ROUNDRECT (height, width, bottom, right, top, left)
        if (np >= 6) DrawShape(2, S(5), S(4), S(3), S(2), S(1), S(0));
        break;
      case 0x0214:
        if (np >= 2) st_.pos = PointF{S(1), S(0)};
        break;
      case 0x0213:
        if (np >= 2) {
          const PointF to{S(1), S(0)};
          if (!st_.pen.null)
            StrokeFigure(Cv(), Figure{Map(st_.pos.x, st_.pos.y), Map(to.x, to.y)}, false, PenWidth(), st_.pen.colour);
          st_.pos = to;
        }
        break;
      case 0x0324: case 0x0325: {  // POLYGON, POLYLINE
        if (np < 1) return kMetafileDamaged;
        const uint32_t n = MfU16(p);
        if (n > (np - 1) / 2) return kMetafileDamaged;
        Figure f;
        for (uint32_t i = 0; i < n; ++i) f.push_back(Map(S(1 + 2 * i), S(2 + 2 * i)));
        Draw({f}, fn == 0x0324, fn == 0x0324);
        break;
      }
      case 0x0538: {  // POLYPOLYGON
        if (np < 1) return kMetafileDamaged;
        const uint32_t nPolys = MfU16(p);
        if (nPolys > np - 1) return kMetafileDamaged;
        uint32_t at = 1 + nPolys;
        std::vector<Figure> figs;
        for (uint32_t k = 0; k < nPolys; ++k) {
          const uint32_t c = MfU16(p + 2 * (1 + k));
          if (c > (np - at) / 2) return kMetafileDamaged;
          Figure f;
          for (uint32_t i = 0; i < c; ++i, at += 2) f.push_back(Map(S(at), S(at + 1)));
          figs.push_back(std::move(f));
        }
        Draw(figs, true, true);
        break;
      }
      case 0x0521: {  // TEXTOUT: count, string (padded), y, x
        if (np < 1) break;
        const uint32_t n = MfU16(p), strWords = (n + 1) / 2;
        if (np < 1 + strWords + 2) break;
        std::u16string s;
        for (uint32_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(p[2 + i]));
        Text(S(1 + strWords + 1), S(1 + strWords), s);
        break;
      }
      case 0x0A32: {  // EXTTEXTOUT: y, x, count, options, [rect], string
        if (np < 4) break;
        const uint32_t n = MfU16(p + 4), opts = MfU16(p + 6);
        const uint32_t at = 8 + ((opts & 0x6) ? 8 : 0);
        if (at + n > np * 2) break;
        std::u16string s;
        for (uint32_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(p[at + i]));
        const double box[4] = {np >= 8 ? S(4) : 0, np >= 8 ? S(5) : 0, np >= 8 ? S(6) : 0, np >= 8 ? S(7) : 0};
        Text(S(1), S(0), s, (opts & 0x6) ? opts : 0, box);
        break;
      }
      case 0x0F43: {  // STRETCHDIB: rop(2), usage, srcH, srcW, ySrc, xSrc, dstH, dstW, yDst, xDst, DIB
        if (np < 11 + 20) break;
        const uint8_t* dib = p + 22;
        const size_t dibSize = size - 6 - 22;
        const uint32_t hs = MfU32(dib);
        if (hs < 40 || hs > dibSize) break;
        const PointF a = Map(S(10), S(9)), c = Map(S(10) + S(8), S(9) + S(7));
        DrawDIB(a.x, a.y, c.x - a.x, c.y - a.y, MfI16(p + 12), MfI16(p + 10), MfI16(p + 8), MfI16(p + 6), dib,
                dibSize, nullptr, 0, MfU32(p));
        break;
      }
      case 0x0B41: case 0x0940: {  // DIBSTRETCHBLT, DIBBITBLT
        const bool stretch = fn == 0x0B41;
        const uint32_t fixed = stretch ? 10 : 8;
        if (np == fixed + 1) {  // without a bitmap (a reserved word after the rop): the brush alone
          const double dx = S(np - 1), dy = S(np - 2), dw = S(np - 3), dh = S(np - 4);
          PatBlt(Map(dx, dy), Map(dx + dw, dy + dh), MfU32(p));
          break;
        }
        if (np < fixed + 20) break;
        const uint8_t* dib = p + fixed * 2;
        const size_t dibSize = size - 6 - fixed * 2;
        if (MfU32(dib) < 40 || MfU32(dib) > dibSize) break;
        double sw, sh, sx, sy, dh, dw, dy, dx;
        if (stretch) sh = S(2), sw = S(3), sy = S(4), sx = S(5), dh = S(6), dw = S(7), dy = S(8), dx = S(9);
        else sy = S(2), sx = S(3), dh = S(4), dw = S(5), dy = S(6), dx = S(7), sh = dh, sw = dw;
        const PointF a = Map(dx, dy), c = Map(dx + dw, dy + dh);
        DrawDIB(a.x, a.y, c.x - a.x, c.y - a.y, static_cast<int32_t>(sx), static_cast<int32_t>(sy),
                static_cast<int32_t>(sw), static_cast<int32_t>(sh), dib, dibSize, nullptr, 0, MfU32(p));
        break;
      }
      case 0x0D33: {  // SETDIBTODEV: usage, scans, start, yDib, xDib, h, w, yDst, xDst, DIB
        if (np < 9 + 20) break;
        const uint8_t* dib = p + 18;
        const size_t dibSize = size - 6 - 18;
        if (MfU32(dib) < 40 || MfU32(dib) > dibSize) break;
        const PointF a = Map(S(8), S(7));
        const double w = S(6) * ScaleX(), hh = S(5) * ScaleY();
        DrawDIB(a.x, a.y, w, hh, MfI16(p + 8), MfI16(p + 6), MfI16(p + 12), MfI16(p + 10), dib, dibSize,
                nullptr, 0);
        break;
      }
      default:
        break;
    }
    bytesPlayed_ = pos;
    ++records_;
  }
  if (meter_.Out()) return kMetafileStopped;
  // No end record: the data ended early when bytes of a record are left or the header gives more.
  return pos < d.size() || uint64_t{MfU32(d.data() + 6)} * 2 > d.size() ? kMetafileEndedEarly : kMetafileComplete;
}

}  // namespace metafile_player

using metafile_player::Player;

namespace {

// Records from byte pos to the end record (counted) or to where the data ends.
uint32_t CountRecords(const GdiMetafile& mf, size_t pos) {
  const std::vector<uint8_t>& d = mf.bytes;
  uint32_t n = 0;
  if (mf.isWmf) {
    while (pos + 6 <= d.size()) {
      const uint64_t words = MfU32(d.data() + pos);
      ++n;
      if (MfU16(d.data() + pos + 4) == 0 || words < 3 || words * 2 > d.size() - pos) break;
      pos += static_cast<size_t>(words * 2);
    }
  } else {
    while (pos + 8 <= d.size()) {
      const uint32_t size = MfU32(d.data() + pos + 4);
      ++n;
      if (MfU32(d.data() + pos) == EMR_EOF || size < 8 || size > d.size() - pos) break;
      pos += size;
    }
  }
  return n;
}

}  // namespace

bool GdiPlayMetafile(const GdiMetafile& mf, const metafile_player::Surface& surface, const RECT& dest,
                     MetafilePlayback* playback) {
  const uint64_t limit = playback && playback->workLimit ? playback->workLimit : UINT64_MAX;
  Player p(surface, dest, limit);
  MetafileEnd end;
  try {
    end = mf.isWmf ? p.PlayWmf(mf) : p.PlayEmf(mf);
  } catch (const std::bad_alloc&) {
    end = kMetafileStopped;
  }
  if (playback) {
    playback->work = p.Work();
    playback->records = p.Records();
    playback->recordsInFile = p.Records();
    if (end == kMetafileStopped)  // and the records after the one that stopped
      playback->recordsInFile += CountRecords(mf, p.BytesPlayed());
    playback->recordsDeclared = mf.isWmf ? 0 : mf.header.nRecords;
    playback->bytesPlayed = p.BytesPlayed();
    playback->bytesDeclared = mf.isWmf ? uint64_t{MfU32(mf.bytes.data() + 6)} * 2 : mf.header.nBytes;
    playback->bytesInFile = mf.bytes.size();
    playback->windows = mf.isWmf ? TRUE : FALSE;
    playback->end = end;
  }
  return end == kMetafileComplete;
}
