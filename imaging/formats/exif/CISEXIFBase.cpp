// The EXIF data object: reading a block into the six tag lists, the optional copies of the
// thumbnail and the UserComment, and the text of a tag. Failure: 56 (parse), 65 (a copy).
#include "imaging/formats/exif/CISEXIFBase.h"

#include "imaging/core/ISThreadState.h"

using namespace CISEXIFData;

CEXIFTagBase* FindTag(const ISEXIFTagList& list, uint32_t tag) {
  for (size_t i = 0; i < list.Size(); ++i)
    if (list[i] && list[i]->entry.tag == tag) return list[i];
  return nullptr;
}

bool FindTagText(const ISEXIFTagList& list, uint32_t tag, std::string& text) {
  text.clear();
  const CEXIFTagBase* t = FindTag(list, tag);
  if (!t) return false;
  text = t->GetText();
  return true;
}

void DeleteTagList(ISEXIFTagList& list) { list.Clear(); }

CISEXIFBase::~CISEXIFBase() {
  for (ISEXIFTagList& list : lists) DeleteTagList(list);
  GlobalFree(thumbnail);
  GlobalFree(userComment);
}

bool CISEXIFBase::Read(const uint8_t* block, uint32_t length, uint32_t flags) {
  error = IS_ERR_OK;
  // Earlier copies are replaced, never leaked.
  GlobalFree(thumbnail);
  thumbnail = nullptr;
  thumbnailSize = 0;
  CISRawEXIFParse parser(lists);
  if (!parser.Parse(block, length, (flags & kEXIFParseMakerNote) != 0)) {
    error = IS_ERR_EXIFPARSE;
    return false;
  }
  if ((flags & kEXIFKeepThumbnail) && parser.CopyThumbnail(thumbnail, thumbnailSize) != IS_ERR_OK)
    error = IS_ERR_EXIFCOPY;
  if (flags & kEXIFKeepUserComment) {
    GlobalFree(userComment);
    userComment = nullptr;
    userCommentSize = 0;
    if (parser.CopyUserComment(userComment, userCommentSize) != IS_ERR_OK) error = IS_ERR_EXIFCOPY;
  }
  return true;
}

bool CISEXIFBase::GetTagText(uint32_t tag, uint32_t mask, std::string& text) const {
  text.clear();
  for (int i = 0; i < kListCount; ++i)
    if ((mask & (1u << i)) && FindTagText(lists[i], tag, text)) return true;
  return false;
}
