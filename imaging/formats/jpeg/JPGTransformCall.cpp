// CISJPGReader::Transform: one lossless transform from a JPEG source to a sink. The new stream
// is built in memory and handed to the sink only when it is complete, so a failed or stopped
// transform leaves nothing in the sink. libjpeg errors and bad requests: 9; a stop: 14.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imaging/core/ISDecodeBudget.h"
#include "imaging/formats/jpeg/CISJPGReader.h"
#include "imaging/formats/jpeg/JPGTransform.h"
#include "platform/global_memory.h"

namespace {

using RovIrirev::ISException;

// The bytes of the stream being written, and the most it may hold.
struct JPGStagedOutput {
  std::vector<JOCTET> bytes;
  uint64_t limit = kGlobalAllocLimit;
  JOCTET buffer[kJPGIOBufferSize];
};

// libjpeg destination manager over a JPGStagedOutput: one 4096-byte buffer, each full buffer
// appended to the staged bytes.
struct JPGStagingDestination {
  jpeg_destination_mgr pub;
  JPGStagedOutput* out;
};

JPGStagingDestination* Dest(j_compress_ptr cinfo) { return reinterpret_cast<JPGStagingDestination*>(cinfo->dest); }

void Append(j_compress_ptr cinfo, size_t n) {
  JPGStagedOutput* out = Dest(cinfo)->out;
  if (out->bytes.size() + n > out->limit) {
    char reason[120];
    std::snprintf(reason, sizeof reason, "the transformed JPEG stream is larger than the %llu bytes allowed for it",
                  static_cast<unsigned long long>(out->limit));
    ReplaceLastWarning(reason);
    throw RovIrirev::ISException(reason);
  }
  if (out->bytes.size() + n >= kGlobalAllocLimit) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  try {
    out->bytes.insert(out->bytes.end(), out->buffer, out->buffer + n);
  } catch (const std::bad_alloc&) {
    ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  }
}

void InitStaging(j_compress_ptr cinfo) {
  JPGStagingDestination* d = Dest(cinfo);
  d->pub.next_output_byte = d->out->buffer;
  d->pub.free_in_buffer = kJPGIOBufferSize;
}

boolean EmptyStaging(j_compress_ptr cinfo) {
  Append(cinfo, kJPGIOBufferSize);
  InitStaging(cinfo);
  return TRUE;
}

void TermStaging(j_compress_ptr cinfo) {
  JPGStagingDestination* d = Dest(cinfo);
  if (d->pub.free_in_buffer < kJPGIOBufferSize) Append(cinfo, kJPGIOBufferSize - d->pub.free_in_buffer);
}

void InitStagingDestination(j_compress_ptr cinfo, JPGStagedOutput* out) {
  if (!cinfo->dest)
    cinfo->dest = static_cast<jpeg_destination_mgr*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(JPGStagingDestination)));
  JPGStagingDestination* d = Dest(cinfo);
  d->pub.init_destination = InitStaging;
  d->pub.empty_output_buffer = EmptyStaging;
  d->pub.term_destination = TermStaging;
  d->out = out;
}

// The decompressor and compressor of one call, destroyed on every path.
struct JPGTransformObjects {
  jpeg_error_mgr err{};
  jpeg_decompress_struct src{};
  jpeg_compress_struct dst{};
  bool srcCreated = false;
  bool dstCreated = false;
  ~JPGTransformObjects() {
    if (dstCreated) jpeg_destroy_compress(&dst);
    if (srcCreated) jpeg_destroy_decompress(&src);
  }
};

// Writes the finished stream to the sink in 4096-byte pieces.
bool WriteStaged(CISIO& sink, const std::vector<JOCTET>& bytes) {
  for (size_t at = 0; at < bytes.size(); at += kJPGIOBufferSize) {
    const size_t n = bytes.size() - at < kJPGIOBufferSize ? bytes.size() - at : kJPGIOBufferSize;
    if (!sink.Write(bytes.data() + at, static_cast<uint32_t>(n))) return false;
  }
  return true;
}

}  // namespace

