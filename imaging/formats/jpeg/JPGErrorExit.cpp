// The libjpeg error hook of the JPEG layer: a libjpeg error becomes RovIrirev::ISException,
// which the reading, information, transform or writing operation maps to its own error code.
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/jpeg/JPGCommon.h"

namespace {

// The library trace shows nothing; libjpeg's own message output goes there too.
void JPGTraceMessage(j_common_ptr) {}

// libjpeg's messages: a warning (level -1: premature end of data, corrupt data, ...) is counted
// as libjpeg counts it and kept for ISGetLastWarning; trace messages go nowhere.
void JPGEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  ++cinfo->err->num_warnings;
  char message[JMSG_LENGTH_MAX] = {};
  cinfo->err->format_message(cinfo, message);
  SetLastWarning(message);
}

}  // namespace

void JPGErrorExit(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX] = {};
  cinfo->err->format_message(cinfo, message);
  // libjpeg refuses its whole-image buffers past the memory limit by asking for a temporary
  // file it does not have; that refusal, and a failed allocation, say why the call failed.
  if (cinfo->err->msg_code == JERR_NO_BACKING_STORE) {
    std::snprintf(message, sizeof message, "JPEG decoding needs more than the %ld bytes of memory allowed for it",
                  cinfo->mem->max_memory_to_use);
    ReplaceLastWarning(message);
  } else if (cinfo->err->msg_code == JERR_OUT_OF_MEMORY) {
    ReplaceLastWarning(message);
  }
  throw RovIrirev::ISException(message);
}

jpeg_error_mgr* JPGInitErrorManager(jpeg_error_mgr* err) {
  jpeg_std_error(err);
  err->error_exit = JPGErrorExit;
  err->output_message = JPGTraceMessage;
  err->emit_message = JPGEmitMessage;
  return err;
}

void JPGSaveMarkers(j_decompress_ptr cinfo) {
  jpeg_save_markers(cinfo, JPEG_COM, 0xFFFF);
  for (int m = JPEG_APP0 + 1; m <= JPEG_APP0 + 14; ++m) jpeg_save_markers(cinfo, m, 0xFFFF);
}
