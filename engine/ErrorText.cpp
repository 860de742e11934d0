// The message texts of the imaging library's error codes.
#include "engine/ErrorText.h"

#include <cstdio>

namespace {

// The message of a code, or null for a code without one.
const char* OwnText(ISErrorCode code) {
  switch (code) {
    case 0: return "no err";
    case 1: return "out of memory";
    case 2: return "error on file open";
    case 3: return "error on file read";
    case 4: return "error on file write";
    case 5: return "bad user param";
    case 6: return "bad BMP file";
    case 7: return "some RLE variations are not supported";
    case 9: return "bad JPG file";
    case 10: return "error with device context";
    case 11: return "problem with a GetDIBits call";
    case 13: return "resource not found";
    case 14: return "callback returned FALSE - operation aborted";
    case 15: return "bad PNG file";
    case 16: return "internal PNG lib behavior - please report it to the maintainers of the imaging library";
    case 17: return "misc unexpected behavior error - please report it to the maintainers of the imaging library";
    case 18: return "trouble creating a font object";
    case 19: return "misc internal TIFF error";
    case 20: return "invalid TIFF file";
    case 21: return "this will not read TIFF-LZW images";
    case 22: return "invalid PCX image";
    case 23: return "a call to the fn CreateCompatibleBitmap failed";
    case 24: return "end of an image while using single-line de/compression";
    case 25: return "error during a call to GetDIBits";
    case 26: return "device does not support an operation required by this function";
    case 27: return "invalid windows metafile";
    case 28: return "the file was not of the requested bit-depth";
    case 29: return "a call to BitBlt failed.";
    case 30: return "output buffer is too small for this operation";
    case 31: return "not enough room in the output palette to store the colors from this image";
    case 32: return "bad TGA File";
    case 35: return "a call to the fn CreateDIBitmap failed";
    case 36: return "LZW de/compression is not permitted";
    default: return nullptr;
  }
}

}  // namespace

std::string LibraryErrorText(ISErrorCode code) {
  if (const char* text = OwnText(code)) return text;
  char buf[32];
  std::snprintf(buf, sizeof buf, "Error #%u!", static_cast<unsigned>(code));
  return buf;
}

bool LibraryErrorHasText(ISErrorCode code) { return OwnText(code) != nullptr; }

std::string LibraryErrorText(ISErrorCode code, const std::string& words) {
  if (words.empty()) return LibraryErrorText(code);
  if (!LibraryErrorHasText(code)) return words;
  return LibraryErrorText(code) + ": " + words;
}
