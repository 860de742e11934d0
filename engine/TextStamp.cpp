// The text stamp step: macro expansion, font, measurement, placement, background box and the
// anti-aliased drawing through the imaging library.
#include "engine/TextStamp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/ErrorText.h"
#include "platform/gdi_text.h"
#include "qrv/imaging.h"

std::string ReplaceFirst(const std::string& text, const std::string& macro, const std::string& value) {
  const size_t at = macro.empty() ? std::string::npos : text.find(macro);
  if (at == std::string::npos) return text;
  return text.substr(0, at) + value + text.substr(at + macro.size());
}

std::string ExpandStampMacros(const std::string& templ, const StampMacroValues& v, bool* cut) {
  const std::pair<const char*, const std::string*> macros[] = {
      {"%DATE%", &v.date},         {"%FLASH%", &v.flash},     {"%FNUM%", &v.fNumber},
      {"%ISO%", &v.iso},           {"%METERING%", &v.metering}, {"%MODEL%", &v.model},
      {"%PROGRAM%", &v.program},   {"%SPEED%", &v.speed},     {"%COMMENT%", &v.comment},
      {"%HEIGHT%", &v.height},     {"%MODIFDATE%", &v.modifDate}, {"%N%", nullptr},
      {"%NAME%", &v.name},         {"%NAMENOEXT%", &v.nameNoExt}, {"%WIDTH%", &v.width}};
  static const std::string kLineFeed = "\n";
  std::string text = templ;
  if (cut) *cut = false;
  for (int pass = 0; pass < kStampMaxPasses; ++pass) {
    const std::string before = text;
    for (const auto& m : macros) {
      const std::string& value = m.second ? *m.second : kLineFeed;
      const size_t macroLength = std::strlen(m.first);
      const size_t at = text.find(m.first);
      if (at == std::string::npos) continue;
      const size_t room = kStampTextLimit - std::min(kStampTextLimit, text.size() - macroLength);
      if (value.size() <= room) {
        text = ReplaceFirst(text, m.first, value);
        continue;
      }
      // Cut before a UTF-8 continuation byte never: back to the start of a whole character.
      size_t keep = room;
      while (keep > 0 && (static_cast<unsigned char>(value[keep]) & 0xC0) == 0x80) --keep;
      text = ReplaceFirst(text, m.first, value.substr(0, keep));
      if (cut) *cut = true;
    }
    if (text == before) break;
  }
  return text;
}

