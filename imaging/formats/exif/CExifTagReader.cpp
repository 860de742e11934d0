// The application's own EXIF reader: the tag table, the search for the segment in a file and
// the walk over IFD0, the IFDs chained after it, the Exif sub-IFD and the interoperability IFD.
// Bad input is refused (false) or read as far as it goes; nothing is read outside the block.
#include "imaging/formats/exif/CExifTagReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "imaging/core/ISSizeMath.h"

namespace {

struct TagName {
  WORD tag;
  const char* name;
};

// Every tag the reader renders, in tag order, with its display name. Duplicate names belong
// to the TIFF/EP tag (0x92xx) and the EXIF tag (0xA2xx) of the same meaning; each tag number
// keeps its own record whichever IFD it comes from.
constexpr TagName kTagNames[CExifTagReader::kTagCount] = {
    {0x0001, "InteroperabilityIndex"},
    {0x0002, "Interoperability Version"},
    {0x00FE, "New Subfile Type"},
    {0x00FF, "Subfile Type"},
    {0x0100, "ImageWidth"},
    {0x0101, "ImageLength"},
    {0x0102, "BitsPerSample"},
    {0x0103, "Compression"},
    {0x0106, "PhotometricInterpretation"},
    {0x010E, "ImageDescription"},
    {0x010F, "Make"},
    {0x0110, "Model"},
    {0x0111, "Strip Offsets"},
    {0x0112, "Orientation"},
    {0x0115, "Samples Per Pixel"},
    {0x0116, "Rows Per Strip"},
    {0x0117, "Strip Byte Conunts"},
    {0x011A, "X Res"},
    {0x011B, "Y Res"},
    {0x011C, "Planar Configuration"},
    {0x0128, "Resolution Unit"},
    {0x012D, "Transfer Function"},
    {0x0131, "Software"},
    {0x0132, "Date & Time"},
    {0x013B, "Artist"},
    {0x013D, "Predictor"},
    {0x013E, "WhitePoint"},
    {0x013F, "Primary Chromaticities"},
    {0x0142, "Tile Width"},
    {0x0143, "Tile Length"},
    {0x0144, "Tile Offsets"},
    {0x0145, "Tile ByteCounts"},
    {0x014A, "Sub IFDs"},
    {0x015B, "JPEGT ables"},
    {0x0201, "Jpeg IF Offset"},
    {0x0202, "Jpeg IF Byte Count"},
    {0x0211, "YCbCr Coefficients"},
    {0x0212, "YCbCr SubSampling"},
    {0x0213, "YCbCr Positioning"},
    {0x0214, "Reference Black White"},
    {0x828D, "CFA Repeat Pattern Dim"},
    {0x828E, "CFA Pattern"},
    {0x828F, "Battery Level"},
    {0x8298, "Copyright"},
    {0x829A, "Exposure Time"},
    {0x829D, "F Number"},
    {0x83BB, "IPTC/NAA"},
    {0x8769, "Exif Offset"},
    {0x8773, "Inter ColorProfile"},
    {0x8822, "Exposure Program"},
    {0x8824, "Spectral Sensitivity"},
    {0x8825, "GPS Info"},
    {0x8827, "ISO Speed"},
    {0x8828, "OECF"},
    {0x8829, "Interlace"},
    {0x882A, "Time Zone Offset"},
    {0x882B, "Self Timer"},
    {0x9000, "Exif Version"},
    {0x9003, "Date & Time Original"},
    {0x9004, "Date & Time"},
    {0x9101, "Component Configuration"},
    {0x9102, "Compressed BitsPerPixel"},
    {0x9201, "Shutter Speed"},
    {0x9202, "Aperture"},
    {0x9203, "Brightness"},
    {0x9204, "Bias"},
    {0x9205, "Max Aperture"},
    {0x9206, "Subject Distance"},
    {0x9207, "Metering Mode"},
    {0x9208, "Light Source"},
    {0x9209, "Flash"},
    {0x920A, "Focal Length"},
    {0x920B, "Flash Energy"},
    {0x920C, "Spatial Frequency Response"},
    {0x920D, "Noise"},
    {0x9211, "Image Number"},
    {0x9212, "Security Classification"},
    {0x9213, "Image History"},
    {0x9214, "Subject Location"},
    {0x9215, "Exposure Index"},
    {0x9216, "TIFF/EPStandardID"},
    {0x927C, "Maker Note"},
    {0x9286, "User Comment"},
    {0x9290, "SubSec Time"},
    {0x9291, "SubSec Time Original"},
    {0x9292, "Sub Sec Time Digitized"},
    {0xA000, "Flash Pix Version"},
    {0xA001, "ColorSpace"},
    {0xA002, "Exif Image Width"},
    {0xA003, "Exif Image Height"},
    {0xA004, "Related Sound File"},
    {0xA005, "Exif Interoperability Offset"},
    {0xA20B, "Flash Energy"},
    {0xA20C, "Spatial Frequency Response"},
    {0xA20E, "Focal Plane X"},
    {0xA20F, "Focal Plane Y"},
    {0xA210, "FocalPlaneResolutionUnit"},
    {0xA214, "Subject Location"},
    {0xA215, "Exposure Index"},
    {0xA217, "Sensing Method"},
    {0xA300, "File Source"},
    {0xA301, "Scene Type"},
    {0xA302, "CFA Pattern"},
};

constexpr bool TableIsSortedAndFits() {
  for (int i = 0; i < CExifTagReader::kTagCount; ++i) {
    if (i > 0 && kTagNames[i - 1].tag >= kTagNames[i].tag) return false;
    size_t len = 0;
    while (kTagNames[i].name[len] != '\0') ++len;
    if (len + 1 > CExifTagReader::kNameSize) return false;
  }
  return true;
}
static_assert(TableIsSortedAndFits(), "tags ascend and every name fits its record");

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

constexpr size_t kSearchWindow = 100;  // bytes of the file searched for the segment

}  // namespace

