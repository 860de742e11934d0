// The camera-RAW decoder's entry points as the picture object uses them. This build decodes no
// RAW format: decode_raw checks its arguments and then reports that the source is not a
// supported RAW file, so the caller goes on to detect the file's contents.
#pragma once

#include <qrv/imaging.h>

// RawFlags bits of decode_raw.
enum RawFlags : DWORD {
  RAW_FLAG_AS_STORED = 0x02,
  RAW_FLAG_FOUR_COLOUR_RGB = 0x10,
};

// Keeps a copy of the table for the calling thread and returns 1; returns 0 with error 5 when the
// table is null or its size word is not sizeof(ISIOCallbackTable). The caller keeps the table.
int set_raw_context(const ISIOCallbackTable* table);

// Decodes the RAW file behind `source`; a global-memory block and its size, or null. A null
// source, width or height pointer, or no table given by set_raw_context, give error 5.
HGLOBAL decode_raw(ISIOHandle source, DWORD* width, DWORD* height, DWORD bitsPerPixel, double gamma,
                   double brightness, double redScale, double blueScale, DWORD flags);

// The decoder's diagnostic output: does nothing.
void raw_message_sink();

// The last error the decoder recorded on this thread (0 after a call that found no fault).
ISErrorCode raw_last_error();
