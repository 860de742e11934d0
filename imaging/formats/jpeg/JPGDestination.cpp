// libjpeg destination manager over a CISIO sink: one 4096-byte buffer, each full buffer one
// write; a failed write is libjpeg's file-write error.
#include "imaging/formats/jpeg/JPGCommon.h"

namespace {

struct JPGDestinationMgr {
  jpeg_destination_mgr pub;
  CISIO* io;
  JOCTET* buffer;
};

JPGDestinationMgr* Dest(j_compress_ptr cinfo) { return reinterpret_cast<JPGDestinationMgr*>(cinfo->dest); }

void InitDestination(j_compress_ptr cinfo) {
  JPGDestinationMgr* dest = Dest(cinfo);
  dest->buffer = static_cast<JOCTET*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kJPGIOBufferSize));
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kJPGIOBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  JPGDestinationMgr* dest = Dest(cinfo);
  if (!dest->io->Write(dest->buffer, kJPGIOBufferSize)) ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kJPGIOBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  JPGDestinationMgr* dest = Dest(cinfo);
  const size_t used = kJPGIOBufferSize - dest->pub.free_in_buffer;
  if (used > 0 && !dest->io->Write(dest->buffer, static_cast<uint32_t>(used))) ERREXIT(cinfo, JERR_FILE_WRITE);
}

}  // namespace

void InitJPGDestination(j_compress_ptr cinfo, CISIO* io) {
  if (!cinfo->dest) {
    cinfo->dest = static_cast<jpeg_destination_mgr*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(JPGDestinationMgr)));
  }
  JPGDestinationMgr* dest = Dest(cinfo);
  dest->pub.init_destination = InitDestination;
  dest->pub.empty_output_buffer = EmptyOutputBuffer;
  dest->pub.term_destination = TermDestination;
  dest->io = io;
  dest->buffer = nullptr;
}