CExifTagReader::CExifTagReader() { InitTagTable(); }

CExifTagReader::~CExifTagReader() = default;

int CExifTagReader::FindTagRecord(WORD tag) {
  const TagName* end = kTagNames + kTagCount;
  const TagName* it = std::lower_bound(kTagNames, end, tag, [](const TagName& t, WORD v) { return t.tag < v; });
  return it != end && it->tag == tag ? static_cast<int>(it - kTagNames) : -1;
}

WORD CExifTagReader::RecordTag(int index) {
  return index >= 0 && index < kTagCount ? kTagNames[index].tag : 0;
}

size_t CExifTagReader::TypeSize(WORD type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;  // BYTE ASCII SBYTE UNDEFINED
    case 3: case 8: return 2;                  // SHORT SSHORT
    case 4: case 9: case 11: return 4;         // LONG SLONG FLOAT
    case 5: case 10: case 12: return 8;        // RATIONAL SRATIONAL DOUBLE
    default: return 0;
  }
}

void CExifTagReader::InitTagTable() {
  for (int i = 0; i < kTagCount; ++i) {
    ExifTagRecord& r = m_Tags[i];
    r.found = 0;
    std::memset(r.name, 0, sizeof r.name);
    std::memcpy(r.name, kTagNames[i].name, std::strlen(kTagNames[i].name));
    r.value[0] = '\0';
  }
}

WORD CExifTagReader::Get16(size_t pos) const {
  const BYTE* p = m_Copy.data() + pos;
  return m_ByteOrder == 0 ? static_cast<WORD>(p[0] | (p[1] << 8)) : static_cast<WORD>((p[0] << 8) | p[1]);
}

DWORD CExifTagReader::Get32(size_t pos) const {
  const BYTE* p = m_Copy.data() + pos;
  if (m_ByteOrder == 0)
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
  return (static_cast<DWORD>(p[0]) << 24) | (static_cast<DWORD>(p[1]) << 16) | (static_cast<DWORD>(p[2]) << 8) |
         static_cast<DWORD>(p[3]);
}

BOOL CExifTagReader::ReadExifFromFile(const char* path) {
  // A file without a readable segment leaves no texts of an earlier file behind.
  auto fail = [this]() {
    Forget();
    return FALSE;
  };
  if (!path) return fail();
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) return fail();
  BYTE head[kSearchWindow];
  size_t got = std::fread(head, 1, sizeof head, file.get());
  // "Exif" at p + 4, with the marker and the 16-bit length before it, all inside what was read.
  size_t p = 0;
  while (p + 8 <= got && std::memcmp(head + p + 4, "Exif", 4) != 0) ++p;
  if (p + 8 > got) return fail();
  // The length counts itself and the payload; the two marker bytes come on top.
  size_t want = ((static_cast<size_t>(head[p + 2]) << 8) | head[p + 3]) + 2;
  std::vector<BYTE> segment(want);
  if (std::fseek(file.get(), static_cast<long>(p), SEEK_SET) != 0) return fail();
  size_t read = std::fread(segment.data(), 1, want, file.get());
  file.reset();
  return ParseExifBlock(segment.data(), read);
}

