// The least of a camera-RAW decoder: the per-thread callback table and the argument checks.
#include "raw/raw_decoder.h"

#include <cstring>

namespace {

struct RawContext {
  bool valid = false;
  ISIOCallbackTable table{};
  ISErrorCode lastError = 0;
};

thread_local RawContext t_raw;

void RecordError(ISErrorCode code) {
  t_raw.lastError = code;
  // The library's own error word also learns of it when a table was given.
  if (t_raw.valid && t_raw.table.setError) t_raw.table.setError(code);
}

}  // namespace

int set_raw_context(const ISIOCallbackTable* table) {
  t_raw.lastError = 0;
  if (!table || table->size != sizeof(ISIOCallbackTable)) {
    t_raw.lastError = IS_ERR_BADPARAM;
    return 0;
  }
  std::memcpy(&t_raw.table, table, sizeof(ISIOCallbackTable));
  t_raw.valid = true;
  return 1;
}

HGLOBAL decode_raw(ISIOHandle source, DWORD* width, DWORD* height, DWORD /*bitsPerPixel*/, double /*gamma*/,
                   double /*brightness*/, double /*redScale*/, double /*blueScale*/, DWORD /*flags*/) {
  t_raw.lastError = 0;
  if (!source || !width || !height || !t_raw.valid) {
    RecordError(IS_ERR_BADPARAM);
    return nullptr;
  }
  *width = 0;
  *height = 0;
  // No camera-RAW format is decoded by this build: the source is not a supported RAW file.
  return nullptr;
}

void raw_message_sink() {}

ISErrorCode raw_last_error() { return t_raw.lastError; }
