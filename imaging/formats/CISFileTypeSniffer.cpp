// The signature table and the detection steps behind ISGuessFileType.
#include "imaging/formats/CISFileTypeSniffer.h"

#include <strings.h>

#include <cstring>
#include <string>

const ISFileSignature kFileSignatures[26] = {
    {IS_FT_BMP, 0, 2, "BM"},
    {IS_FT_PAX, 0, 3, "PAX"},
    {IS_FT_GIF, 0, 6, "GIF89a"},
    {IS_FT_GIF, 0, 6, "GIF87a"},
    {IS_FT_JPEG, 0, 4, "\xFF\xD8\xFF\xE0"},
    {IS_FT_JPEG, 0, 3, "\xFF\xD8\xFF"},
    {IS_FT_PCX, 0, 2, "\x0A\x00"},
    {IS_FT_PCX, 0, 2, "\x0A\x02"},
    {IS_FT_PCX, 0, 2, "\x0A\x03"},
    {IS_FT_PCX, 0, 2, "\x0A\x05"},
    {IS_FT_TIFF, 0, 2, "MM"},
    {IS_FT_TIFF, 0, 2, "II"},
    {IS_FT_PNG, 0, 8, "\x89PNG\r\n\x1A\n"},
    {IS_FT_WMF, 0, 5, "\x01\x00\x09\x00\x00"},
    {IS_FT_WMF, 0, 4, "\xD7\xCD\xC6\x9A"},
    {IS_FT_EMF, 40, 4, " EMF"},
    {IS_FT_PSD, 0, 4, "8BPS"},
    {IS_FT_TLA, 0, 4, "TLA\x01"},
    {IS_FT_TLAU, 0, 4, "TLAU"},
    {IS_FT_PCD_OVERVIEW, 0, 7, "PCD_OPA"},
    {IS_FT_JPEG2000, 4, 5, "jP  \r"},
    {IS_FT_JPEG2000, 0, 2, "\xFF\x4F"},
    {IS_FT_J2K_CODESTREAM_AT4, 4, 2, "\xFF\x4F"},
    {IS_FT_WBMP, 0, 2, "\x00\x00"},
    {IS_FT_TGA, 0, 0, ""},  // TGA has no signature: extension or footer only
    {IS_FT_OLE, 0, 4, "\xD0\xCF\x11\xE0"},
};

// ISO base media files name their brand after "ftyp" at 4; the box length before it begins
// with two zero bytes, as ICO's reserved word does, so these rows must come before WBMP's.
const ISFileSignature kLaterFileSignatures[16] = {
    {IS_FT_WEBP, 8, 7, "WEBPVP8"},  // "RIFF", length, "WEBP" and the first chunk: VP8, VP8L or VP8X
    {IS_FT_AVIF, 4, 8, "ftypavif"},
    {IS_FT_AVIF, 4, 8, "ftypavis"},
    {IS_FT_HEIF, 4, 8, "ftypheic"},
    {IS_FT_HEIF, 4, 8, "ftypheix"},
    {IS_FT_HEIF, 4, 8, "ftyphevc"},
    {IS_FT_HEIF, 4, 8, "ftyphevx"},
    {IS_FT_HEIF, 4, 8, "ftypheim"},
    {IS_FT_HEIF, 4, 8, "ftypheis"},
    {IS_FT_HEIF, 4, 8, "ftypmif1"},
    {IS_FT_JPEGXL, 0, 12, "\x00\x00\x00\x0CJXL \r\n\x87\n"},
    {IS_FT_JPEGXL, 0, 2, "\xFF\x0A"},
    {IS_FT_OPENEXR, 0, 4, "\x76\x2F\x31\x01"},
    {IS_FT_ICO, 0, 4, "\x00\x00\x01\x00"},
    {IS_FT_RADIANCE, 0, 10, "#?RADIANCE"},
    {IS_FT_RADIANCE, 0, 6, "#?RGBE"},
};

namespace {

ISFileType MatchRow(const ISFileSignature* rows, size_t count, const unsigned char* head, uint32_t got) {
  for (size_t i = 0; i < count; ++i) {
    const ISFileSignature& row = rows[i];
    if (row.length == 0 || got < row.offset + row.length) continue;
    if (std::memcmp(head + row.offset, row.bytes, row.length) == 0) return row.type;
  }
  return IS_FT_UNKNOWN;
}

}  // namespace

ISFileType FileTypeFromExtension(CISIO& source) {
  ISIOHandle h = source.Handle();
  if (!h || h->kind != kIOFile || h->path.empty()) return IS_FT_UNKNOWN;
  const size_t dot = h->path.rfind('.');
  if (dot == std::string::npos) return IS_FT_UNKNOWN;
  const char* ext = h->path.c_str() + dot;
  if (strcasecmp(ext, ".wbmp") == 0 || strcasecmp(ext, ".wbm") == 0) return IS_FT_WBMP;
  if (strcasecmp(ext, ".tga") == 0) return IS_FT_TGA;
  return IS_FT_UNKNOWN;
}

ISFileType CISFileTypeSniffer::Detect(CISIO& source) {
  unsigned char head[44] = {};
  const uint32_t got = source.Read(head, sizeof head);
  if (got == 0) {
    error = IS_ERR_READ;
    return IS_FT_UNKNOWN;
  }

  ISFileType result = MatchRow(kFileSignatures, 26, head, got);
  if (result != IS_FT_UNKNOWN && result != IS_FT_WBMP) return result;

  const ISFileType byName = FileTypeFromExtension(source);
  if (byName == IS_FT_TGA) return IS_FT_TGA;
  if (byName == IS_FT_WBMP) {
    result = IS_FT_WBMP;
  } else {
    const ISFileType later = MatchRow(kLaterFileSignatures, 16, head, got);
    if (later != IS_FT_UNKNOWN) return later;
    unsigned char footer[18] = {};
    if (!source.Seek(-18, IS_SEEK_END) || source.Read(footer, sizeof footer) == 0) {
      error = IS_ERR_READ;
      return IS_FT_UNKNOWN;
    }
    if (std::memcmp(footer, "TRUEVISION-XFILE.", 17) == 0) return IS_FT_TGA;
  }
  if (result != IS_FT_UNKNOWN) return result;

  // Photo CD: "PCD" at 2048. A source too short for the probe is simply not one.
  if (!source.Seek(2048, IS_SEEK_SET)) return IS_FT_UNKNOWN;
  unsigned char pcd[3] = {};
  if (!source.ReadExact(pcd, sizeof pcd)) return IS_FT_UNKNOWN;
  return std::memcmp(pcd, "PCD", 3) == 0 ? IS_FT_PHOTOCD : IS_FT_UNKNOWN;
}
