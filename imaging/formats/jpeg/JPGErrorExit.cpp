// The libjpeg error hook of the JPEG layer: a libjpeg error becomes RovIrirev::ISException,
// which the reading, information, transform or writing operation maps to its own error code.
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/jpeg/JPGCommon.h"

namespace {

// The library trace shows nothing; libjpeg's own message output goes there too.
void JPGTraceMessage(j_common_ptr) {}

// libjpeg's messages: a warning (level -1: premature end of data, corrupt data, ...) is counted
// as libjpeg counts it, and the first one of the call is kept for ISGetLastWarning; trace
// messages go nowhere. Damaged data can give a warning per block (a missing restart marker
// after every MCU): only the first is formatted.
void JPGEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  if (cinfo->err->num_warnings++ > 0) return;
  char message[JMSG_LENGTH_MAX] = {};
  cinfo->err->format_message(cinfo, message);
  SetLastWarning(message);
}

// libjpeg's refusals that name what the file holds (a kind of JPEG libjpeg does not decode, a
// sample precision other than 8 bits, a height left to a DNL marker) or what it could not get:
// they tell a well-formed file this build does not read from a damaged one.
bool SaysWhatWasMet(int code) {
  switch (code) {
    case JERR_OUT_OF_MEMORY:
    case JERR_SOF_UNSUPPORTED:
    case JERR_BAD_PRECISION:
    case JERR_EMPTY_IMAGE:
    case JERR_NOT_COMPILED:
    case JERR_ARITH_NOTIMPL:
      return true;
    default:
      return false;
  }
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
  } else if (SaysWhatWasMet(cinfo->err->msg_code)) {
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
