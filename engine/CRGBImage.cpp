// The picture object: loading by the format table (camera-RAW first for unlisted extensions),
// decoding through the library's readers, and writing through its writers.
#include "engine/CRGBImage.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/ErrorText.h"
#include "imaging/core/ISSizeMath.h"
#include "platform/global_memory.h"
#include "raw/raw_decoder.h"

const ImageFormatRow kImageFormatTable[kImageFormatRows] = {
    {IFF_UNKNOWN, 0, ""},    {IFF_BMP, 1, ".BMP"},  {IFF_GIF, 2, ".GIF"},   {IFF_JPEG, 3, ".JPG"},
    {IFF_JPEG, 3, ".JPEG"},  {IFF_PNG, 4, ".PNG"},  {IFF_PCX, 5, ".PCX"},   {IFF_TIFF, 6, ".TIF"},
    {IFF_TIFF, 6, ".TIFF"},  {IFF_WMF, 7, ".WMF"},  {IFF_EMF, 8, ".EMF"},   {IFF_PAX, 9, ".PAX"},
    {IFF_PSD, 10, ".PSD"},   {IFF_TGA, -1, ".TGA"},
};

namespace {

// Closes a library source or sink when the scope ends.
struct SourceCloser {
  ISIOHandle handle;
  ~SourceCloser() {
    if (handle) ISCloseSource(handle);
  }
};

// Why a file cannot be read at all, in the system's words; empty when it can be opened and holds
// data. *code receives the library's code for it.
std::string UnreadableFileReason(const std::string& path, int* code) {
  *code = IS_ERR_OPEN;
  // Non-blocking, so that a FIFO or a device does not hang the look.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::strerror(errno);
  struct stat status {};
  std::string reason;
  if (fstat(fd, &status) != 0) {
    reason = std::strerror(errno);
  } else if (S_ISDIR(status.st_mode)) {
    reason = std::strerror(EISDIR);
  } else if (S_ISREG(status.st_mode) && status.st_size == 0) {
    *code = IS_ERR_READ;
    reason = "the file is empty";
  }
  close(fd);
  return reason;
}

// The name of a detected file type that the format table has no reader for, where the file's
// own signature tells it; null for the others.
const char* UnreadTypeName(int type) {
  switch (type) {
    case IS_FT_GIF: return "GIF";
    case IS_FT_PAX: return "PAX";
    case IS_FT_JPEG2000:
    case IS_FT_J2K_CODESTREAM_AT4: return "JPEG 2000";
    case IS_FT_WEBP: return "WebP";
    case IS_FT_HEIF: return "HEIF";
    case IS_FT_AVIF: return "AVIF";
    case IS_FT_JPEGXL: return "JPEG XL";
    case IS_FT_OPENEXR: return "OpenEXR";
    case IS_FT_ICO: return "ICO";
    case IS_FT_RADIANCE: return "Radiance HDR";
    default: return nullptr;
  }
}

int DetectedFileType(const std::string& path) {
  ISIOHandle source = ISOpenFileSource(path.c_str());
  if (!source) return IS_FT_UNKNOWN;
  const int type = static_cast<int>(ISGuessFileType(source));
  ISCloseSource(source);
  return type;
}

int FormatOfFileType(int type) {
  for (const ImageFormatRow& row : kImageFormatTable) {
    if (row.fileType == type) return row.code;
  }
  return IFF_UNKNOWN;
}

// A number as said after "a" or "an": "an 8", "an 11", "a 64".
std::string WithArticle(uint64_t n) {
  const std::string digits = std::to_string(n);
  // Numbers said beginning "eight", "eleven" or "eighteen" take "an".
  const bool an = digits[0] == '8' ||
                  (digits.size() % 3 == 2 && (digits.compare(0, 2, "11") == 0 || digits.compare(0, 2, "18") == 0));
  return (an ? "an " : "a ") + digits;
}

// The first `count` bytes of a file in hexadecimal ("00 00 02 00"); empty when none can be read.
std::string FirstBytes(const std::string& path, size_t count) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::string();
  unsigned char bytes[16];
  const ssize_t got = read(fd, bytes, std::min(count, sizeof bytes));
  close(fd);
  std::string text;
  for (ssize_t i = 0; i < got; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    text += (i ? " " : "") + std::string(hex);
  }
  return text;
}

