// The text ISGetEXIFTagText gives for a tag in the lists a mask names, for the parser tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "imaging/formats/exif/CISEXIFBase.h"
#include "qrv/imaging.h"

namespace exiftest {

// The text of a tag, or "<none>" when it is not found (then with length 0); a found text ends
// with a zero byte after its length.
inline std::string TagText(CISEXIFBase* exif, DWORD tag, DWORD mask) {
  HGLOBAL h = nullptr;
  DWORD len = 99;
  EXPECT_TRUE(ISGetEXIFTagText(exif, tag, mask, &h, &len));
  if (!h) {
    EXPECT_EQ(len, 0u);
    return "<none>";
  }
  std::string s(static_cast<const char*>(h), len);
  EXPECT_EQ(static_cast<const char*>(h)[len], '\0');
  GlobalFree(h);
  return s;
}

}  // namespace exiftest