LOGFONTA StampFont(const CTextStampPage& page) {
  // "FontSize" is unsigned: a negative value read from a profile is a huge size.
  const uint32_t size = std::min(std::max(static_cast<uint32_t>(page.m_fontSize), 8u), kStampMaxFontSize);
  LOGFONTA lf{};
  lf.lfHeight = static_cast<LONG>(size);
  lf.lfWidth = 0;
  lf.lfEscapement = 0;
  lf.lfOrientation = 0;
  lf.lfWeight = page.m_weight;
  lf.lfItalic = static_cast<BYTE>(page.m_italic & 0xFF);
  lf.lfUnderline = static_cast<BYTE>(page.m_underline & 0xFF);
  lf.lfStrikeOut = 0;
  lf.lfCharSet = 0;
  lf.lfOutPrecision = 0;
  lf.lfClipPrecision = 0;
  lf.lfQuality = 2;            // PROOF_QUALITY
  lf.lfPitchAndFamily = 0x30;  // FF_MODERN, default pitch
  // The face name, cut to the field (keeping a whole UTF-8 character at the cut).
  const std::string& name = page.m_fontName;
  size_t n = std::min(name.size(), static_cast<size_t>(LF_FACESIZE - 1));
  while (n > 0 && n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  std::memcpy(lf.lfFaceName, name.data(), n);
  return lf;
}

void PlaceStamp(int placement, int64_t W, int64_t H, int64_t w, int64_t h, int64_t ox, int64_t oy, int64_t* x,
                int64_t* y) {
  // The centred placements halve the difference by a shift; a block wider than the picture
  // is centred over it (and clipped) rather than sent off the picture.
  const int64_t centre = (W - w) >> 1;
  switch (placement) {
    case 0:
      *x = centre, *y = oy;
      break;
    case 1:
      *x = centre, *y = H - h - oy;
      break;
    case 2:
      *x = ox, *y = oy;
      break;
    case 3:
      *x = W - w - ox, *y = oy;
      break;
    case 4:
      *x = ox, *y = H - h - oy;
      break;
    default:
      *x = W - w - ox, *y = H - h - oy;
      break;
  }
}

void BlendStampBox(BYTE* image, int W, int H, int64_t x, int64_t y, int64_t w, int64_t h, int backType,
                   COLORREF colour) {
  if (backType <= 0 || !image) return;
  const double a = backType == 1 ? 0.25 : backType == 3 ? 1.0 : 0.5;
  const int64_t x1 = std::max<int64_t>(x - h / 2, 0), x2 = std::min<int64_t>(x + w + h / 2, W);
  const int64_t y1 = std::max<int64_t>(y - h / 8, 0), y2 = std::min<int64_t>(y + h + h / 8, H);
  if (x1 >= x2 || y1 >= y2) return;
  // One table per byte of the pixel: the blended value of every old value.
  const BYTE c[3] = {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
  BYTE table[3][256];
  for (int k = 0; k < 3; ++k)
    for (int old = 0; old < 256; ++old) table[k][old] = static_cast<BYTE>(c[k] * a + old * (1.0 - a));
  for (int64_t row = y1; row < y2; ++row) {
    BYTE* p = image + (static_cast<size_t>(row) * W + static_cast<size_t>(x1)) * 3;
    for (int64_t col = x1; col < x2; ++col, p += 3) {
      p[0] = table[0][p[0]];
      p[1] = table[1][p[1]];
      p[2] = table[2][p[2]];
    }
  }
}

namespace {

// The lines of a text as the drawing breaks them: at CR, LF and CR LF.
std::vector<std::string> StampLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  lines.push_back(text.substr(start));
  return lines;
}

// "the right edge", "the left and top edges", "the left, top and right edges".
std::string EdgesText(const std::vector<const char*>& edges) {
  std::string text = "the ";
  for (size_t i = 0; i < edges.size(); ++i) {
    if (i > 0) text += i + 1 == edges.size() ? " and " : ", ";
    text += edges[i];
  }
  return text + (edges.size() == 1 ? " edge" : " edges");
}

// The widths of single lines in a font, as ISMeasureText gives them (DrawTextExA with
// DT_CALCRECT from (0, 0)), measured with one font and context for all lines, so that each
// glyph's advance is loaded once; 0 for an empty line or when the font cannot be had.
class StampLineWidths {
 public:
  explicit StampLineWidths(const LOGFONTA& font) : dc_(CreateCompatibleDC(nullptr)), font_(CreateFontIndirectA(&font)) {
    if (dc_ && font_) old_ = SelectObject(dc_, font_);
  }
  ~StampLineWidths() {
    if (old_) SelectObject(dc_, old_);
    if (font_) DeleteObject(font_);
    if (dc_) DeleteDC(dc_);
  }
  StampLineWidths(const StampLineWidths&) = delete;
  StampLineWidths& operator=(const StampLineWidths&) = delete;
  DWORD Width(const std::string& line) const {
    if (!old_ || line.empty()) return 0;
    RECT rect{0, 0, static_cast<LONG>(0x80000000u), static_cast<LONG>(0x80000000u)};
    if (!DrawTextExA(dc_, line.c_str(), -1, &rect, DT_CALCRECT, nullptr)) return 0;
    return static_cast<DWORD>(static_cast<int64_t>(rect.right) - rect.left);
  }

 private:
  HDC dc_;
  HFONT font_;
  HGDIOBJ old_ = nullptr;
};

// How much of a stamp placed at (x, y) on a W x H picture shows, from the lines measured with
// the font at three times the size (the block is h3 high at that size): "outside" when no
// line with characters reaches into the picture; else, when some line does not lie wholly
// inside it, how many lines are drawn whole, how many are cut and at which edges, and how
// many lie outside; empty when the stamp shows whole.
std::string StampFit(const std::string& text, const LOGFONTA& font3, int64_t x, int64_t y, int64_t W, int64_t H,
                     int64_t h3) {
  const std::vector<std::string> lines = StampLines(text);
  const StampLineWidths widths(font3);
  const int64_t n = static_cast<int64_t>(lines.size());
  const int64_t lineH3 = h3 / n;
  int64_t whole = 0, cut = 0, outside = 0, shown = 0;
  bool edge[4] = {false, false, false, false};  // left, top, right, bottom
  for (int64_t i = 0; i < n; ++i) {
    const DWORD w3 = widths.Width(lines[static_cast<size_t>(i)]);
    // The line's box at three times the size; its right and bottom edges in whole pixels.
    const int64_t top3 = 3 * y + i * lineH3, bottom3 = top3 + lineH3;
    const int64_t right = (3 * x + static_cast<int64_t>(w3)) / 3, bottom = bottom3 >= 0 ? bottom3 / 3 : -1;
    const bool rowsInside = top3 >= 0 && bottom <= H;
    if (w3 == 0) {  // nothing to draw: whole where its rows lie in the picture
      ++(rowsInside ? whole : outside);
      continue;
    }
    if (x >= 0 && right <= W && rowsInside) {
      ++whole, ++shown;
    } else if (x < W && 3 * x + static_cast<int64_t>(w3) > 0 && top3 < 3 * H && bottom3 > 0) {
      ++cut, ++shown;
      edge[0] |= x < 0, edge[1] |= top3 < 0, edge[2] |= right > W, edge[3] |= bottom > H;
    } else {
      ++outside;
    }
  }
  if (shown == 0) return "text stamp outside the picture";
  if (whole == n) return std::string();
  char counts[64];
  std::snprintf(counts, sizeof counts, "%lld of %lld line%s drawn whole", static_cast<long long>(whole),
                static_cast<long long>(n), n == 1 ? "" : "s");
  std::string said = std::string("text stamp cut: ") + counts;
  if (cut > 0) {
    static const char* const kEdges[4] = {"left", "top", "right", "bottom"};
    std::vector<const char*> edges;
    for (int k = 0; k < 4; ++k)
      if (edge[k]) edges.push_back(kEdges[k]);
    said += ", " + std::to_string(cut) + " cut at " + EdgesText(edges);
  }
  if (outside > 0) said += ", " + std::to_string(outside) + " outside the picture";
  return said;
}

// Code points as "U+0378 U+2900", the first sixteen of them.
std::string CodePointList(const std::vector<DWORD>& points) {
  std::string list;
  for (size_t i = 0; i < points.size(); ++i) {
    if (i == 16) return list + " ...";
    char point[16];
    std::snprintf(point, sizeof point, "%sU+%04lX", i ? " " : "", static_cast<unsigned long>(points[i]));
    list += point;
  }
  return list;
}

// The characters of the stamp that no installed font has, said with their code points; empty
// when every one can be drawn.
std::string StampMissingCharacters(const std::string& text, HFONT font) {
  std::string missing(GdiMissingCharacters(font, text.c_str(), -1, nullptr, 0), '\0');
  if (missing.empty()) return std::string();
  GdiMissingCharacters(font, text.c_str(), -1, &missing[0], static_cast<int>(missing.size()) + 1);
  // The code points of the UTF-8 characters.
  std::vector<DWORD> points;
  for (size_t i = 0; i < missing.size();) {
    const unsigned char b = static_cast<unsigned char>(missing[i]);
    const int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    DWORD cp = extra == 0 ? b : b & (0x3Fu >> extra);
    for (int k = 1; k <= extra && i + static_cast<size_t>(k) < missing.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(missing[i + static_cast<size_t>(k)]) & 0x3Fu);
    i += static_cast<size_t>(extra) + 1;
    points.push_back(cp);
  }
  return "text stamp: no installed font has \"" + missing + "\" (" + CodePointList(points) + ")";
}

// The stamp's text without its control characters (typed in the template or brought by a
// macro's value), which would be drawn as empty boxes; *said names them, empty when there are
// none. Line breaks stay.
std::string WithoutControlCharacters(const std::string& text, std::string* said) {
  said->clear();
  std::vector<DWORD> controls(static_cast<size_t>(GdiControlCharacters(text.c_str(), -1, nullptr, 0)));
  if (controls.empty()) return text;
  GdiControlCharacters(text.c_str(), -1, controls.data(), static_cast<int>(controls.size()));
  *said = "text stamp: control characters left out (" + CodePointList(controls) + ")";
  std::string kept(static_cast<size_t>(GdiWithoutControlCharacters(text.c_str(), -1, nullptr, 0)), '\0');
  GdiWithoutControlCharacters(text.c_str(), -1, &kept[0], static_cast<int>(kept.size()) + 1);
  return kept;
}

// The font the stamp is drawn in, deleted when the holder goes.
struct StampFontHandle {
  explicit StampFontHandle(const LOGFONTA& font) : handle(CreateFontIndirectA(&font)) {}
  ~StampFontHandle() {
    if (handle) DeleteObject(handle);
  }
  StampFontHandle(const StampFontHandle&) = delete;
  StampFontHandle& operator=(const StampFontHandle&) = delete;
  HFONT handle;
};

// The font asked for when the font matched does not go by its name: which font was asked for
// and which one draws the stamp; empty when it is the one asked for.
std::string StampFontSubstitute(const CTextStampPage& page, HFONT font) {
  BOOL named = TRUE;
  std::string family(static_cast<size_t>(GdiGetFontFamily(font, nullptr, 0, &named)), '\0');
  if (named) return std::string();
  GdiGetFontFamily(font, &family[0], static_cast<int>(family.size()) + 1, nullptr);
  return "text stamp: font \"" + page.m_fontName + "\" is not installed, drawn in \"" + family + "\"";
}

}  // namespace

void TextStampStep(CMainDialog& dlg, BYTE* imageA, int widthA, int heightA, bool preview) {
  CTextStampPage& page = dlg.m_pages.textStamp;
  const bool stampOn = page.m_enabled == 1;
  if (preview) {
    page.m_prevFlash = dlg.m_labelFlash.text;
    page.m_prevFNumber = dlg.m_fNumberText;
    page.m_prevIso = dlg.m_isoText;
    page.m_prevMetering = dlg.m_meteringText;
    page.m_prevModel = dlg.m_model;
    page.m_prevProgram = dlg.m_programText;
    page.m_prevSpeed = dlg.m_shutterText;
    page.m_prevComment = dlg.m_userComment;
    page.m_prevWidth = dlg.m_widthText;
    page.m_prevHeight = dlg.m_heightText;
    page.m_prevName = dlg.m_fileName;
    page.m_prevNameNoExt = dlg.m_fileTitle;
    page.m_prevFileTime = dlg.m_srcFileTime;
    if (stampOn) page.SetPreviewInfo(dlg.m_date);
    else page.m_prevDate = dlg.m_date;
    return;
  }
  if (!stampOn || !imageA || widthA <= 0 || heightA <= 0) return;

  StampMacroValues v;
  v.flash = dlg.m_labelFlash.text;
  page.ComposeStampText(v.date, v.modifDate, dlg.m_date, dlg.m_srcFileTime);
  v.fNumber = dlg.m_fNumberText;
  v.iso = dlg.m_isoText;
  v.metering = dlg.m_meteringText;
  v.model = dlg.m_model;
  v.program = dlg.m_programText;
  v.speed = dlg.m_shutterText;
  v.comment = dlg.m_userComment;
  v.height = dlg.m_heightText;
  v.name = dlg.m_fileName;
  v.nameNoExt = dlg.m_fileTitle;
  v.width = dlg.m_widthText;
  std::string controlsSaid;
  bool cut = false;
  const std::string text = WithoutControlCharacters(ExpandStampMacros(page.m_string, v, &cut), &controlsSaid);
  if (cut)
    dlg.LogEntryWarning("text stamp cut: its text is longer than the " + std::to_string(kStampTextLimit) +
                        " bytes a stamp holds");
  if (!dlg.m_userCommentNote.empty() && page.m_string.find("%COMMENT%") != std::string::npos)
    dlg.LogEntryWarning("text stamp: the camera's comment could not be decoded (" + dlg.m_userCommentNote +
                        "), %COMMENT% stamps nothing");

  LOGFONTA font = StampFont(page);
  const StampFontHandle drawn(font);
  if (!drawn.handle) {
    dlg.LogEntryWarning("text stamp left out: no usable font is installed");
    return;
  }
  const std::string substitute = StampFontSubstitute(page, drawn.handle);
  if (!substitute.empty()) dlg.LogEntryWarning(substitute);

  // Measured at three times the size, for a block size that matches the oversampled drawing.
  const LONG size = font.lfHeight;
  font.lfHeight = size * 3;
  DWORD w3 = 0, h3 = 0;
  if (!ISMeasureText(text.c_str(), &font, 0, 0, static_cast<LONG>(0x80000000u), static_cast<LONG>(0x80000000u), &w3,
                     &h3, 0, 0)) {
    dlg.LogEntryWarning("text stamp left out: " + LibraryErrorText(ISGetLastError()));
    return;
  }
  const int64_t w = w3 / 3, h = h3 / 3;
  font.lfHeight = size;

  int64_t x = 0, y = 0;
  PlaceStamp(page.m_placement, widthA, heightA, w, h, page.m_offsetX, page.m_offsetY, &x, &y);
  BlendStampBox(imageA, widthA, heightA, x, y, w, h, page.m_backType, page.m_bkColor);
  if (w3 == 0 || h3 == 0) return;  // nothing to draw
  // A stamp that does not show whole, or that lacks characters, is a warning of the entry.
  font.lfHeight = size * 3;
  const std::string fit = StampFit(text, font, x, y, widthA, heightA, h3);
  font.lfHeight = size;
  if (!fit.empty()) dlg.LogEntryWarning(fit);
  // A block wholly outside the picture draws nothing.
  if (x >= widthA || y >= heightA || x + w <= 0 || y + h <= 0) return;
  if (fit.rfind("text stamp outside", 0) != 0) {
    const std::string missing = StampMissingCharacters(text, drawn.handle);
    if (!missing.empty()) dlg.LogEntryWarning(missing);
    if (!controlsSaid.empty()) dlg.LogEntryWarning(controlsSaid);
  }
  if (!ISDrawText(imageA, static_cast<DWORD>(widthA), static_cast<DWORD>(heightA), static_cast<DWORD>(widthA) * 3,
                  text.c_str(), &font, 3, static_cast<LONG>(x), static_cast<LONG>(y), widthA - 1, heightA - 1, 0, 0,
                  page.m_textColor))
    dlg.LogEntryWarning("text stamp not drawn: " + LibraryErrorText(ISGetLastError()));
}
