// The guards of a JPEG decode or coefficient read: the decode budget's question for the frame,
// libjpeg's memory limit from the budget, and the scans' cost through libjpeg's progress hook.
#include <algorithm>
#include <climits>
#include <cstdio>

#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/jpeg/JPGCommon.h"

namespace {

using RovIrirev::BudgetAdd;
using RovIrirev::BudgetMultiply;

thread_local int scansDecoded = 0;
// What the scans read so far cost, the frame's blocks and the most the scans may cost.
thread_local uint64_t costDecoded = 0;
thread_local uint64_t frameBlocks = 0;
thread_local uint64_t costLimit = 0;
// The bytes from the first scan on, when the source's size is known: a scan may cost
// kJPGCostPerDataByte for each of them that libjpeg has consumed by its start.
thread_local bool bytesKnown = false;
thread_local uint64_t bytesAtFirstScan = 0;

// What the scans up to the one starting may cost in all: the frame's bound, and the few seconds
// of kJPGCostLimit or what the data consumed so far buy, whichever is more. Bytes libjpeg never
// reads (after the end of the image) buy nothing.
uint64_t CostAllowed(j_decompress_ptr cinfo) {
  uint64_t left = 0, total = kJPGCostLimit;
  if (bytesKnown && JPGBytesLeft(cinfo, &left) && left <= bytesAtFirstScan)
    total = std::max(total, BudgetMultiply(bytesAtFirstScan - left, kJPGCostPerDataByte));
  return std::min(costLimit, total);
}

[[noreturn]] void Refuse(const char* reason) {
  ReplaceLastWarning(reason);
  throw RovIrirev::ISException(reason);
}

// libjpeg's progress hook: called before each step of input (a row of blocks or a marker) and
// each output row. input_scan_number counts the scans whose header libjpeg has read, and the
// scan's components and band are known from then on; the scan after the limit, or the scan
// that takes the cost past its limit, is refused before any of its data is decoded.
void CountScans(j_common_ptr common) {
  if (!common->is_decompressor) return;
  const j_decompress_ptr cinfo = reinterpret_cast<j_decompress_ptr>(common);
  const int scan = cinfo->input_scan_number;
  if (scan > kJPGScanLimit) {
    scansDecoded = kJPGScanLimit;
    char reason[80];
    std::snprintf(reason, sizeof reason, "JPEG data has more than %d scans", kJPGScanLimit);
    Refuse(reason);
  }
  if (scan <= scansDecoded) return;
  const uint64_t cost = BudgetAdd(costDecoded, JPGScanCost(cinfo));
  if (cost > CostAllowed(cinfo)) {
    char reason[160];
    std::snprintf(reason, sizeof reason,
                  "JPEG data's first %d scans cost more to decode than its frame of %llu blocks allows", scan,
                  static_cast<unsigned long long>(frameBlocks));
    Refuse(reason);
  }
  scansDecoded = scan;
  costDecoded = cost;
}

// The largest number of samples per frame pixel that the budget's memory limit covers: four
// full-resolution components. A frame of more components holds proportionally more blocks.
constexpr uint64_t kComponentsPerLimit = 4;

}  // namespace

int JPGScansDecoded() { return scansDecoded; }

uint64_t JPGScanCostDecoded() { return costDecoded; }

uint64_t JPGFrameBlocks(j_decompress_ptr cinfo) {
  uint64_t blocks = 0;
  for (int ci = 0; ci < cinfo->num_components; ++ci) {
    const jpeg_component_info& c = cinfo->comp_info[ci];
    blocks = BudgetAdd(blocks, BudgetMultiply(c.width_in_blocks, c.height_in_blocks));
  }
  return blocks;
}

uint64_t JPGScanCost(j_decompress_ptr cinfo) {
  uint64_t blocks = 0;
  for (int i = 0; i < cinfo->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i)
    if (const jpeg_component_info* c = cinfo->cur_comp_info[i])
      blocks = BudgetAdd(blocks, BudgetMultiply(c->width_in_blocks, c->height_in_blocks));
  // Each block of the scan is visited, and each coefficient of its band can be coded, whatever
  // the data holds. A sequential scan codes all 64 whatever band its header names; libjpeg
  // refuses a progressive band out of order.
  const bool progressive = cinfo->progressive_mode;
  const int ss = progressive ? cinfo->Ss : 0, se = progressive ? cinfo->Se : DCTSIZE2 - 1;
  const uint64_t band = se >= ss && ss >= 0 && se < DCTSIZE2 ? static_cast<uint64_t>(se - ss + 1) : DCTSIZE2;
  const uint64_t perBlock = (ss == 0 ? kJPGCostDCBlock : kJPGCostACBlock) +
                            band * (cinfo->arith_code ? kJPGCostArithCoefficient : kJPGCostHuffmanCoefficient);
  uint64_t cost = BudgetMultiply(blocks, perBlock);
  // A restart sets the decoder's state up anew and looks for its marker, present or not.
  // MCUs_per_row and MCU_rows_in_scan are the scan's, set when libjpeg starts its input.
  if (cinfo->restart_interval > 0) {
    const uint64_t mcus = BudgetMultiply(cinfo->MCUs_per_row, cinfo->MCU_rows_in_scan);
    cost = BudgetAdd(cost, BudgetMultiply((mcus + cinfo->restart_interval - 1) / cinfo->restart_interval,
                                          kJPGCostRestart));
  }
  return cost;
}

