// The EXIF data object a caller holds (six tag lists and the optional thumbnail and
// UserComment copies) and the parser that fills it from an APP1 "Exif" block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/core/ISContainers.h"
#include "imaging/formats/exif/CISEXIFData.h"

using ISEXIFTagList = ISPtrVector<CISEXIFData::CEXIFTagBase>;

// List indexes, and the mask bits that choose lists in a tag-text query.
enum ISEXIFList : int { kListIFD0 = 0, kListExif, kListInterop, kListIFD1, kListGPS, kListMakerNote, kListCount };
enum : uint32_t {
  kMaskIFD0 = 1,
  kMaskExif = 2,
  kMaskInterop = 4,
  kMaskIFD1 = 8,
  kMaskGPS = 16,
  kMaskMakerNote = 32,
};

// Read flags.
enum : uint32_t {
  kEXIFKeepThumbnail = 1,
  kEXIFParseMakerNote = 2,
  kEXIFKeepUserComment = 4,
};

// Tags the parser follows.
enum : uint16_t {
  kTagMake = 271,
  kTagJPEGInterchangeFormat = 513,
  kTagJPEGInterchangeFormatLength = 514,
  kTagExifIFD = 34665,
  kTagGPSIFD = 34853,
  kTagMakerNote = 37500,
  kTagUserComment = 37510,
  kTagInteropIFD = 40965,
};

// Maker codes of the notes the parser understands.
enum ISEXIFMaker : int {
  kMakerNone = 0,
  kMakerCanon = 1,
  kMakerNikon = 2,
  kMakerFujifilm = 6,
  kMakerOlympus = 7,
  kMakerCasio = 8,
};

// The text of the first tag with `tag` in `list`; false (text empty) when there is none.
bool FindTagText(const ISEXIFTagList& list, uint32_t tag, std::string& text);
// The first tag with `tag` in `list`, or null.
CISEXIFData::CEXIFTagBase* FindTag(const ISEXIFTagList& list, uint32_t tag);
void DeleteTagList(ISEXIFTagList& list);
void SwapBytes16(uint16_t& v);
void SwapBytes32(uint32_t& v);

class CISEXIFBase {
 public:
  CISEXIFBase() = default;
  CISEXIFBase(const CISEXIFBase&) = delete;
  CISEXIFBase& operator=(const CISEXIFBase&) = delete;
  virtual ~CISEXIFBase();

  // Parses a block; flags as the read flags above. False leaves error 56.
  bool Read(const uint8_t* block, uint32_t length, uint32_t flags);
  // The text of the first tag with the id in the lists the mask chooses, in list order.
  bool GetTagText(uint32_t tag, uint32_t mask, std::string& text) const;

  ISErrorCode error = IS_ERR_OK;
  ISEXIFTagList lists[kListCount];
  HGLOBAL thumbnail = nullptr;
  uint32_t thumbnailSize = 0;
  HGLOBAL userComment = nullptr;
  uint32_t userCommentSize = 0;
};

class CISRawEXIFParse {
 public:
  explicit CISRawEXIFParse(ISEXIFTagList* lists) {
    for (int i = 0; i < kListCount; ++i) lists_[i] = &lists[i];
  }
  CISRawEXIFParse(const CISRawEXIFParse&) = delete;
  CISRawEXIFParse& operator=(const CISRawEXIFParse&) = delete;
  virtual ~CISRawEXIFParse() = default;

  bool Parse(const uint8_t* block, uint32_t length, bool makerNote);
  // Reads `count` entries from `first` into `list`; false when an entry runs out of the block.
  bool ReadIFD(uint64_t header, uint64_t first, uint32_t count, ISEXIFTagList& list);
  // Builds the tag object of a decoded entry; values lie at base + offset when they do not
  // fit the value field at `valueField`. Mode 0 is normal, otherwise the maker code.
  CISEXIFData::CEXIFTagBase* MakeTag(const CISEXIFData::ISEXIFEntry& e, uint64_t valueField, uint64_t base,
                                     int mode);
  bool ParseMakerNote();
  // 0, or 5 (nothing parsed) or 57 (absent, empty or out of bounds).
  ISErrorCode CopyThumbnail(HGLOBAL& copy, uint32_t& size);
  ISErrorCode CopyUserComment(HGLOBAL& copy, uint32_t& size);

  ISErrorCode error = IS_ERR_OK;

 private:
  bool Read16(uint64_t pos, uint16_t& v) const;
  bool Read32(uint64_t pos, uint32_t& v) const;
  bool Inside(uint64_t pos, uint64_t size) const { return pos <= length_ && size <= length_ - pos; }
  bool DecodeEntry(uint64_t pos, CISEXIFData::ISEXIFEntry& e) const;
  // Reads the optional IFD at header + offset into a list, once; false when its count cannot
  // be read (the IFD is then skipped).
  bool ReadOptionalIFD(uint32_t offset, ISEXIFTagList& list);
  bool MarkVisited(uint64_t pos);

  ISEXIFTagList* lists_[kListCount];
  bool swap_ = false;
  const uint8_t* block_ = nullptr;
  uint64_t length_ = 0;
  bool parsed_ = false;
  std::vector<uint64_t> visited_;
};
