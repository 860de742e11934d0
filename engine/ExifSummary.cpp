// The EXIF summary: each wanted tag is asked of the imaging library as text (IFD0, Exif,
// interoperability and IFD1 lists) and converted into a number or a word.
#include "engine/ExifSummary.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "platform/gdi_font_face.h"

namespace {

constexpr DWORD kSummaryLists = 15;  // IFD0, Exif sub-IFD, interoperability, IFD1

// C-library integer parsing (leading blanks, optional sign, digits), held within int.
long ParseLong(const char* s) { return std::strtol(s, nullptr, 10); }
int ParseInt(const std::string& s) {
  long v = ParseLong(s.c_str());
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// The value when the denominator is above 0; otherwise `value` is left as it is.
void ApplyRational(const std::string& text, double& value) {
  long num = 0, den = 0;
  if (ParseRationalParts(text, num, den) && den > 0) value = static_cast<double>(num) / static_cast<double>(den);
}

class TagReader {
 public:
  explicit TagReader(CISEXIFBase* exif) : exif_(exif) {}
  // The tag's text; false when the tag is missing.
  bool Get(DWORD tag, std::string& text) const {
    HGLOBAL block = nullptr;
    DWORD length = 0;
    if (!ISGetEXIFTagText(exif_, tag, kSummaryLists, &block, &length) || !block) return false;
    text.assign(static_cast<const char*>(block), length);
    GlobalFree(block);
    return true;
  }

 private:
  CISEXIFBase* exif_;
};

const char* ExposureProgramText(int v) {
  switch (v) {
    case 1: return "manual control";
    case 2: return "program normal";
    case 3: return "aperture priority";
    case 4: return "shutter priority";
    case 5: return "program creative (slow program)";
    case 6: return "program action(high-speed program)";
    case 7: return "portrait mode";
    case 8: return "landscape mode";
    default: return "other";
  }
}

const char* MeteringModeText(int v) {
  switch (v) {
    case 1: return "average";
    case 2: return "center weighted";
    case 3: return "spot";
    case 4: return "multi-spot";
    case 5: return "multi-segment";
    default: return "other";
  }
}

// An APEX value from a rational text: 1.0 when the denominator is not above 0; false when
// the text has no "/" after its first character.
bool ApexValue(const std::string& text, double& value) {
  long num = 0, den = 0;
  if (!ParseRationalParts(text, num, den)) return false;
  value = den > 0 ? static_cast<double>(num) / static_cast<double>(den) : 1.0;
  return true;
}

// The bytes of a tag text of UNDEFINED bytes ("x41, x53, x0a", see ISGetEXIFTagText); false
// when the text is not of that form.
bool BytesOfTagText(const std::string& text, std::string& bytes) {
  bytes.clear();
  size_t i = 0;
  while (i < text.size()) {
    if (i > 0) {
      if (text.compare(i, 2, ", ") != 0) return false;
      i += 2;
    }
    if (i >= text.size() || text[i] != 'x') return false;
    unsigned value = 0;
    size_t digits = 0;
    for (++i; i < text.size() && digits < 2 && std::isxdigit(static_cast<unsigned char>(text[i])); ++i, ++digits)
      value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(text[i]))
                                                     ? text[i] - '0'
                                                     : (std::tolower(static_cast<unsigned char>(text[i])) - 'a' + 10));
    if (digits == 0) return false;
    bytes += static_cast<char>(value);
  }
  return true;
}

// The text up to its first zero byte, without the blanks after it.
std::string UpToZeroTrimmed(const std::string& text) {
  std::string s = text.substr(0, text.find('\0'));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// UTF-16 code units in the given byte order to UTF-8, up to the first zero unit; a leading
// byte-order mark names the order and is dropped; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::string& bytes, bool bigEndian) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
  }
  size_t begin = 0;
  if (!units.empty() && (units[0] == 0xFEFF || units[0] == 0xFFFE)) {
    // Read in the wrong order, a mark comes out swapped.
    if (units[0] == 0xFFFE)
      for (char16_t& u : units) u = static_cast<char16_t>(u << 8 | u >> 8);
    begin = 1;
  }
  const size_t end = std::min(units.find(u'\0', begin), units.size());
  return GdiEncodeUtf8(GdiDecodeUtf16(units.data() + begin, end - begin));
}

}  // namespace

