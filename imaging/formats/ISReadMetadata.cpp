// ISGetReadMetadata, ISGetReadMetadataNote and ISSetWriteMetadata: the metadata blocks the last
// read met, and those the following writes embed; ISGetXMPExtendedGUID. Errors: 1 out of memory,
// 5 bad kind or size.
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/MetadataRead.h"

namespace {

constexpr uint64_t kMaxJPEGProfile = uint64_t{255} * 65519;  // 255 APP2 chunks

bool ValidKind(DWORD kind) { return kind >= IS_META_ICC && kind <= IS_META_EXIF; }

}  // namespace

extern "C" {

BOOL ISGetReadMetadata(DWORD kind, HGLOBAL* data, DWORD* length) {
  if (data) *data = nullptr;
  if (length) *length = 0;
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState& ts) -> BOOL {
    if (!data || !length || !ValidKind(kind)) return error = IS_ERR_BADPARAM, FALSE;
    const ISArray<unsigned char>& block = ts.metadataRead.blocks[kind - 1];
    if (block.Empty()) return error = IS_ERR_BADPARAM, FALSE;
    auto* copy = static_cast<unsigned char*>(SafeGlobalAlloc(block.Count()));
    if (!copy) return error = IS_ERR_NOMEM, FALSE;
    std::memcpy(copy, block.Data(), block.Count());
    *data = copy;
    *length = block.Count();
    return TRUE;
  });
}

const char* ISGetReadMetadataNote(DWORD kind) {
  ISThreadState* ts = GetThreadState();
  if (!ts || !ValidKind(kind)) return "";
  return ts->metadataRead.notes[kind - 1].c_str();
}

BOOL ISSetWriteMetadata(DWORD kind, const BYTE* data, DWORD length) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState& ts) -> BOOL {
    if (!ValidKind(kind) || kind == IS_META_XMP_EXTENDED) return error = IS_ERR_BADPARAM, FALSE;
    if (!data) length = 0;
    if (length > INT32_MAX || (kind == IS_META_ICC && length > kMaxJPEGProfile))
      return error = IS_ERR_BADPARAM, FALSE;
    ISArray<unsigned char> copy;
    if (length > 0 && !copy.Assign(data, length)) return error = IS_ERR_NOMEM, FALSE;
    switch (kind) {
      case IS_META_ICC: ts.iccProfile = std::move(copy); break;
      case IS_META_IPTC: ts.tiff.iptc = std::move(copy); break;
      case IS_META_EXIF:
        ts.png.exif = copy;
        ts.tiff.exif = std::move(copy);
        break;
      default:
        ts.png.xmp = copy;
        ts.tiff.xmp = std::move(copy);
        break;
    }
    return TRUE;
  });
}

BOOL ISGetXMPExtendedGUID(const BYTE* packet, DWORD length, char* guid) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!guid) return error = IS_ERR_BADPARAM, FALSE;
    guid[0] = '\0';
    const std::string found = XMPExtendedGUID(packet, packet ? length : 0);
    if (found.empty()) return error = IS_ERR_BADPARAM, FALSE;
    std::memcpy(guid, found.c_str(), found.size() + 1);
    return TRUE;
  });
}

}  // extern "C"
