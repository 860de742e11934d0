// The value texts of the application's EXIF reader: numbers, rationals, strings, the special
// layouts of some tags and the enumeration texts of the TIFF 6.0 and EXIF 2.1 values.
// Every text is cut to its record; values were checked to lie inside the block beforehand.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "imaging/formats/exif/CExifTagReader.h"

namespace {

// Appends formatted text to a fixed record, cutting it at the record's end.
class TextOut {
 public:
  TextOut(char* buf, size_t cap) : buf_(buf), cap_(cap) {
    if (cap_ > 0) buf_[0] = '\0';
  }
  bool Full() const { return cap_ == 0 || len_ + 1 >= cap_; }
  __attribute__((format(printf, 2, 3))) void Add(const char* fmt, ...) {
    if (Full()) return;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf_ + len_, cap_ - len_, fmt, ap);
    va_end(ap);
    if (n < 0) {
      buf_[len_] = '\0';
      return;
    }
    len_ = std::min(len_ + static_cast<size_t>(n), cap_ - 1);
  }
  // Characters up to the first zero byte or n bytes, whichever comes first.
  void AddChars(const BYTE* p, size_t n) {
    for (size_t i = 0; i < n && p[i] != 0 && !Full(); ++i) {
      buf_[len_++] = static_cast<char>(p[i]);
      buf_[len_] = '\0';
    }
  }

 private:
  char* buf_;
  size_t cap_;
  size_t len_ = 0;
};

struct EnumText {
  long long value;
  const char* text;
};

template <size_t N>
const char* Lookup(const EnumText (&table)[N], long long v) {
  for (const EnumText& e : table)
    if (e.value == v) return e.text;
  return nullptr;
}

const EnumText kCompression[] = {{1, "no compression"}, {6, "TIFF/JPEG compression"}};
const EnumText kPhotometric[] = {{1, "BlackIsZero"}, {2, "RGB"}, {6, "YCbCr color space"}, {32803, "CFA"}};
const EnumText kNewSubfile[] = {{0, "indicates main image\""}, {1, "indicates thumbnail\""}};
// Where the first stored pixel appears: values 1 and 5 put it at the upper left, 2 and 6 at
// the upper right, 3 and 7 at the lower right, 4 and 8 at the lower left.
const EnumText kOrientation[] = {{1, "upper left"}, {3, "lower right"}, {6, "upper right"}, {8, "lower left"},
                                 {5, "upper left"}, {7, "lower right"}, {2, "upper right"}, {4, "lower left"}};
const EnumText kPlanar[] = {{1, "chunky format"}, {2, "planer"}};
const EnumText kResUnit[] = {{1, "no unit"}, {2, "inch"}, {3, "centimeter"}};
const EnumText kFocalPlaneUnit[] = {{1, "no-unit"}, {2, "inch"}, {3, "centimeter"}};
const EnumText kSubSampleWidth[] = {
    {1, "ImageWidth of this chroma image is equal to the ImageWidth of the associated luma image"},
    {2, "ImageWidth of this chroma image is half the ImageWidth of the associated luma image"},
    {4, "ImageWidth of this chroma image is one-quarter the ImageWidth of the associated luma image"}};
const EnumText kSubSampleLength[] = {
    {1, "ImageLength (height) of this chroma image is equal to the ImageLength of the associated luma image"},
    {2, "ImageLength (height) of this chroma image is half the ImageLength of the associated luma image"},
    {4, "ImageLength (height) of this chroma image is one-quarter the ImageLength of the associated luma image"}};
const EnumText kYCbCrPositioning[] = {{1, "center of pixel array"}, {2, "the datum point"}};
const EnumText kExposureProgram[] = {{1, "manual control"},
                                     {2, "program normal"},
                                     {3, "aperture priority"},
                                     {4, "shutter priority"},
                                     {5, "program creative (slow program)"},
                                     {6, "program action(high-speed program)"},
                                     {7, "portrait mode"},
                                     {8, "landscape mode"}};