// A format's name as said after "a" or "an".
std::string WithArticle(const char* name) {
  const bool an = std::strchr("AEIOU", name[0]) != nullptr && std::strncmp(name, "JPEG", 4) != 0;
  return (an ? "an " : "a ") + std::string(name);
}

}  // namespace

std::string TiffPreviewSize(ISIOHandle source) {
  DWORD preview = 0, width = 0, height = 0;
  if (!source || !ISGetTIFFPreview(source, &preview, &width, &height) || !preview) return std::string();
  return WithArticle(width) + " x " + std::to_string(height);
}

int FormatFromExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return IFF_UNKNOWN;
  const std::string ext = path.substr(dot);
  for (const ImageFormatRow& row : kImageFormatTable) {
    if (strcasecmp(row.extension, ext.c_str()) == 0) return row.code;
  }
  return IFF_UNKNOWN;
}

int FormatFromFileContents(const std::string& path) { return FormatOfFileType(DetectedFileType(path)); }

bool IsCameraRawName(const std::string& name) {
  static constexpr const char* kRawExtensions[] = {
      ".3fr", ".ari", ".arw", ".bay", ".cr2", ".cr3", ".crw", ".dcr", ".dcs", ".dng", ".erf",
      ".fff", ".gpr", ".iiq", ".k25", ".kdc", ".mef", ".mos", ".mrw", ".nef", ".nrw", ".orf",
      ".pef", ".ptx", ".raf", ".raw", ".rw2", ".rwl", ".sr2", ".srf", ".srw", ".x3f"};
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  for (const char* ext : kRawExtensions)
    if (strcasecmp(name.c_str() + dot, ext) == 0) return true;
  return false;
}

const char* UnreadPictureFormat(const std::string& path) {
  const int type = DetectedFileType(path);
  if (const char* name = UnreadTypeName(type)) return name;
  // Extensions no other kind of file goes by; a file whose signature is unknown (a damaged one,
  // a brand the signatures do not list) is told by them.
  static constexpr struct {
    const char* extension;
    const char* name;
  } kUnreadExtensions[] = {{".heic", "HEIF"}, {".heif", "HEIF"},      {".hif", "HEIF"},
                           {".avif", "AVIF"}, {".webp", "WebP"},      {".jp2", "JPEG 2000"},
                           {".j2k", "JPEG 2000"}, {".jpf", "JPEG 2000"}, {".jpx", "JPEG 2000"},
                           {".jxl", "JPEG XL"}, {".exr", "OpenEXR"}};
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return nullptr;
  // A file whose signature names a format this build reads is not told by its name.
  if (FormatOfFileType(type) != IFF_UNKNOWN) return nullptr;
  for (const auto& row : kUnreadExtensions)
    if (strcasecmp(path.c_str() + dot, row.extension) == 0) return row.name;
  return nullptr;
}

std::string CRGBImage::ErrorText(int code) { return LibraryErrorText(static_cast<ISErrorCode>(code)); }

CRGBImage::~CRGBImage() { Free(); }

void CRGBImage::Free() {
  if (m_pixels) GlobalFree(m_pixels);
  m_pixels = nullptr;
  m_width = 0;
  m_height = 0;
  m_displayPalette.fill(RGBQUAD{0, 0, 0, 0});
  m_displayColours = 0;
  m_palettePending = false;
}

void CRGBImage::BuildDisplayPalette() const {
  if (!m_palettePending) return;
  m_palettePending = false;
  UINT colours = 0;
  if (m_pixels && ISBuildPalette(m_pixels, static_cast<DWORD>(m_width), static_cast<DWORD>(m_height),
                                 static_cast<DWORD>(m_width) * 3u, 256, m_displayPalette.data(), &colours, 0))
    m_displayColours = colours;
}

