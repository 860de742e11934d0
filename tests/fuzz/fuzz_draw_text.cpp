// Text from outside (a stamp template, an EXIF comment, a file name) measured and drawn: any
// bytes, as 8-bit text or UTF-16, through the macro expansion and into a small picture.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/TextStamp.h"
#include "qrv/imaging.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > 4096) return 0;
  const uint8_t mode = data[0];
  const LONG height = static_cast<LONG>(static_cast<int8_t>(data[1]));  // -128..127
  const COLORREF colour = RGB(data[2], 255 - data[2], 128);
  data += 3;
  size -= 3;

  LOGFONTA font{};
  font.lfHeight = height;
  font.lfWeight = (mode & 8) ? 700 : 400;
  font.lfItalic = (mode >> 4) & 1;
  font.lfUnderline = (mode >> 5) & 1;
  std::strcpy(font.lfFaceName, (mode & 64) ? "Liberation Sans" : "DejaVu Sans");

  constexpr DWORD W = 48, H = 24;
  std::vector<BYTE> picture(W * H * 3, 77);
  // Mode 7 starts the text far left of the picture, where only its tail can be seen.
  const LONG x = (mode & 7) == 7 ? -4000 : static_cast<LONG>(mode & 7) * 5 - 10;
  if (mode & 128) {
    std::vector<WCHAR> text(size / 2 + 1, 0);
    for (size_t i = 0; i + 1 < size; i += 2) text[i / 2] = static_cast<WCHAR>(data[i] | (data[i + 1] << 8));
    DWORD w = 0, h = 0;
    ISMeasureText(text.data(), &font, 0, 0, LONG(0x80000000u), LONG(0x80000000u), &w, &h, 0, 4);
    ISDrawText(picture.data(), W, H, W * 3, text.data(), &font, 3, x, 2, W - 1, H - 1, 0, 4, colour);
  } else {
    // The bytes as a stamp template whose comment is the bytes again.
    StampMacroValues values;
    values.comment.assign(reinterpret_cast<const char*>(data), size);
    values.name = "x%NAME%.jpg";
    const std::string text = ExpandStampMacros(values.comment, values);
    DWORD w = 0, h = 0;
    ISMeasureText(text.c_str(), &font, 0, 0, LONG(0x80000000u), LONG(0x80000000u), &w, &h, 0, 0);
    ISDrawText(picture.data(), W, H, W * 3, text.c_str(), &font, 3, x, 2, W - 1, H - 1, 0, 0, colour);
  }
  return 0;
}
