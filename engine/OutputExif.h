// The EXIF block and JPEG metadata of an output: the carried block fitted to the written
// picture, and the JPEG encoding of the working picture shared by the writer and the quality search.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <qrv/imaging.h>

#include "platform/win32_types.h"

class CMainDialog;

// Sets the Orientation entry of IFD0 to 1 in an APP1 payload ("Exif\0\0" then a TIFF block);
// a block too short or malformed is left as it is.
void SetExifOrientationUpright(std::vector<BYTE>& payload);
// The most pixels of an EXIF thumbnail. A thumbnail is a few hundred pixels a side (160 x 120
// in the EXIF standard) within a block of at most 64 KB; a source's thumbnail past this, or
// larger than its picture, gets none in the output.
constexpr uint64_t kExifThumbnailPixelLimit = uint64_t{1} << 20;
// The most bytes of an APP1 payload: a marker's length field counts itself.
constexpr size_t kMaxExifPayload = 65533;

// Makes an APP1 "Exif" payload ("Exif\0\0", a TIFF header and its directories) describe the
// written picture, `pixels` (packed R, G, B rows of width x height, the pixels the output
// holds): PixelXDimension and PixelYDimension of the Exif sub-IFD become its size, the
// Orientation of IFD0 becomes 1 when the pixels were turned upright for `orientation` (2 to 8),
// and an IFD1 JPEG thumbnail is made again from the pixels: the source thumbnail's size turned
// as the picture was, the picture's aspect kept, at the highest quality from the old one's down
// that keeps the payload within kMaxExifPayload. A source without a thumbnail gets none; one
// over kExifThumbnailPixelLimit or `pictureArea` (the picture's pixels as loaded), empty, or one
// that cannot be made is left out (IFD1 unlinked). A payload that is no EXIF block, that the
// library's parser refuses or that still exceeds kMaxExifPayload is emptied. Returns why the
// block or its thumbnail was left out, empty when nothing was. The thumbnail is encoded with
// the library's JPEG writer: the JPEG markers, comments and colour profile to write are cleared,
// so an output's own metadata is set after this.
std::string FitExifToOutput(std::vector<BYTE>& payload, const BYTE* pixels, int width, int height, int orientation,
                            uint64_t pictureArea = kExifThumbnailPixelLimit);
// For the life of one scope, the encodings of the current output (the quality search's probes
// and the file) carry the EXIF block fitted once to the working picture as it is now; outside
// one, each encoding fits it again. The working picture must not change within the scope.
class OutputExifScope {
 public:
  explicit OutputExifScope(const CMainDialog& dialog);
  ~OutputExifScope();
  OutputExifScope(const OutputExifScope&) = delete;
  OutputExifScope& operator=(const OutputExifScope&) = delete;
};
// The EXIF block an output carries: the APP1 payload ("Exif\0\0", then the TIFF structure) of
// the picture's kept block fitted to the written picture (FitExifToOutput), once per
// OutputExifScope; empty when Keep EXIF is off or there is none. `note` receives why the thumbnail was
// left out, if it was.
std::vector<BYTE> ExifForOutput(const CMainDialog& dialog, std::string* note);
// Sets the library's JPEG marker and comment lists to write for the current picture: its kept
// EXIF block when asked (ExifForOutput), "sRGB Matched" after colour matching, then the source's
// comments that the output carries. Returns why the EXIF thumbnail was left out, if it was.
std::string SetJpegMetadataForOutput(const CMainDialog& dialog);
// Encodes the working picture as JPEG into the sink with this file's metadata and the sampling
// of the output page; the bytes written, 0 on failure. exifNote, when given, receives why the
// EXIF block or its thumbnail was left out.
DWORD WriteWorkingJpeg(const CMainDialog& dialog, ISIOHandle sink, int quality, const ISResolution* density,
                       std::string* exifNote = nullptr);
