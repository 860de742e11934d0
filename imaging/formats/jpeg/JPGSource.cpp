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

void JPGCheckScanDataSize(j_decompress_ptr cinfo) {
  JPGSourceMgr* src = Src(cinfo);
  uint32_t size = 0, position = 0;
  if (!src->io->GetSize(&size) || !src->io->Tell(&position)) return;  // a stream of unknown length
  const uint64_t left = uint64_t{size >= position ? size - position : 0u} + src->pub.bytes_in_buffer;
  uint64_t blocks = 0;
  for (int c = 0; c < cinfo->num_components; ++c)
    blocks += uint64_t{cinfo->comp_info[c].width_in_blocks} * cinfo->comp_info[c].height_in_blocks;
  // A Huffman-coded block takes at least one bit: its DC difference code (sequential blocks
  // also an end-of-block code; progressive AC scans may skip blocks with end-of-band runs, the
  // DC scan never does): eight blocks per byte. The arithmetic coder's most skewed estimate
  // (Qe = 1 against an interval of at least 0x8000) still costs a decision more than 2^-15
  // bits, and a block needs one or more decisions: 2^18 blocks per byte.
  // A picture of up to 2^16 blocks (about a 2-megapixel colour photo) is decoded from whatever
  // is left, as any cut file is; only larger claims must be backed by their bytes.
  const uint64_t perByte = cinfo->arith_code ? (uint64_t{1} << 18) : 8;
  constexpr uint64_t kAlwaysDecoded = uint64_t{1} << 16;
  if (blocks > kAlwaysDecoded && blocks > left * perByte) ERREXIT(cinfo, JERR_INPUT_EOF);
}
