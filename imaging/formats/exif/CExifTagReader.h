// The application's own EXIF reader: finds the EXIF APP1 segment of a JPEG file, walks its
// IFDs and renders about a hundred TIFF and EXIF tags as English text in fixed named records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32_types.h"

// Stands in for the application framework's root class; the reader overrides only the
// destructor.
class CExifTagReaderObject {
 public:
  virtual ~CExifTagReaderObject() = default;
};

// One record of the tag table: whether the tag was found, its display name and its value text.
struct ExifTagRecord {
  BYTE found;
  char name[30];
  char value[4200];
};

class CExifTagReader : public CExifTagReaderObject {
 public:
  static constexpr int kTagCount = 103;
  static constexpr size_t kNameSize = sizeof(ExifTagRecord::name);
  static constexpr size_t kValueSize = sizeof(ExifTagRecord::value);
  // The TIFF header starts this many bytes into the owned copy (after the segment length
  // and "Exif\0\0"), so a TIFF offset + 8 is a position in the copy.
  static constexpr size_t kTiffStart = 8;
  // IFDs followed along the chain after IFD0 at most; a JPEG's segment holds two.
  static constexpr int kMaxChainedIfds = 256;

  CExifTagReader();
  ~CExifTagReader() override;
  CExifTagReader(const CExifTagReader&) = delete;
  CExifTagReader& operator=(const CExifTagReader&) = delete;

  // Parses the EXIF segment found in the first 100 bytes of the file at path; on false the
  // table is left cleared.
  BOOL ReadExifFromFile(const char* path);
  // Parses an APP1 segment that starts at its marker (0xFF 0xE1); length counts every byte
  // of block that may be read. False when bytes 4..9 are not "Exif\0\0" or the TIFF header
  // is cut off (the table is then left cleared); a block cut anywhere later is read as far
  // as it goes.
  BOOL ParseExifBlock(const BYTE* block, size_t length);
  // Sets every display name and clears every found flag and value text.
  void InitTagTable();
  // Renders the current entry into record `index` and sets its found flag.
  void FormatTagValue(int index);
  // Writes num/den into out (at most outSize bytes with the terminator): "%.2lf" of the
  // quotient when num is 2 or more, "num/den" otherwise, nothing for a zero denominator.
  // Returns the quotient (0.0 for a zero denominator).
  static double FormatRational(char* out, size_t outSize, int64_t num, int64_t den);
  // Always an empty string.
  std::string GetTagText() const { return std::string(); }

  // The record of a tag number, or -1 when the table has none; the tag number of a record.
  static int FindTagRecord(WORD tag);
  static WORD RecordTag(int index);
  // Bytes of one value of a TIFF field type (1..12); 0 for an unknown type.
  static size_t TypeSize(WORD type);

  // Byte order of the block: 0 for "II", 1 for "MM".
  int m_ByteOrder = 0;
  // The caller's block, valid only while ParseExifBlock runs.
  const BYTE* m_pBlock = nullptr;
  // Owned copy of the block from its byte 2 on; its size is the copy's length.
  std::vector<BYTE> m_Copy;
  // Position (in the copy) of the IFD being read and of the next one in the chain.
  size_t m_IFDPos = 0;
  size_t m_NextIFDPos = 0;
  // Positions of the Exif sub-IFD and of the interoperability IFD; 0 when not seen.
  size_t m_ExifIFDPos = 0;
  size_t m_InteropIFDPos = 0;
  // The current entry: tag, type, count, the raw value-or-offset word, the entry's own
  // position and the position of its value bytes (inline or at the offset).
  WORD m_Tag = 0;
  WORD m_Type = 0;
  DWORD m_Count = 0;
  DWORD m_ValueOrOffset = 0;
  size_t m_EntryPos = 0;
  size_t m_ValuePos = 0;
  // Entry count of the current IFD.
  WORD m_EntryCount = 0;
  // An interoperability offset was seen.
  BOOL m_InteropSeen = FALSE;
  ExifTagRecord m_Tags[kTagCount];

 private:
  // Releases the copy and clears the table after a refused block or file.
  void Forget();
  WORD Get16(size_t pos) const;
  DWORD Get32(size_t pos) const;
  // Reads the IFD at pos (entries only, or also its next-IFD offset into m_NextIFDPos).
  void ReadIFD(size_t pos, bool chained);
  // Loads entry i of the current IFD; false when the entry or its value lies outside the
  // copy, or its type is unknown (nothing is rendered for it then).
  bool LoadEntry(size_t entryPos);
  // Planar configuration of the current IFD (1 when absent), for the strip-array notes.
  DWORD m_PlanarConfig = 1;
};