int CRGBImage::Allocate(std::pair<int, int> size) {
  Free();
  if (size.first < 0 || size.second < 0) return 1;
  const uint64_t bytes = static_cast<uint64_t>(size.first) * static_cast<uint64_t>(size.second) * 3u;
  if (bytes >= kGlobalAllocLimit) return 1;
  auto* block = static_cast<BYTE*>(GlobalAlloc(GPTR, bytes));
  if (!block) return 1;
  m_pixels = block;
  m_width = size.first;
  m_height = size.second;
  return 0;
}

int CRGBImage::Create(const BYTE* data, int width, int height) {
  Free();
  if (!data) return 1;
  if (Allocate({width, height}) != 0) return 1;
  std::memcpy(m_pixels, data, static_cast<size_t>(width) * static_cast<size_t>(height) * 3u);
  return 0;
}

int CRGBImage::CopyFrom(const CRGBImage& other) {
  if (&other == this) return 0;
  return Create(other.m_pixels, other.m_width, other.m_height);
}

BYTE* CRGBImage::LockPixels() {
  if (!m_pixels) return nullptr;
  ++m_lockCount;
  return m_pixels;
}

void CRGBImage::Adopt(HGLOBAL block, DWORD width, DWORD height) {
  Free();
  // A reader's block must hold the whole PackedRGB24 picture it reports; anything else is refused.
  const uint64_t need = static_cast<uint64_t>(width) * height * 3u;
  if (!block || width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
      GlobalSize(block) < need) {
    if (block) GlobalFree(block);
    return;
  }
  m_pixels = static_cast<BYTE*>(block);
  m_width = static_cast<int>(width);
  m_height = static_cast<int>(height);
}

int CRGBImage::Load(const std::string& path) {
  m_loadWarning.clear();
  m_metadata.Clear();
  int code = FormatFromExtension(path);
  if (code == IFF_UNKNOWN) {
    // Not a listed extension: offer the file to the camera-RAW decoder first.
    ISIOCallbackTable* table = ISGetIOCallbackTable(nullptr);
    set_raw_context(table);
    if (table) GlobalFree(table);
    ISIOHandle source = ISOpenFileSource(path.c_str());
    DWORD width = 0, height = 0;
    HGLOBAL block = decode_raw(source, &width, &height, 24, 0.6, 1.0, 1.0, 1.0, RAW_FLAG_FOUR_COLOUR_RGB);
    if (source) ISCloseSource(source);
    raw_message_sink();
    if (block) {
      Adopt(block, width, height);
      m_palettePending = true;
      return static_cast<int>(ISGetLastError());
    }
    const int type = DetectedFileType(path);
    code = FormatOfFileType(type);
    const int error = LoadAs(path, code);
    if (error == 0 && !m_pixels && m_loadWarning.empty()) {
      // No reader: the refusal says what the file holds, as it does under any other name.
      if (const char* name = UnreadTypeName(type))
        m_loadWarning = std::string("the file holds ") + WithArticle(name) + " picture, which this build does not read";
    }
    int openError = 0;
    if (!m_pixels && IsCameraRawName(path) && !UnreadTypeName(type) &&
        UnreadableFileReason(path, &openError).empty()) {
      // What the TIFF reader, or no reader, found in a camera's RAW file says less than this.
      m_loadWarning = "camera RAW file: RAW decoding is not part of this build";
      return 0;
    }
    if (error == 0 && code == IFF_TIFF && m_pixels) {
      // The RAW data was not decoded; a first directory that holds only the camera's preview
      // is no picture to correct in its place.
      ISIOHandle tiff = ISOpenFileSource(path.c_str());
      SourceCloser closer{tiff};
      const std::string preview = TiffPreviewSize(tiff);
      if (!preview.empty()) {
        Free();
        m_loadWarning =
            "camera RAW data is not decoded in this build; the file's readable picture is " + preview + " preview";
      }
    }
    return error;
  }
  const int error = LoadAs(path, code);
  if (m_pixels || (error == 0 && !m_loadWarning.empty())) return error;
  // The extension's reader refused the file, or the format has no reader. A file of another
  // format under a wrong name is read as what it is when the table has a reader for that
  // format; the refusal says what the file is when its signature names a format without one,
  // in the same words whatever the file's name (and with no reader's code).
  const int type = DetectedFileType(path);
  const int actual = FormatOfFileType(type);
  const char* name = UnreadTypeName(type);
  if (type == IS_FT_TGA) {
    // TGA is read by its extension only.
    if (code != IFF_TGA) m_loadWarning = "the file holds a TGA picture, which is read only under a .tga name";
  } else if (name) {
    m_loadWarning = std::string("the file holds ") + WithArticle(name) + " picture, which this build does not read";
    return 0;
  } else if (actual != IFF_UNKNOWN && actual != code) {
    const std::string refusal = m_loadWarning;
    const int again = LoadAs(path, actual);
    // Under the name of a format without a reader, the content's reader has the last word.
    if (m_pixels || error == 0) return again;
    Free();
    m_loadWarning = refusal;
  } else if (actual == IFF_UNKNOWN && error != 0 && m_loadWarning.empty()) {
    // A reader that said no more than its code: what the file begins with.
    const std::string head = FirstBytes(path, 4);
    if (!head.empty()) m_loadWarning = "the file begins " + head + ", the start of no picture format this build knows";
  }
  return error;
}