void JPGGuardDecode(j_decompress_ptr cinfo, unsigned frameCopies) {
  // The scans are counted from the first one, whose header jpeg_read_header has read.
  scansDecoded = 0;
  costDecoded = 0;
  frameBlocks = JPGFrameBlocks(cinfo);
  uint64_t left = 0;
  const bool known = JPGBytesLeft(cinfo, &left);
  bytesKnown = known;
  bytesAtFirstScan = left;
  costLimit = BudgetMultiply(frameBlocks, kJPGCostPerFrameBlock);
  const uint64_t width = cinfo->image_width, height = cinfo->image_height;
  const uint64_t hMax = static_cast<uint64_t>(cinfo->max_h_samp_factor);
  const uint64_t vMax = static_cast<uint64_t>(cinfo->max_v_samp_factor);

  // Huffman-coded data: a valid file codes the DC coefficient of every block of every
  // component of the frame (in its one scan, in the scans of its components, or in a
  // progressive file's DC scans, which come before any other scan of a component), and each
  // takes at least one bit, the shortest code of its DC difference. Every scan starts within
  // the `left` bytes from the first scan on, so they code at most 8 x left blocks. A component
  // c of sampling factors h x v has at least
  //   (W h / 8 hmax) (H v / 8 vmax)
  // blocks in a W x H frame, so the frame is at most
  //   8 left x 64 hmax vmax / sum over the components of h v
  // pixels. An arithmetic-coded file (a likely decision costs far less than a bit) and a
  // source of unknown length give no bound: the ceiling holds. The area asked is the frame,
  // which libjpeg decodes at any output scale.
  uint64_t blockSamples = 0;
  for (int ci = 0; ci < cinfo->num_components; ++ci)
    blockSamples += static_cast<uint64_t>(cinfo->comp_info[ci].h_samp_factor) * cinfo->comp_info[ci].v_samp_factor;
  uint64_t dataPixels = RovIrirev::kUnboundedData;
  if (known && !cinfo->arith_code && blockSamples > 0)
    dataPixels = BudgetMultiply(BudgetMultiply(left, 8 * 64), hMax * vMax) / blockSamples;
  if (!RovIrirev::DecodeBudgetAllows(width, height, dataPixels, left))
    throw RovIrirev::ISException("over the decode budget");

  // The memory limit: the frame rounded up to whole block groups (libjpeg's arrays hold whole
  // ones), as many times as four-component sets cover the components, for each copy; and the
  // markers libjpeg has saved, which count against the limit and are the file's own bytes.
  const uint64_t groupWidth = 8 * (hMax > 0 ? hMax : 1), groupHeight = 8 * (vMax > 0 ? vMax : 1);
  const uint64_t padded = BudgetMultiply((width + groupWidth - 1) / groupWidth * groupWidth,
                                         (height + groupHeight - 1) / groupHeight * groupHeight);
  const uint64_t componentSets =
      (static_cast<uint64_t>(cinfo->num_components) + kComponentsPerLimit - 1) / kComponentsPerLimit;
  uint64_t limit = RovIrirev::DecodeMemoryLimit(BudgetMultiply(padded, BudgetMultiply(componentSets, frameCopies)));
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
    limit = BudgetAdd(limit, uint64_t{m->data_length} + sizeof(*m));
  cinfo->mem->max_memory_to_use = limit > uint64_t{LONG_MAX} ? LONG_MAX : static_cast<long>(limit);

  if (!cinfo->progress) {
    auto* progress = static_cast<jpeg_progress_mgr*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(jpeg_progress_mgr)));
    *progress = jpeg_progress_mgr{};
    cinfo->progress = progress;
  }
  cinfo->progress->progress_monitor = CountScans;
}
