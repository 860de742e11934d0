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
// The most pixels of an EXIF thumbnail that is turned with its picture. A thumbnail is a few
// hundred pixels a side (160 x 120 in the EXIF standard) within a block of at most 64 KB; one
// past this, or larger than its picture, is left out of the output's EXIF.
constexpr uint64_t kExifThumbnailPixelLimit = uint64_t{1} << 20;

// Makes an APP1 "Exif" payload describe the written picture: PixelXDimension and
// PixelYDimension of the Exif sub-IFD become width and height; when the pixels were turned
// upright for `orientation` (2 to 8), the IFD1 JPEG thumbnail is turned alike, whole, by the
// library's lossless transform (where that would drop a partial block group at an edge, by
// decoding, turning and encoding it again, which leaves the library's JPEG markers, comments
// and sampling to write at none and its defaults), or IFD1 is unlinked when it cannot be: a
// thumbnail over kExifThumbnailPixelLimit or `pictureArea` (the picture's pixels as loaded), one that cannot
// be turned or that no longer fits the block. Malformed parts are left alone. Returns why a
// thumbnail was left out, empty when none was.
std::string FitExifToOutput(std::vector<BYTE>& payload, int width, int height, int orientation,
                            uint64_t pictureArea = kExifThumbnailPixelLimit);
// The EXIF block an output carries: the APP1 payload ("Exif\0\0", then the TIFF structure) of
// the picture's kept block, upright when the pixels were turned and fitted to the written
// picture; empty when Keep EXIF is off or there is none. `note` receives why the thumbnail was
// left out, if it was.
std::vector<BYTE> ExifForOutput(const CMainDialog& dialog, std::string* note);
// Sets the library's JPEG marker and comment lists to write for the current picture: its kept
// EXIF block when asked (ExifForOutput), "sRGB Matched" after colour matching, then the source's
// comments that the output carries. Returns why the EXIF thumbnail was left out, if it was.
std::string SetJpegMetadataForOutput(const CMainDialog& dialog);
// Encodes the working picture as JPEG into the sink with this file's metadata and the sampling
// of the output page; the bytes written, 0 on failure. exifNote, when given, receives why the
// EXIF thumbnail was left out.
DWORD WriteWorkingJpeg(const CMainDialog& dialog, ISIOHandle sink, int quality, const ISResolution* density,
                       std::string* exifNote = nullptr);
