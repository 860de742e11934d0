// The application's picture object: a PackedRGB24 buffer in global memory (rows top-down, bytes
// R, G, B) with its size, the JPEG options, and the JPEG comment and EXIF block of the file it
// came from. It turns file names into pixels through the imaging library (camera-RAW files
// through the RAW decoder first) and pixels into files.
#pragma once

#include <qrv/imaging.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "engine/ExifSummary.h"
#include "engine/OutputMetadata.h"

// The application's format codes.
enum ImageFileFormat : int {
  IFF_UNKNOWN = 0,
  IFF_JPEG = 1,
  IFF_JPEG_GREY = 2,
  IFF_PNG = 3,
  IFF_PNG_INDEXED = 4,
  IFF_PNG_GREY = 5,
  IFF_BMP = 6,
  IFF_BMP_INDEXED = 7,
  IFF_BMP_GREY = 8,
  IFF_PCX = 9,
  IFF_PCX_INDEXED = 10,
  IFF_PCX_GREY = 11,
  IFF_TIFF = 12,
  IFF_TIFF_INDEXED = 13,
  IFF_TIFF_GREY = 14,
  IFF_GIF = 15,
  IFF_TGA = 16,
  IFF_TGA_INDEXED = 17,
  IFF_TGA_GREY = 18,
  IFF_WMF = 19,
  IFF_EMF = 20,
  IFF_PAX = 21,
  IFF_PSD = 22,
};

// One row of the format table.
struct ImageFormatRow {
  int code;
  int fileType;  // ISFileType id; -1 matches no detected type
  const char* extension;
};
constexpr int kImageFormatRows = 14;
extern const ImageFormatRow kImageFormatTable[kImageFormatRows];

// The code of the first row whose extension equals the path's text from its last "." on (case
// ignored); 0 when the path has no "." or no row matches.
int FormatFromExtension(const std::string& path);
// The code of the first row whose type is the file's detected type; 0 when the file cannot be
// opened or its type is not in the table.
int FormatFromFileContents(const std::string& path);

// True when the name ends in the extension of a camera-RAW format (".nef", ".CR2"...), which
// this build does not decode.
bool IsCameraRawName(const std::string& name);
// The format of a picture that this build does not read ("HEIF", "WebP", "JPEG 2000"...): by the
// file's signature, else by its extension; null for a file that is no such picture. Only the
// first bytes of the file are read.
const char* UnreadPictureFormat(const std::string& path);

// When the first directory of the TIFF data behind `source` holds only a preview of the
// file's picture (it is marked reduced-resolution, or another directory of the file, in the
// chain or among the sub-directories, holds a larger picture; transparency masks do not
// count), the preview's size with its article, "an 8 x 8"; empty otherwise, also for data
// that is not TIFF.
std::string TiffPreviewSize(ISIOHandle source);

class CRGBImage {
 public:
  CRGBImage() = default;
  virtual ~CRGBImage();
  CRGBImage(const CRGBImage&) = delete;
  CRGBImage& operator=(const CRGBImage&) = delete;

  void Free();
  // Error code: 0 on success, 1 when the allocation fails (or data is null for Create).
  int Allocate(std::pair<int, int> size);
  int Create(const BYTE* data, int width, int height);
  int CopyFrom(const CRGBImage& other);

  BYTE* LockPixels();
  void UnlockPixels() { --m_lockCount; }
  int GetWidth() const { return m_width; }
  int GetHeight() const { return m_height; }
  std::pair<int, int> GetSize() const { return {m_width, m_height}; }

  // Library error codes (0 on success). Load reads by the extension's format; when that reader
  // refuses the file and its content is another format the table reads, it reads that.
  int Load(const std::string& path);
  int LoadAs(const std::string& path, int format);
  int Save(const std::string& path, int format);
  // The writer's result: for JPEG the bytes written, for the other formats non-zero on success;
  // 0 on failure (the library's last error tells why).
  DWORD WriteTo(ISIOHandle sink, int format);

  // Fills the EXIF summary from an EXIF block (see CExifSummary::ReadExif).
  BOOL ReadExif(const BYTE* block, DWORD length) { return m_exif.ReadExif(block, length); }
  // The message text of a library error code.
  static std::string ErrorText(int code);

  const std::string& JpegComment() const { return m_jpegComment; }
  // What the last load has to say: after a successful one, about damaged data (the file ended
  // early or was corrupt, and the picture holds what could be decoded); after a failed one, why
  // the file was refused when that is known (the system's words for a file that cannot be
  // opened, an empty file, what a file under a wrong extension holds). A camera-RAW file whose
  // only readable picture is the camera's preview loads as an empty picture with result 0, and
  // this says so. Empty otherwise.
  const std::string& LoadWarning() const { return m_loadWarning; }
  const std::vector<BYTE>& ExifBlock() const { return m_exifBlock; }
  // The colour profile, IPTC record and XMP packets of the last file loaded (JPEG, PNG, TIFF or
  // PSD), and why any of them was left out on reading.
  const SourceMetadata& Metadata() const { return m_metadata; }
  int LockCount() const { return m_lockCount; }
  // The palette chosen for the last loaded picture (unused entries black) and its colour count.
  // Nothing in a run shows it, so it is chosen on the first ask after a load, from the pixels
  // as they are then.
  const std::array<RGBQUAD, 256>& DisplayPalette() const {
    BuildDisplayPalette();
    return m_displayPalette;
  }
  UINT DisplayColours() const {
    BuildDisplayPalette();
    return m_displayColours;
  }

  int m_jpegQuality = 75;
  CExifSummary m_exif;
  ISResolution m_density{1, 1, 0};

 private:
  int DecodeFrom(ISIOHandle source, int format);
  // Takes the EXIF block the last read kept (IS_META_EXIF), or none.
  void TakeExifBlockOfLastRead();
  // The error of the library call that just failed, keeping its reason as the load warning.
  int Refused() {
    m_loadWarning = ISGetLastWarning();
    return static_cast<int>(ISGetLastError());
  }
  void Adopt(HGLOBAL block, DWORD width, DWORD height);
  DWORD WriteGrey(ISIOHandle sink, int format, const BYTE* pixels);
  DWORD WriteIndexed(ISIOHandle sink, int format, const BYTE* pixels);
  // Chooses the display palette when a load asked for one and it is not chosen yet.
  void BuildDisplayPalette() const;

  std::string m_jpegComment;
  std::string m_loadWarning;
  int m_width = 0;
  int m_height = 0;
  BYTE* m_pixels = nullptr;  // global memory
  int m_lockCount = 0;
  mutable std::array<RGBQUAD, 256> m_displayPalette{};
  mutable UINT m_displayColours = 0;
  mutable bool m_palettePending = false;  // loaded, palette not chosen yet
  // The EXIF block of the last read, as a JPEG marker record (four leading bytes, then the APP1
  // payload: "Exif\0\0", a TIFF header and its directories), whole when the file split it.
  std::vector<BYTE> m_exifBlock;
  SourceMetadata m_metadata;
};
