// The enumeration texts the tag reader gives for the values of the TIFF 6.0 and EXIF 2.1
// standards, written out by hand for the tests; a value not listed shows as its number.
#pragma once

#include <cstdint>
#include <string>

namespace exiftest {

struct EnumCase {
  uint16_t tag;
  long long value;
  const char* text;
};

const EnumCase kEnumCases[] = {
    {0x0103, 1, "no compression"},
    {0x0103, 6, "TIFF/JPEG compression"},
    {0x0103, 7, "7=Vendor Unique Number"},
    {0x0106, 1, "BlackIsZero"},
    {0x0106, 2, "RGB"},
    {0x0106, 6, "YCbCr color space"},
    {0x0106, 32803, "CFA"},
    {0x0106, 0, "0=Vendor Unique Number"},
    {0x00FE, 0, "indicates main image\""},
    {0x00FE, 1, "indicates thumbnail\""},
    {0x0112, 1, "upper left"},
    {0x0112, 2, "upper right"},
    {0x0112, 3, "lower right"},
    {0x0112, 4, "lower left"},
    {0x0112, 5, "upper left"},
    {0x0112, 6, "upper right"},
    {0x0112, 7, "lower right"},
    {0x0112, 8, "lower left"},
    {0x0112, 0, "undefined"},
    {0x0112, 9, "undefined"},
    {0x011C, 1, "chunky format"},
    {0x011C, 2, "planer"},
    {0x0128, 1, "no unit"},
    {0x0128, 2, "inch"},
    {0x0128, 3, "centimeter"},
    {0xA210, 1, "no-unit"},
    {0xA210, 2, "inch"},
    {0xA210, 3, "centimeter"},
    {0x0213, 1, "center of pixel array"},
    {0x0213, 2, "the datum point"},
    {0x8822, 1, "manual control"},
    {0x8822, 2, "program normal"},
    {0x8822, 3, "aperture priority"},
    {0x8822, 4, "shutter priority"},
    {0x8822, 5, "program creative (slow program)"},
    {0x8822, 6, "program action(high-speed program)"},
    {0x8822, 7, "portrait mode"},
    {0x8822, 8, "landscape mode"},
    {0x9207, 1, "average"},
    {0x9207, 2, "center weighted"},
    {0x9207, 3, "spot"},
    {0x9207, 4, "multi-spot"},
    {0x9207, 5, "multi-segment"},
    {0x9208, 0, "auto"},
    {0x9208, 1, "daylight"},
    {0x9208, 2, "fluorescent"},
    {0x9208, 3, "tungsten"},
    {0x9208, 10, "flash"},
    {0xA217, 2, "one chip color area sensor"},
    {0x8829, 0, "0=non-interlaced (progressive scan)"},
    {0x8829, 1, "1=vertical field 1, horizontal field 1 (video field 1, \"odd\" lines)"},
    {0x8829, 2, "2=vertical field 2, horizontal field 1 (video field 2, \"even\" lines)"},
    {0x8829, 3, "3=vertical field 3-127, horizontal field 1"},
    {0x8829, 127, "127=vertical field 3-127, horizontal field 1"},
    {0x8829, 128, "128=vertical field 1, horizontal field 2"},
    {0x8829, 129, "129=vertical field 2-127, horizontal field 2"},
    {0x8829, 300, "300=vertical field 1-127, horizontal field 3-127"},
};

// The text expected for an enumerated tag's value.
inline std::string EnumText(uint16_t tag, long long value) {
  for (const EnumCase& c : kEnumCases)
    if (c.tag == tag && c.value == value) return c.text;
  return std::to_string(value);
}

}  // namespace exiftest
