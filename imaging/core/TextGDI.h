// Shared steps of the text operations: the font created from a LOGFONT, selected into a
// memory context, and the text handed to DrawTextExA or DrawTextExW.
#pragma once

#include <cstring>
#include <optional>

#include "imaging/core/ISGDI.h"
#include "imaging/core/ISText.h"
#include "platform/gdi_text.h"

// Characters before the terminating NUL.
inline size_t TextLength(const void* text, DWORD flags) {
  if (flags & kTextUtf16) {
    const auto* w = static_cast<const WCHAR*>(text);
    size_t n = 0;
    while (w[n]) ++n;
    return n;
  }
  return std::strlen(static_cast<const char*>(text));
}

inline bool TextIsEmpty(const void* text, DWORD flags) {
  return (flags & kTextUtf16) ? static_cast<const WCHAR*>(text)[0] == 0 : static_cast<const char*>(text)[0] == 0;
}

inline int DrawTextEither(HDC dc, const void* text, DWORD flags, RECT* rect, UINT format) {
  const size_t n = TextLength(text, flags);
  if (n > 0x7FFFFFFF) return 0;
  return (flags & kTextUtf16) ? DrawTextExW(dc, static_cast<const WCHAR*>(text), static_cast<int>(n), rect, format, nullptr)
                              : DrawTextExA(dc, static_cast<const char*>(text), static_cast<int>(n), rect, format, nullptr);
}

// A memory context with a font made from a LOGFONT selected into it; the font is selected back
// out, then deleted, then the context deleted when the holder goes. Open makes them in that
// order and stops at the first failure: error 10 for the context or the selection, 18 for the
// font.
class ISFontContext {
 public:
  bool Open(ISErrorCode& error, const LOGFONTA* font) {
    if (!dc_.Get()) {
      error = IS_ERR_DC;
      return false;
    }
    font_.Reset(CreateFontIndirectA(font));
    if (!font_.Get()) {
      error = IS_ERR_FONT;
      return false;
    }
    selected_.emplace(dc_.Get(), font_.Get());
    if (!selected_->Ok()) {
      error = IS_ERR_DC;
      return false;
    }
    return true;
  }
  HDC Get() const { return dc_.Get(); }
  // Selects the font back out early (after Open succeeded).
  void Restore() { selected_->Restore(); }

 private:
  ISMemoryDC dc_;
  ISGdiObject<HFONT> font_;
  std::optional<ISSelection> selected_;
};