int CRGBImage::LoadAs(const std::string& path, int format) {
  Free();
  m_loadWarning.clear();
  m_metadata.Clear();
  m_exifBlock.clear();
  m_jpegComment.clear();
  int error = 0;
  // A file that cannot be read at all says why in the system's words.
  const std::string unreadable = UnreadableFileReason(path, &error);
  if (!unreadable.empty()) {
    m_loadWarning = unreadable;
    return error;
  }
  error = 0;
  if (format == IFF_WMF || format == IFF_EMF) {
    // Metafiles are played into a picture; the requested size serves files without their own.
    DWORD width = 0, height = 0;
    HGLOBAL block = ISReadMetafile(path.c_str(), &width, &height, 300, 300, 0x808080, 0);
    if (!block) return Refused();
    m_loadWarning = ISGetLastWarning();  // a drawing cut short is kept, with the reason
    Adopt(block, width, height);
  } else {
    ISIOHandle source = ISOpenFileSource(path.c_str());
    if (!source) return static_cast<int>(ISGetLastError());
    SourceCloser closer{source};
    error = DecodeFrom(source, format);
  }
  if (error == 0) m_palettePending = true;
  return error;
}

void CRGBImage::TakeExifBlockOfLastRead() {
  m_exifBlock.clear();
  HGLOBAL data = nullptr;
  DWORD length = 0;
  if (!ISGetReadMetadata(IS_META_EXIF, &data, &length) || !data) return;
  // Kept as a JPEG marker record: four leading bytes, then the payload.
  const BYTE* bytes = static_cast<const BYTE*>(data);
  m_exifBlock.assign(4, 0);
  m_exifBlock.insert(m_exifBlock.end(), bytes, bytes + length);
  GlobalFree(data);
}

