// The libjpeg error hook of the JPEG layer: a libjpeg error becomes RovIrirev::ISException,
// which the reading, information, transform or writing operation maps to its own error code.
#include "imaging/formats/jpeg/JPGCommon.h"

namespace {

// The library trace shows nothing; libjpeg's own message output goes there too.
void JPGTraceMessage(j_common_ptr) {}

}  // namespace

void JPGErrorExit(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX] = {};
  cinfo->err->format_message(cinfo, message);
  throw RovIrirev::ISException(message);
}

jpeg_error_mgr* JPGInitErrorManager(jpeg_error_mgr* err) {
  jpeg_std_error(err);
  err->error_exit = JPGErrorExit;
  err->output_message = JPGTraceMessage;
  return err;
}

void JPGSaveMarkers(j_decompress_ptr cinfo) {
  jpeg_save_markers(cinfo, JPEG_COM, 0xFFFF);
  for (int m = JPEG_APP0 + 1; m <= JPEG_APP0 + 14; ++m) jpeg_save_markers(cinfo, m, 0xFFFF);
}
