// Helpers of the output writer (WriteOutputImage is a main-dialog member).
#pragma once

#include <string>
#include <vector>

#include <qrv/imaging.h>

#include "platform/win32_types.h"

class CMainDialog;

// True when the file system reports a status for the path.
bool FileExists(const std::string& path);
// Appends one '*' to "qrvoutput.dir" in the folder (created when missing); errors are ignored.
void WriteOutputMarker(const std::string& folder);
// Sets the Orientation entry of IFD0 to 1 in an APP1 payload ("Exif\0\0" then a TIFF block);
// a block too short or malformed is left as it is.
void SetExifOrientationUpright(std::vector<BYTE>& payload);
// Sets the library's JPEG marker and comment lists to write for the current picture: its kept
// EXIF block when asked (upright when the pixels were turned), "sRGB Matched" after colour matching.
void SetJpegMetadataForOutput(const CMainDialog& dialog);
// Encodes the working picture as JPEG into the sink with this file's metadata and the sampling
// of the output page; the bytes written, 0 on failure.
DWORD WriteWorkingJpeg(const CMainDialog& dialog, ISIOHandle sink, int quality, const ISResolution* density);