const EnumText kMetering[] = {{1, "average"}, {2, "center weighted"}, {3, "spot"}, {4, "multi-spot"}, {5, "multi-segment"}};
const EnumText kLightSource[] = {{0, "auto"}, {1, "daylight"}, {2, "fluorescent"}, {3, "tungsten"}, {10, "flash"}};
const EnumText kSensing[] = {{2, "one chip color area sensor"}};
const EnumText kSecurity[] = {{'T', "Top Secret"}, {'S', "Secret"}, {'C', "Confidential"}, {'R', "Restricted"}, {'U', "Unrestricted"}};

bool IsIntegerType(WORD type) {
  return type == 1 || type == 3 || type == 4 || type == 6 || type == 7 || type == 8 || type == 9;
}
bool IsRationalType(WORD type) { return type == 5 || type == 10; }

}  // namespace

double CExifTagReader::FormatRational(char* out, size_t outSize, int64_t num, int64_t den) {
  if (out && outSize > 0) out[0] = '\0';
  if (den == 0) return 0.0;
  double q = static_cast<double>(num) / static_cast<double>(den);
  if (out && outSize > 0) {
    if (num >= 2) std::snprintf(out, outSize, "%.2lf", q);
    else std::snprintf(out, outSize, "%lld/%lld", static_cast<long long>(num), static_cast<long long>(den));
  }
  return q;
}

