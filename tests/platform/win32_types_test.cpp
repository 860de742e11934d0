#include "platform/win32_types.h"

#include <gtest/gtest.h>

TEST(Win32Types, ColourAndByteOrderHelpers) {
  COLORREF c = RGB(0x12, 0x34, 0x56);
  EXPECT_EQ(c, 0x00563412u);
  EXPECT_EQ(GetRValue(c), 0x12);
  EXPECT_EQ(GetGValue(c), 0x34);
  EXPECT_EQ(GetBValue(c), 0x56);

  BYTE b[4];
  WriteLE32(b, 0x11223344u);
  EXPECT_EQ(b[0], 0x44);
  EXPECT_EQ(ReadLE32(b), 0x11223344u);
  EXPECT_EQ(ReadBE32(b), 0x44332211u);
  WriteBE16(b, 0xA1B2);
  EXPECT_EQ(b[0], 0xA1);
  EXPECT_EQ(ReadLE16(b), 0xB2A1);
}