int CRGBImage::DecodeFrom(ISIOHandle source, int format) {
  DWORD width = 0, height = 0;
  HGLOBAL block = nullptr;
  switch (format) {
    case IFF_JPEG: {
      DWORD bits = 0, colourSpace = 0, coding = 0;
      ISResolution density{};
      if (!ISGetJPGInfo(source, &width, &height, &bits, &density, &colourSpace, &coding)) return Refused();
      ISSetJPGReadScale(1, 1);
      ISSeekSource(source, 0, IS_SEEK_SET);
      block = ISReadJPG(source, &width, &height, 24, 0);
      const ISErrorCode error = ISGetLastError();
      const std::string warning = ISGetLastWarning();
      ISSetJPGReadScale(1, 1);
      if (!block) {
        m_loadWarning = warning;
        return static_cast<int>(error);
      }
      // The first comment of the read, and its EXIF block (its APP1 "Exif" segments joined).
      m_jpegComment.clear();
      if (ISGetJPGCommentCount() > 0) {
        if (HGLOBAL text = ISGetJPGComment(0)) {
          const char* chars = static_cast<const char*>(text);
          m_jpegComment.assign(chars, strnlen(chars, GlobalSize(text)));
          GlobalFree(text);
        }
      }
      TakeExifBlockOfLastRead();
      m_metadata.TakeFromLastRead();
      m_metadata.TakeJpegComments();
      Adopt(block, width, height);
      m_loadWarning = warning;
      return 0;
    }
    case IFF_PNG: block = ISReadPNG(source, &width, &height, 24, nullptr, 0); break;
    case IFF_BMP: block = ISReadBMP(source, &width, &height, 24, nullptr, 0); break;
    case IFF_PCX: block = ISReadPCX(source, &width, &height, 24, nullptr, 0); break;
    case IFF_TGA: block = ISReadTGA(source, &width, &height, 24, nullptr, 0); break;
    case IFF_PSD: block = ISReadPSD(source, &width, &height, 24, nullptr, 0); break;
    case IFF_TIFF: {
      DWORD bits = 0;
      ISResolution density{};
      if (!ISGetTIFFInfo(source, 0, &width, &height, &bits, &density)) return Refused();
      ISSeekSource(source, 0, IS_SEEK_SET);
      block = ISReadTIFF(source, &width, &height, 24, nullptr, 0, 0);
      break;
    }
    default: return static_cast<int>(ISGetLastError());  // no reader: an empty picture
  }
  if (!block) return Refused();
  m_loadWarning = ISGetLastWarning();
  if (format == IFF_PNG || format == IFF_PSD || format == IFF_TIFF || format == IFF_BMP) {
    m_metadata.TakeFromLastRead();
    TakeExifBlockOfLastRead();
  }
  m_metadata.uprightOnRead = format == IFF_TIFF;
  Adopt(block, width, height);
  return 0;
}

int CRGBImage::Save(const std::string& path, int format) {
  if (!m_pixels) return static_cast<int>(IS_ERR_BADPARAM);
  ISIOHandle sink = ISOpenFileSink(path.c_str(), 0);
  if (!sink) return static_cast<int>(ISGetLastError());
  if (format == IFF_JPEG) {
    ISSetJPGDCTMethod(1);  // accurate integer transform
    m_density = ISResolution{1, 1, 0};
  }
  const DWORD written = WriteTo(sink, format);
  ISErrorCode error = written ? 0 : ISGetLastError();
  if (!written && error == 0) error = IS_ERR_WRITE;
  if (ISCloseSink(sink) == 0 && error == 0) error = ISGetLastError() ? ISGetLastError() : IS_ERR_WRITE;
  return static_cast<int>(error);
}

DWORD CRGBImage::WriteTo(ISIOHandle sink, int format) {
  BYTE* pixels = LockPixels();
  if (!pixels) return 0;
  const DWORD w = static_cast<DWORD>(m_width), h = static_cast<DWORD>(m_height);
  DWORD result = 0;
  switch (format) {
    case IFF_JPEG:
      ISSetJPGSampling(nullptr, nullptr);
      result = ISWriteJPG(sink, pixels, w, h, static_cast<DWORD>(m_jpegQuality), 24, &m_density, 0);
      break;
    case IFF_PNG: result = ISWritePNG(sink, pixels, w, h, w * 3, 8, 0, nullptr, 2, 0.0, nullptr, 0); break;
    case IFF_BMP: result = ISWriteBMP(sink, pixels, w, h, 24, 0x1000000, nullptr, nullptr, 0); break;
    case IFF_PCX: result = ISWritePCX(sink, pixels, w, h, 24, nullptr, 0); break;
    case IFF_TGA: result = ISWriteTGA(sink, pixels, w, h, 24, nullptr, 0); break;
    case IFF_PSD: result = ISWritePSD(sink, pixels, w, h, 24, nullptr, 0); break;
    case IFF_TIFF: result = ISWriteTIFF(sink, pixels, w, h, 24, nullptr, 1, nullptr, 0); break;
    case IFF_WMF: result = ISWriteWMF(sink, pixels, w, h, 1); break;
    case IFF_EMF: result = ISWriteEMF(sink, pixels, w, h); break;
    case IFF_JPEG_GREY:
    case IFF_PNG_GREY:
    case IFF_BMP_GREY:
    case IFF_PCX_GREY:
    case IFF_TIFF_GREY:
    case IFF_TGA_GREY: result = WriteGrey(sink, format, pixels); break;
    case IFF_PNG_INDEXED:
    case IFF_BMP_INDEXED:
    case IFF_PCX_INDEXED:
    case IFF_TIFF_INDEXED:
    case IFF_TGA_INDEXED: result = WriteIndexed(sink, format, pixels); break;
    default: break;  // GIF, PAX and unknown codes have no writer
  }
  UnlockPixels();
  return result;
}