void CExifTagReader::Forget() {
  std::vector<BYTE>().swap(m_Copy);
  InitTagTable();
  m_ExifIFDPos = 0;
  m_InteropIFDPos = 0;
  m_InteropSeen = FALSE;
}

BOOL CExifTagReader::ParseExifBlock(const BYTE* block, size_t length) {
  static const BYTE kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
  // Marker, length and "Exif\0\0", then a TIFF header of byte order, 42 and the IFD0 offset.
  if (!block || length < 2 + kTiffStart + 8 || std::memcmp(block + 4, kExifId, sizeof kExifId) != 0) {
    Forget();  // no copy kept, and no texts of an earlier block left behind
    return FALSE;
  }
  m_pBlock = block;
  m_Copy.assign(block + 2, block + length);
  m_ByteOrder = (m_Copy[8] == 'I' && m_Copy[9] == 'I') ? 0 : 1;
  InitTagTable();
  m_ExifIFDPos = 0;
  m_InteropIFDPos = 0;
  m_InteropSeen = FALSE;

  std::vector<size_t> visited;
  auto firstVisit = [&visited](size_t pos) {
    if (std::find(visited.begin(), visited.end(), pos) != visited.end()) return false;
    visited.push_back(pos);
    return true;
  };

  // IFD0 and the chain after it (IFD1 holds the thumbnail); a cycle ends the chain.
  size_t pos = static_cast<size_t>(Get32(12)) + kTiffStart;
  for (int n = 0; n <= kMaxChainedIfds && firstVisit(pos); ++n) {
    ReadIFD(pos, true);
    if (m_NextIFDPos == 0) break;
    pos = m_NextIFDPos;
  }
  if (m_ExifIFDPos != 0 && firstVisit(m_ExifIFDPos)) ReadIFD(m_ExifIFDPos, false);
  if (m_InteropSeen && m_InteropIFDPos != 0 && firstVisit(m_InteropIFDPos)) ReadIFD(m_InteropIFDPos, false);
  m_pBlock = nullptr;
  return TRUE;
}

bool CExifTagReader::LoadEntry(size_t entryPos) {
  m_EntryPos = entryPos;
  m_Tag = Get16(entryPos);
  m_Type = Get16(entryPos + 2);
  m_Count = Get32(entryPos + 4);
  m_ValueOrOffset = Get32(entryPos + 8);
  uint64_t bytes = 0;
  size_t typeSize = TypeSize(m_Type);
  if (typeSize == 0 || !ISMulSize(bytes, typeSize, m_Count)) return false;
  if (bytes <= 4) {
    m_ValuePos = entryPos + 8;  // inline, inside the entry the caller found whole
    return true;
  }
  uint64_t start = static_cast<uint64_t>(m_ValueOrOffset) + kTiffStart;
  uint64_t end = 0;
  if (!ISAddSize(end, start, bytes) || end > m_Copy.size()) return false;
  m_ValuePos = static_cast<size_t>(start);
  return true;
}

void CExifTagReader::ReadIFD(size_t pos, bool chained) {
  m_IFDPos = pos;
  m_NextIFDPos = 0;
  m_EntryCount = 0;
  const size_t size = m_Copy.size();
  if (pos >= size || size - pos < 2) return;
  m_EntryCount = Get16(pos);
  const size_t first = pos + 2;
  // Entries that lie wholly inside the copy; a cut-off IFD is read as far as it goes.
  const size_t whole = std::min<size_t>(m_EntryCount, (size - first) / 12);

  // The strip-array notes depend on this IFD's planar configuration, which follows them.
  m_PlanarConfig = 1;
  for (size_t i = 0; i < whole; ++i) {
    size_t e = first + 12 * i;
    if (Get16(e) != 0x011C || !LoadEntry(e) || m_Count == 0) continue;
    if (m_Type == 3) m_PlanarConfig = Get16(m_ValuePos);
    else if (m_Type == 4) m_PlanarConfig = Get32(m_ValuePos);
    break;
  }

  for (size_t i = 0; i < whole; ++i) {
    if (!LoadEntry(first + 12 * i)) continue;  // value outside the block: nothing rendered
    int index = FindTagRecord(m_Tag);
    // A tag already rendered from an earlier IFD keeps its first text: IFD0 describes the
    // main picture, the IFD after it only the thumbnail.
    if (index < 0 || m_Tags[index].found) continue;
    FormatTagValue(index);
  }

  if (!chained || whole < m_EntryCount) return;
  size_t next = first + 12 * static_cast<size_t>(m_EntryCount);
  if (next > size || size - next < 4) return;
  DWORD offset = Get32(next);
  if (offset != 0) m_NextIFDPos = static_cast<size_t>(offset) + kTiffStart;
}