BOOL CISJPGReader::Transform(CISIO& source, CISIO& sink, DWORD mode, int32_t x, int32_t y, uint32_t width,
                             uint32_t height) {
  ISThreadState* ts = GetThreadState();
  if (!ts) return Fail(IS_ERR_NOSTATE);
  ts->jpg.commentsRead.Clear();
  ts->jpg.markersRead.Clear();

  JPGTransformInfo info;
  const uint32_t operation = mode & 0xFF;
  info.transform = JPGTransformCodeFromOperation(operation);
  info.trim = (mode & kJPGTransformNoTrim) ? 0 : 1;
  info.forceGrey = (mode & kJPGTransformGrey) ? 1 : 0;
  if (operation == kJPGOpCrop) {
    info.crop = 1;
    info.cropWidth = width;
    info.cropWidthSet = kJCropPositive;
    info.cropHeight = height;
    info.cropHeightSet = kJCropPositive;
    // A negative offset counts from the far edge by its magnitude.
    info.cropXOffset = x < 0 ? 0u - static_cast<uint32_t>(x) : static_cast<uint32_t>(x);
    info.cropXOffsetSet = x < 0 ? kJCropNegative : kJCropPositive;
    info.cropYOffset = y < 0 ? 0u - static_cast<uint32_t>(y) : static_cast<uint32_t>(y);
    info.cropYOffsetSet = y < 0 ? kJCropNegative : kJCropPositive;
  }

  auto staged = std::unique_ptr<JPGStagedOutput>(new (std::nothrow) JPGStagedOutput);
  if (!staged) return Fail(IS_ERR_BADJPEG);
  JPGTransformObjects o;
  bool completed = true;
  try {
    JPGInitErrorManager(&o.err);
    o.src.err = &o.err;
    jpeg_create_decompress(&o.src);
    o.srcCreated = true;
    o.dst.err = &o.err;
    jpeg_create_compress(&o.dst);
    o.dstCreated = true;

    InitJPGSource(&o.src, &source, false, false);
    CopyMarkersSetup(&o.src);
    jpeg_read_header(&o.src, TRUE);
    // The coefficient arrays hold the whole frame, and the workspace of a moving transform a
    // second copy of it: its blocks must be ones the data could code.
    JPGGuardDecode(&o.src, 2);
    o.dst.mem->max_memory_to_use = o.src.mem->max_memory_to_use;
    // The stream written from them is a third copy, held until it is whole: at most the bytes
    // of one set of the frame's coefficients, with the markers copied and the headers.
    staged->limit = RovIrirev::BudgetMultiply(JPGFrameBlocks(&o.src), DCTSIZE2 * sizeof(JCOEF)) + (uint64_t{1} << 16);
    for (jpeg_saved_marker_ptr m = o.src.marker_list; m; m = m->next)
      staged->limit = RovIrirev::BudgetAdd(staged->limit, uint64_t{m->data_length} + 4);
    RequestTransformWorkspace(&o.src, &info);
    jvirt_barray_ptr* srcCoef = jpeg_read_coefficients(&o.src);
    jpeg_copy_critical_parameters(&o.src, &o.dst);
    jvirt_barray_ptr* dstCoef = AdjustTransformParameters(&o.src, &o.dst, srcCoef, &info);
    if (mode & kJPGTransformProgressive) jpeg_simple_progression(&o.dst);

    InitStagingDestination(&o.dst, staged.get());
    jpeg_write_coefficients(&o.dst, dstCoef);
    CopyMarkersExecute(&o.src, &o.dst);
    completed = ExecuteTransform(&o.src, &o.dst, srcCoef, &info);
    if (completed) jpeg_finish_compress(&o.dst);
  } catch (const ISException&) {
    return Fail(IS_ERR_BADJPEG);
  } catch (const std::bad_alloc&) {
    return Fail(IS_ERR_BADJPEG);
  }
  // A stopped transform (a crop without other transform included) gives no output at all.
  if (!completed) return Fail(IS_ERR_STOPPED);
  if (!WriteStaged(sink, staged->bytes)) return Fail(IS_ERR_BADJPEG);
  return TRUE;
}