bool DecodeUserComment(const std::string& bytes, bool bigEndian, std::string& text, std::string* why) {
  if (why) why->clear();
  if (bytes.size() < 8) return false;
  const std::string code = bytes.substr(0, 8), rest = bytes.substr(8);
  const bool hasText = UpToZeroTrimmed(rest).find_first_not_of(' ') != std::string::npos;
  // Codes are compared up to their first zero byte.
  if (code.compare(0, 6, std::string("ASCII\0", 6)) == 0) {
    text = UpToZeroTrimmed(rest);
  } else if (code == std::string("UNICODE\0", 8)) {
    text = Utf16ToUtf8(rest, bigEndian);
    while (!text.empty() && text.back() == ' ') text.pop_back();
  } else if (code == std::string(8, '\0')) {
    text = UpToZeroTrimmed(rest);
    if (!GdiIsUtf8(text.data(), text.size())) {
      text.clear();
      if (why) *why = "its character code is undefined and its bytes are not UTF-8";
    }
  } else if (code.compare(0, 4, std::string("JIS\0", 4)) == 0) {
    text.clear();
    if (why && hasText) *why = "it is in the JIS character code, which this program does not read";
  } else {
    if (why && hasText) *why = "its character code is none the EXIF standard names";
    return false;
  }
  return true;
}

bool ParseRationalParts(const std::string& text, long& numerator, long& denominator) {
  const size_t slash = text.find('/');
  if (slash == std::string::npos || slash == 0) return false;
  numerator = ParseLong(text.c_str());
  denominator = ParseLong(text.c_str() + slash + 1);
  return true;
}

double ShutterTimeFromTv(double tv) {
  static const double kSeconds[] = {15, 8, 4, 2, 1, 0.5, 0.25, 0.125, 1.0 / 15, 1.0 / 30, 1.0 / 60,
                                    0.008, 0.004, 0.002, 0.001};
  if (tv < -4) return 30;
  if (tv >= 11) return 0.0005;
  for (int i = 0; i < 15; ++i)
    if (tv < -3 + i) return kSeconds[i];
  return 0.0005;
}

double FNumberFromAv(double av) {
  static const double kF[] = {1.0, 1.4, 2.0, 2.8, 4.0, 5.6, 8.0, 11.0, 16.0, 22.0};
  for (int i = 0; i < 10; ++i)
    if (av < 1 + i) return kF[i];
  return 32.0;
}

BOOL CExifSummary::ReadExif(const BYTE* block, DWORD length) {
  CISEXIFBase* exif = ISReadEXIF(block, length, 2);
  if (!exif) return 0;
  TagReader tags(exif);
  std::string t;

  if (tags.Get(272, t)) model = t;
  if (tags.Get(271, t)) make = t;
  if (tags.Get(274, t)) orientation = ParseInt(t);
  if (tags.Get(36867, t) || tags.Get(306, t)) date = t;
  if (tags.Get(37380, t)) {
    exposureBiasText = t;
    exposureBias = 0;
    ApplyRational(t, exposureBias);
  }
  if (tags.Get(33434, t)) {
    exposureTime = 0;
    ApplyRational(t, exposureTime);
  }
  if (tags.Get(37377, t)) {
    shutterTime = 0;
    double tv = 0;
    if (ApexValue(t, tv)) shutterTime = ShutterTimeFromTv(tv);
  }
  if (tags.Get(37378, t)) {
    aperture = 0;
    double av = 0;
    if (ApexValue(t, av)) aperture = FNumberFromAv(av);
  }
  if (tags.Get(33437, t)) {
    fNumber = 0;
    ApplyRational(t, fNumber);
  }
  if (tags.Get(34850, t)) exposureProgram = ExposureProgramText(ParseInt(t));
  if (tags.Get(37383, t)) meteringMode = MeteringModeText(ParseInt(t));
  if (tags.Get(37384, t)) lightSource = ParseInt(t);
  if (tags.Get(37385, t)) {
    const int v = ParseInt(t);
    flash = v > 1 ? (v % 2 != 0 ? 1 : 0) : v;
  }
  iso = 0;
  if (tags.Get(34855, t)) iso = ParseInt(t);
  if (tags.Get(37382, t)) {
    subjectDistance = 0;
    ApplyRational(t, subjectDistance);
    // A numerator of 0xFFFFFFFF means infinity, whatever the denominator.
    long num = 0, den = 0;
    if (ParseRationalParts(t, num, den) && num == 0xFFFFFFFFL) subjectDistance = kSubjectAtInfinity;
  }
  userCommentNote.clear();
  if (tags.Get(37510, t)) {
    // Stored as the EXIF standard stores it, the tag's text gives its bytes: the character code,
    // then the comment. A tag of text (not the standard's type) keeps its "ASCII" rule.
    std::string bytes;
    if (BytesOfTagText(t, bytes)) {
      const bool bigEndian = length > 11 && block[10] == 'M';
      DecodeUserComment(bytes, bigEndian, userComment, &userCommentNote);
    } else if (t.c_str() == std::string("ASCII")) {
      userComment = t.size() > 8 ? UpToZeroTrimmed(t.substr(8)) : std::string();
    }
  }
  if (tags.Get(40961, t)) colorSpace = ParseInt(t);

  return ISReleaseEXIF(exif);
}
