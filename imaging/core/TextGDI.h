// Shared steps of the text operations: the font created from a LOGFONT, selected into a
// memory context, and the text handed to DrawTextExA or DrawTextExW.
#pragma once

#include <cstring>

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
