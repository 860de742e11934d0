// libjpeg source manager over a CISIO source: 4096-byte refills, a fake end-of-image marker
// after a premature end, and an optional seek back over the unused buffered bytes at the end.
#include <cstring>

#include "imaging/core/ISDecodeBudget.h"
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

void JPGCheckDecodeBudget(j_decompress_ptr cinfo, uint64_t width, uint64_t height, unsigned scaleNum,
                          unsigned scaleDenom) {
  using RovIrirev::BudgetAdd;
  using RovIrirev::BudgetMultiply;
  JPGSourceMgr* src = Src(cinfo);
  uint32_t size = 0, position = 0;
  const bool known = src->io->GetSize(&size) && src->io->Tell(&position);
  const uint64_t left = known ? uint64_t{size >= position ? size - position : 0u} + src->pub.bytes_in_buffer : 0;
  // Huffman-coded data: every block of a scan that codes DC coefficients (every sequential
  // scan, and a progressive file's DC scans) takes at least one bit, the shortest code of its
  // DC difference. The first scan starts at `left` bytes from the end, so it and the scans
  // after it code at most 8 x left blocks of the first scan's set S of components. A
  // component c of sampling factors h x v has at least
  //   (W h / 8 hmax) (H v / 8 vmax)
  // blocks in a W x H frame, so the frame is at most
  //   8 left x 64 hmax vmax / sum over S of h v
  // pixels. A scale of n / d makes each output side at most n / d of the frame's plus one
  // pixel, so the caller receives at most that bound x n^2 / d^2 + width + height + 1 pixels.
  // A progressive file whose first scan has no DC coefficients (out of order: end-of-band
  // runs skip thousands of blocks for a few bits), an arithmetic-coded file (a likely decision
  // costs far less than a bit) and a source of unknown length give no bound: the ceiling
  // holds, for the whole frame, which libjpeg decodes at any scale and buffers whole for a
  // file of several scans.
  uint64_t dataPixels = RovIrirev::kUnboundedData;
  if (known && !cinfo->arith_code && (!cinfo->progressive_mode || cinfo->Ss == 0) && cinfo->comps_in_scan > 0 &&
      scaleNum > 0 && scaleDenom > 0) {
    uint64_t scanSamples = 0;
    for (int i = 0; i < cinfo->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i)
      scanSamples += uint64_t(cinfo->cur_comp_info[i]->h_samp_factor) * cinfo->cur_comp_info[i]->v_samp_factor;
    const uint64_t frameSamples = uint64_t(cinfo->max_h_samp_factor) * cinfo->max_v_samp_factor;
    if (scanSamples > 0) {
      const uint64_t frame = BudgetMultiply(BudgetMultiply(left, 8 * 64), frameSamples) / scanSamples;
      const uint64_t scaled = BudgetMultiply(frame, uint64_t{scaleNum} * scaleNum) / (uint64_t{scaleDenom} * scaleDenom);
      dataPixels = BudgetAdd(scaled, BudgetAdd(width, BudgetAdd(height, 1)));
    }
  }
  if (dataPixels == RovIrirev::kUnboundedData) {
    width = cinfo->image_width;
    height = cinfo->image_height;
  }
  if (!RovIrirev::DecodeBudgetAllows(width, height, dataPixels, left))
    throw RovIrirev::ISException("over the decode budget");
}
