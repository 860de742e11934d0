// The EXIF summary of a picture: the camera values the correction steps and the picture
// information need, read from the EXIF block of the file it came from. The picture object
// holds one and calls ReadExif after a JPEG load.
#pragma once

#include <string>

#include "qrv/imaging.h"

// The subject distance of a picture focused at infinity (EXIF numerator 0xFFFFFFFF).
constexpr double kSubjectAtInfinity = 4294967295.0;

class CExifSummary {
 public:
  // Parses the block through the imaging library and fills the fields from the tags found.
  // Returns the result of releasing the library's EXIF object (nonzero when released), or 0
  // with no field changed when the block cannot be parsed.
  BOOL ReadExif(const BYTE* block, DWORD length);

  std::string make;
  std::string model;
  std::string date;
  double exposureBias = 0;
  std::string exposureBiasText;
  double exposureTime = 0;  // seconds
  double shutterTime = 0;   // seconds, from the APEX shutter-speed value
  double aperture = 0;      // F-number, from the APEX aperture value
  int colorSpace = 0;       // 1 is sRGB
  double fNumber = 0;
  std::string exposureProgram;
  std::string meteringMode;
  int lightSource = -1;
  int flash = -1;  // -1 unknown, 0 not fired, 1 fired
  int iso = 0;
  double subjectDistance = 0;  // metres; 0 unknown, kSubjectAtInfinity for infinity
  int orientation = 1;         // EXIF values 1 to 8
  std::string userComment;
  std::string userCommentNote;  // why a comment the block has could not be decoded
};

// Shutter time in seconds for an APEX time value (rows of whole steps, lower bound included).
double ShutterTimeFromTv(double tv);
// F-number for an APEX aperture value, likewise.
double FNumberFromAv(double av);
// The text of a UserComment's bytes (an 8-byte character code, then the comment): "ASCII" as
// it is, "UNICODE" as UTF-16 in the EXIF block's byte order (a byte-order mark overrides it)
// turned into UTF-8, an undefined code (eight zero bytes) when the rest is valid UTF-8, "JIS"
// as nothing; cut at the first zero character, trailing blanks dropped. False for fewer than 8
// bytes or another code, which leave the comment as it was. `why`, when given, receives why a
// comment with characters could not be decoded (empty when it was, or had none).
bool DecodeUserComment(const std::string& bytes, bool bigEndian, std::string& text, std::string* why = nullptr);
// A "numerator/denominator" text: true with the two integers when the "/" stands after the
// first character.
bool ParseRationalParts(const std::string& text, long& numerator, long& denominator);