void CExifTagReader::FormatTagValue(int index) {
  if (index < 0 || index >= kTagCount) return;
  ExifTagRecord& record = m_Tags[index];
  record.found = 1;
  TextOut out(record.value, kValueSize);
  const WORD tag = RecordTag(index);
  const size_t count = m_Count;  // every value lies inside the copy (LoadEntry checked)
  const size_t vp = m_ValuePos;
  const BYTE* bytes = m_Copy.data();

  auto integerAt = [&](size_t i) -> long long {
    switch (m_Type) {
      case 6: return static_cast<int8_t>(bytes[vp + i]);
      case 3: return Get16(vp + 2 * i);
      case 8: return static_cast<int16_t>(Get16(vp + 2 * i));
      case 4: return Get32(vp + 4 * i);
      case 9: return static_cast<int32_t>(Get32(vp + 4 * i));
      default: return bytes[vp + i];  // BYTE, UNDEFINED
    }
  };
  auto rationalAt = [&](size_t i, int64_t& num, int64_t& den) {
    DWORD n = Get32(vp + 8 * i), d = Get32(vp + 8 * i + 4);
    if (m_Type == 10) {
      num = static_cast<int32_t>(n);
      den = static_cast<int32_t>(d);
    } else {
      num = n;
      den = d;
    }
  };
  auto addRational = [&](size_t i) {
    int64_t num = 0, den = 0;
    rationalAt(i, num, den);
    char text[64];
    FormatRational(text, sizeof text, num, den);
    out.Add("%s", text);
  };
  // Any value by its type: strings as they are, numbers in decimal, lists joined by ", ".
  auto generic = [&]() {
    if (m_Type == 2) {
      out.AddChars(bytes + vp, count);
      return;
    }
    for (size_t i = 0; i < count && !out.Full(); ++i) {
      if (i > 0) out.Add(", ");
      if (IsIntegerType(m_Type)) {
        out.Add("%lld", integerAt(i));
      } else if (IsRationalType(m_Type)) {
        addRational(i);
      } else if (m_Type == 11) {
        DWORD b = Get32(vp + 4 * i);
        float f;
        std::memcpy(&f, &b, sizeof f);
        out.Add("%.4f", static_cast<double>(f));
      } else if (m_Type == 12) {
        DWORD w0 = Get32(vp + 8 * i), w1 = Get32(vp + 8 * i + 4);
        uint64_t b = m_ByteOrder == 0 ? (static_cast<uint64_t>(w1) << 32) | w0 : (static_cast<uint64_t>(w0) << 32) | w1;
        double d;
        std::memcpy(&d, &b, sizeof d);
        out.Add("%.4f", d);
      }
    }
  };
  const bool integral = IsIntegerType(m_Type) && count > 0;
  const long long v0 = integral ? integerAt(0) : 0;
  // An enumerated value: its text, else fallback with the number.
  auto enumerated = [&](const char* text, const char* fallback) {
    if (text) out.Add("%s", text);
    else out.Add(fallback, v0);
  };

  switch (tag) {
    case 0x0002:  // interoperability version
    case 0x9000:  // Exif version
    case 0xA000:  // FlashPix version
    case 0x9216:  // TIFF/EP standard id
      if (count < 4 || !(m_Type == 1 || m_Type == 2 || m_Type == 7)) break;
      if (m_Type == 1) {
        out.Add("[%d.%d.%d.%d]", bytes[vp], bytes[vp + 1], bytes[vp + 2], bytes[vp + 3]);
      } else {
        // Version digits are stored as characters ("0221").
        for (size_t i = 0; i < 4; ++i) {
          BYTE b = bytes[vp + i];
          out.Add("%x", (b >= '0' && b <= '9') ? b - '0' : b);
        }
      }
      return;
    case 0x00FE:
      if (!integral) break;
      enumerated(Lookup(kNewSubfile, v0), "%lld");
      return;
    case 0x0103:
      if (!integral) break;
      enumerated(Lookup(kCompression, v0), "%lld=Vendor Unique Number");
      return;
    case 0x0106:
      if (!integral) break;
      enumerated(Lookup(kPhotometric, v0), "%lld=Vendor Unique Number");
      return;
    case 0x0112:
      if (!integral) break;
      out.Add("%s", Lookup(kOrientation, v0) ? Lookup(kOrientation, v0) : "undefined");
      return;
    case 0x011C:
      if (!integral) break;
      enumerated(Lookup(kPlanar, v0), "%lld");
      return;
    case 0x0128:
      if (!integral) break;
      enumerated(Lookup(kResUnit, v0), "%lld");
      return;
    case 0xA210:
      if (!integral) break;
      enumerated(Lookup(kFocalPlaneUnit, v0), "%lld");
      return;
    case 0x0213:
      if (!integral) break;
      enumerated(Lookup(kYCbCrPositioning, v0), "%lld");
      return;
    case 0x8822:
      if (!integral) break;
      enumerated(Lookup(kExposureProgram, v0), "%lld");
      return;
    case 0x9207:
      if (!integral) break;
      enumerated(Lookup(kMetering, v0), "%lld");
      return;
    case 0x9208:
      if (!integral) break;
      enumerated(Lookup(kLightSource, v0), "%lld");
      return;
    case 0xA217:
      if (!integral) break;
      enumerated(Lookup(kSensing, v0), "%lld");
      return;
    case 0x0212:  // horizontal, then vertical subsampling
      if (!integral) break;
      for (size_t i = 0; i < count && i < 2; ++i) {
        long long v = integerAt(i);
        const char* text = Lookup(i == 0 ? kSubSampleWidth : kSubSampleLength, v);
        if (i > 0) out.Add(", ");
        if (text) out.Add("%s", text);
        else out.Add("%lld", v);
      }
      return;
    case 0x8829:  // interlace: field numbers packed into the value
      if (!integral || v0 < 0) break;
      if (v0 == 0) out.Add("0=non-interlaced (progressive scan)");
      else if (v0 == 1) out.Add("1=vertical field 1, horizontal field 1 (video field 1, \"odd\" lines)");
      else if (v0 == 2) out.Add("2=vertical field 2, horizontal field 1 (video field 2, \"even\" lines)");
      else if (v0 < 128) out.Add("%lld=vertical field 3-127, horizontal field 1", v0);
      else if (v0 == 128) out.Add("128=vertical field 1, horizontal field 2");
      else if (v0 < 256) out.Add("%lld=vertical field 2-127, horizontal field 2", v0);
      else out.Add("%lld=vertical field 1-127, horizontal field 3-127", v0);
      return;
    case 0x9212: {  // security classification: one letter
      size_t len = 0;
      while (len < count && bytes[vp + len] != 0) ++len;
      const char* text = (m_Type == 2 && len == 1) ? Lookup(kSecurity, bytes[vp]) : nullptr;
      if (!text) break;
      out.Add("%s", text);
      return;
    }
    case 0x0111:  // strip offsets
    case 0x0117:  // strip byte counts
      if (!integral) break;
      for (size_t i = 0; i < count && !out.Full(); ++i) out.Add("%lld, ", integerAt(i));
      if (m_PlanarConfig == 2) out.Add("%zu=SamplesPerPixel * StripsPerImage", count);
      else out.Add("%zu=StripsPerImage", count);
      return;
    case 0x0116:
      if (!integral) break;
      out.Add("%lld, Note that the number of StripsPerImage equals floor ((ImageLength + RowsPerStrip - 1) / RowsPerStrip)",
              v0);
      return;
    case 0x8825:
      if (!integral) break;
      out.Add("%4llx=place to find more GPS info, more code needs to be written to decode this data",
              static_cast<unsigned long long>(v0));
      return;
    case 0x882A:
      if (!integral) break;
      out.Add("%lld=Time Zone Offset (in hours) of DateTimeOriginal tag-value relative to Greenwich Mean Time", v0);
      if (count >= 2)
        out.Add(", %lld=Time Zone Offset (in hours) of DateTime tag-value relative to Greenwich Mean Time", integerAt(1));
      return;
    case 0x9214:
    case 0xA214:
      if (!integral || count < 2) break;
      out.Add("%lld=column number, %lld=row number", v0, integerAt(1));
      if (count == 3) out.Add(", %lld=diameter of circle", integerAt(2));
      else if (count >= 4) out.Add(", %lld=width, %lld=heigth", integerAt(2), integerAt(3));
      return;
    case 0x828D:
      if (!integral || count < 2) break;
      out.Add("CFARepeatRows=%lld, CFARepeatCols=%lld", v0, integerAt(1));
      return;
    case 0x9201: {  // shutter speed: an APEX value, 2^value is the reciprocal exposure time
      if (!IsRationalType(m_Type) || count == 0) break;
      int64_t num = 0, den = 0;
      rationalAt(0, num, den);
      if (den != 0) out.Add("1/%.2lf", std::pow(2.0, static_cast<double>(num) / static_cast<double>(den)));
      return;
    }
    case 0x8769:  // Exif sub-IFD offset
      if (!integral) break;
      m_ExifIFDPos = static_cast<size_t>(static_cast<unsigned long long>(v0) & 0xFFFFFFFFu) + kTiffStart;
      out.Add("%lld", v0);
      return;
    case 0xA005:  // interoperability IFD offset
      if (!integral) break;
      m_InteropIFDPos = static_cast<size_t>(static_cast<unsigned long long>(v0) & 0xFFFFFFFFu) + kTiffStart;
      m_InteropSeen = TRUE;
      out.Add("%lld", v0);
      return;
    case 0x9286: {  // user comment: an 8-byte character code, then the text
      if (m_Type != 7 || count < 8) break;
      static const BYTE kAscii[8] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};
      static const BYTE kUndefined[8] = {0, 0, 0, 0, 0, 0, 0, 0};
      if (std::memcmp(bytes + vp, kAscii, 8) != 0 && std::memcmp(bytes + vp, kUndefined, 8) != 0) break;
      out.AddChars(bytes + vp + 8, count - 8);
      return;
    }
    default:
      break;
  }
  generic();
}