namespace {

// Writes one-byte-per-pixel rows with their 256-entry palette in the format of an indexed or
// grey code.
DWORD WriteEightBit(ISIOHandle sink, int format, const BYTE* rows, DWORD w, DWORD h, const RGBQUAD* palette) {
  switch (format) {
    case IFF_PNG_INDEXED:
    case IFF_PNG_GREY: return ISWritePNG(sink, rows, w, h, w, 8, 256, palette, 3, 0.0, nullptr, 0);
    case IFF_BMP_INDEXED:
    case IFF_BMP_GREY: return ISWriteBMP(sink, rows, w, h, 8, 256, palette, nullptr, 0);
    case IFF_PCX_INDEXED:
    case IFF_PCX_GREY: return ISWritePCX(sink, rows, w, h, 8, palette, 0);
    case IFF_TIFF_INDEXED:
    case IFF_TIFF_GREY: return ISWriteTIFF(sink, rows, w, h, 8, palette, 1, nullptr, 0);
    case IFF_TGA_INDEXED:
    case IFF_TGA_GREY: return ISWriteTGA(sink, rows, w, h, 8, palette, 0);
    default: return 0;
  }
}

// One byte per pixel for the whole picture; empty when the memory cannot be had.
std::vector<BYTE> ByteRows(DWORD w, DWORD h) {
  std::vector<BYTE> rows;
  try {
    rows.resize(static_cast<size_t>(w) * h);
  } catch (const std::bad_alloc&) {
    rows.clear();
  }
  return rows;
}

}  // namespace

DWORD CRGBImage::WriteIndexed(ISIOHandle sink, int format, const BYTE* pixels) {
  const DWORD w = static_cast<DWORD>(m_width), h = static_cast<DWORD>(m_height);
  std::vector<BYTE> indices = ByteRows(w, h);
  if (indices.empty()) return 0;
  RGBQUAD palette[256] = {};
  // Floyd-Steinberg diffusion with the quantizer's usual error bound.
  if (!ISReduceColors(pixels, w, h, w * 3, indices.data(), w, 256, palette, 1, 20, 0)) return 0;
  return WriteEightBit(sink, format, indices.data(), w, h, palette);
}

DWORD CRGBImage::WriteGrey(ISIOHandle sink, int format, const BYTE* pixels) {
  const DWORD w = static_cast<DWORD>(m_width), h = static_cast<DWORD>(m_height);
  std::vector<BYTE> grey = ByteRows(w, h);
  if (grey.empty()) return 0;
  if (!ISConvertRGBToGray(pixels, w, h, 3, w * 3, grey.data(), w, 0)) return 0;
  RGBQUAD ramp[256];
  for (int i = 0; i < 256; ++i) {
    const BYTE v = static_cast<BYTE>(i);
    ramp[i] = RGBQUAD{v, v, v, 0};
  }
  if (format == IFF_JPEG_GREY)
    return ISWriteJPG(sink, grey.data(), w, h, static_cast<DWORD>(m_jpegQuality), 8, &m_density, 0);
  return WriteEightBit(sink, format, grey.data(), w, h, ramp);
}
