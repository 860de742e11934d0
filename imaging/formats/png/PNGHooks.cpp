// libpng's error, warning and data callbacks of the PNG layer over CISIO. Errors become
// RovIrirev::ISException, which the reader maps to 15 and the writer to 4.
#include <cstdint>
#include <cstring>
#include <string>

#include "imaging/core/ISContainers.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/MetadataRead.h"
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

void PNGReadWarningHook(png_structp png, png_const_charp message) {
  static const struct {
    const char* chunk;
    DWORD kind;
  } kMetadataChunks[] = {{"iCCP", IS_META_ICC}, {"iTXt", IS_META_XMP}, {"eXIf", IS_META_EXIF}};
  for (const auto& m : kMetadataChunks) {
    if (!message || std::strncmp(message, m.chunk, 4) != 0) continue;
    PNGTrace(2, "%s\n", message);
    const char* said = message[4] == ':' ? message + 5 + (message[5] == ' ') : message + 4;
    // libpng's words for a chunk past its memory limit say what it costs.
    const std::string why =
        std::strstr(said, "memory") || std::strstr(said, "too l") || std::strstr(said, "limit")
            ? std::string("its PNG ") + m.chunk + (m.kind == IS_META_ICC ? " chunk inflates past " : " chunk is over ") +
                  std::to_string(kPNGMaxChunkBytes >> 20) + " MB (libpng: " + said + ")"
            : std::string("its PNG ") + m.chunk + " chunk: " + said;
    NoteMetadataLeftOut(m.kind, why.c_str());
    return;
  }
  PNGWarningHook(png, message);
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
