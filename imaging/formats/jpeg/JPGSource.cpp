// libjpeg source manager over a CISIO source: 4096-byte refills, a fake end-of-image marker
// after a premature end, and an optional seek back over the unused buffered bytes at the end.
#include <cstring>

#include "imaging/formats/jpeg/JPGCommon.h"

namespace {

struct JPGSourceMgr {
  jpeg_source_mgr pub;
  CISIO* io;
  JOCTET* buffer;
  bool startOfFile;
  bool swapPairs;
  bool seekBackAtEnd;
};

JPGSourceMgr* Src(j_decompress_ptr cinfo) { return reinterpret_cast<JPGSourceMgr*>(cinfo->src); }

void InitSource(j_decompress_ptr cinfo) { Src(cinfo)->startOfFile = true; }

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  JPGSourceMgr* src = Src(cinfo);
  uint32_t n = src->io->Read(src->buffer, kJPGIOBufferSize);
  if (n > kJPGIOBufferSize) n = 0;  // a misbehaving callback source counts as the end
  if (n == 0) {
    if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  } else if (src->swapPairs) {
    for (uint32_t i = 0; i + 1 < n; i += 2) {
      JOCTET t = src->buffer[i];
      src->buffer[i] = src->buffer[i + 1];
      src->buffer[i + 1] = t;
    }
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = n;
  src->startOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  JPGSourceMgr* src = Src(cinfo);
  size_t n = static_cast<size_t>(count);
  while (n > src->pub.bytes_in_buffer) {
    n -= src->pub.bytes_in_buffer;
    FillInputBuffer(cinfo);
  }
  src->pub.next_input_byte += n;
  src->pub.bytes_in_buffer -= n;
}

void TermSource(j_decompress_ptr cinfo) {
  JPGSourceMgr* src = Src(cinfo);
  if (src->seekBackAtEnd && src->pub.bytes_in_buffer > 0 && src->pub.bytes_in_buffer <= kJPGIOBufferSize)
    src->io->Seek(-static_cast<int32_t>(src->pub.bytes_in_buffer), IS_SEEK_CUR);
}

}  // namespace

void InitJPGSource(j_decompress_ptr cinfo, CISIO* io, bool swapPairs, bool seekBackAtEnd) {
  if (!cinfo->src) {
    auto* src = static_cast<JPGSourceMgr*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(JPGSourceMgr)));
    src->buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kJPGIOBufferSize));
    cinfo->src = &src->pub;
  }
  JPGSourceMgr* src = Src(cinfo);
  src->pub.init_source = InitSource;
  src->pub.fill_input_buffer = FillInputBuffer;
  src->pub.skip_input_data = SkipInputData;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = TermSource;
  src->pub.bytes_in_buffer = 0;
  src->pub.next_input_byte = nullptr;
  src->io = io;
  src->startOfFile = true;
  src->swapPairs = swapPairs;
  src->seekBackAtEnd = seekBackAtEnd;
}

bool JPGBytesLeft(j_decompress_ptr cinfo, uint64_t* left) {
  JPGSourceMgr* src = Src(cinfo);
  uint32_t size = 0, position = 0;
  *left = 0;
  if (!src->io->GetSize(&size) || !src->io->Tell(&position)) return false;
  *left = uint64_t{size >= position ? size - position : 0u} + src->pub.bytes_in_buffer;
  return true;
}
