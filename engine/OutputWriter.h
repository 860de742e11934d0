// Helpers of the output writer (WriteOutputImage is a main-dialog member).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <qrv/imaging.h>

#include "engine/FileIdentity.h"
#include "platform/win32_types.h"

class CMainDialog;

// True when the file system reports a status for the path.
bool FileExists(const std::string& path);
// Appends one '*' to "qrvoutput.dir" in the folder (created when missing); errors are ignored.
void WriteOutputMarker(const std::string& folder);
// base + number + "_QRV" + extension; number 0 gives base + "_QRV" + extension.
std::string NumberedOutputName(const std::string& base, long long number, const std::string& extension);

// Where a finished output went: its path (empty when it could not be placed, with the errno),
// and whether the name first tried was one of the files to keep.
struct PlacedOutput {
  std::string path;
  int error = 0;
  bool sourceKept = false;
};
// Gives the finished temporary file its name in `folder` in one step, trying
// NumberedOutputName(base, n, extension) for n = first, next numbers... Without `replace` a
// name is taken only when it is free at that instant (another process may be writing the same
// folder), else the next number is tried. With `replace` an existing file is replaced unless it
// is one of `keep` (device and inode), which sends the output on to the numbered names as
// without replace. On failure the temporary file is removed.
PlacedOutput PlaceOutputFile(const std::string& temporary, const std::string& folder, const std::string& base,
                             const std::string& extension, long long first, bool replace,
                             const std::vector<FileIdentity>& keep);

// Sets the Orientation entry of IFD0 to 1 in an APP1 payload ("Exif\0\0" then a TIFF block);
// a block too short or malformed is left as it is.
void SetExifOrientationUpright(std::vector<BYTE>& payload);
// Makes an APP1 "Exif" payload describe the written picture: PixelXDimension and
// PixelYDimension of the Exif sub-IFD become width and height; when the pixels were turned
// upright for `orientation` (2 to 8), the IFD1 JPEG thumbnail is turned alike by the library's
// lossless transform, or IFD1 is unlinked when it cannot be. Malformed parts are left alone.
void FitExifToOutput(std::vector<BYTE>& payload, int width, int height, int orientation);
// Sets the library's JPEG marker and comment lists to write for the current picture: its kept
// EXIF block when asked (upright when the pixels were turned, fitted to the written picture),
// "sRGB Matched" after colour matching.
void SetJpegMetadataForOutput(const CMainDialog& dialog);
// Encodes the working picture as JPEG into the sink with this file's metadata and the sampling
// of the output page; the bytes written, 0 on failure.
DWORD WriteWorkingJpeg(const CMainDialog& dialog, ISIOHandle sink, int quality, const ISResolution* density);
