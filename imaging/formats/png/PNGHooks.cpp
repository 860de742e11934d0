// libpng's error, warning and data callbacks of the PNG layer over CISIO. Errors become
// RovIrirev::ISException, which the reader maps to 15 and the writer to 4.
#include <cstdint>
#include <cstring>

#include "imaging/core/ISContainers.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/png/CISPNGCodec.h"

namespace {

// The library trace: shows nothing in this system.
void PNGTrace(int /*level*/, const char* /*format*/, const char* /*message*/) {}

}  // namespace

void PNGErrorHook(png_structp, png_const_charp message) { throw RovIrirev::ISException(message); }

void PNGWarningHook(png_structp, png_const_charp message) {
  PNGTrace(2, "%s\n", message);
  // A colour profile libpng does not like ("iCCP: known incorrect sRGB profile", common in
  // sound files) says nothing about the pixels.
  if (message && std::strncmp(message, "iCCP", 4) != 0) SetLastWarning(message);
}

void PNGReadCallback(png_structp png, png_bytep buffer, size_t n) {
  auto* source = static_cast<CISIO*>(png_get_io_ptr(png));
  if (!source || n > UINT32_MAX || !source->ReadExact(buffer, static_cast<uint32_t>(n))) png_error(png, "read Error");
}

void PNGWriteCallback(png_structp png, png_bytep data, size_t n) {
  auto* target = static_cast<PNGWriteTarget*>(png_get_io_ptr(png));
  if (!target || !target->sink || n > UINT32_MAX || !target->sink->Write(data, static_cast<uint32_t>(n)))
    png_error(png, "Write error");
  target->written += n;
}

void PNGFlushCallback(png_structp) {}
