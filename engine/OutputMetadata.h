// The colour profile, IPTC record, XMP packets and comments of a source file, and how each output
// carries them with its EXIF block: the profile into JPEG, PNG and TIFF files, EXIF into JPEG and
// PNG, IPTC into JPEG and TIFF, XMP into JPEG, PNG and TIFF, comments into JPEG; the XMP fitted
// to the written picture (upright, its size, no stale thumbnail). Keep EXIF governs every block
// but the profile; what an output cannot hold is named in one warning.
#pragma once

#include <string>
#include <vector>

#include <qrv/imaging.h>

#include "platform/win32_types.h"

class CMainDialog;

// What a loaded file carries (see ISGetReadMetadata).
struct SourceMetadata {
  std::vector<BYTE> iccProfile;
  std::vector<BYTE> iptc;         // the IPTC record's datasets
  std::vector<BYTE> xmp;          // the XMP packet
  std::vector<BYTE> xmpExtended;  // a JPEG's extended XMP packet, whole
  std::vector<char> xmpGuid;      // the 32 hex digits naming the extended packet
  std::vector<std::string> comments;  // a JPEG's comments, in file order
  std::string profileNote;        // why the file's colour profile was left out on reading
  std::string xmpExtendedNote;    // why its extended XMP packet was
  std::string xmpNote, iptcNote;  // why its XMP packet and IPTC record were
  std::string exifNote;           // what of its camera data was (a TIFF's unreadable directory)
  // The reader turned the picture upright as the file's own orientation tag says (a TIFF's):
  // the XMP's orientation then describes the stored picture, not the one loaded.
  bool uprightOnRead = false;
  void Clear() { *this = SourceMetadata(); }
  // Takes what the library's last read met.
  void TakeFromLastRead();
  // Takes the comments of the library's last JPEG read.
  void TakeJpegComments();
};

// The kinds of output as to what they can hold.
enum class OutputKind { kJpeg, kPng, kTiff, kOther };

// Makes an XMP packet describe the written picture: tiff:Orientation becomes 1 when the pixels
// were turned upright, tiff:ImageWidth/ImageLength and exif:PixelXDimension/PixelYDimension
// (as attributes or elements) become the written size when `setSize`, an xmp:Thumbnails
// property is left out, and so is xmpNote:HasExtendedXMP when `dropExtension` (the extended
// packet it names does not go with it); every other byte stays. False, with why, when the
// packet cannot be read as XML well enough to do so.
bool FitXmpToOutput(std::string& packet, bool turned, bool setSize, int width, int height, std::string* why,
                    bool dropExtension = false);

// What an output of that kind carries of the current source, fitted, and why anything the
// source has was left out.
struct CarriedMetadata {
  std::vector<BYTE> iccProfile, iptc, xmp, xmpExtended;
  std::vector<BYTE> exif;  // a PNG output's EXIF block (a JPEG's goes through its own marker)
  std::vector<std::string> comments;
  std::vector<std::string> notes;
};
CarriedMetadata MetadataForOutput(const CMainDialog& dialog, OutputKind kind, const char* formatName);
// Puts what an output carries in the library's state for the next write: the profile, EXIF, IPTC
// and XMP to embed; for JPEG the XMP, extended XMP and IPTC markers are added to the markers to
// write (its comments are set with the comment list, SetJpegMetadataForOutput).
void SetCarriedMetadata(const CarriedMetadata& carried, OutputKind kind);
// Clears the profile, EXIF, IPTC and XMP to embed, so that nothing reaches the next file.
void ClearCarriedMetadata();
// The kind of output of an application format code (IFF_*) and its name for a warning.
OutputKind OutputKindOf(int format);
const char* OutputFormatName(int format);
