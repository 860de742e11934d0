// Client procedures over CISIO and the tag extender.
#include "imaging/formats/tiff/TIFFClient.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISThreadState.h"

namespace {

CISIO& StreamOf(thandle_t h) { return static_cast<TIFFClientData*>(h)->io; }

tmsize_t ClientRead(thandle_t h, void* buffer, tmsize_t n) {
  if (n <= 0) return 0;
  tmsize_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < n) {
    const tmsize_t left = n - done;
    const uint32_t chunk = left > 0x40000000 ? 0x40000000u : static_cast<uint32_t>(left);
    const uint32_t got = StreamOf(h).Read(out + done, chunk);
    done += got;
    if (got < chunk) break;
  }
  return done;
}

tmsize_t ClientWrite(thandle_t h, void* buffer, tmsize_t n) {
  if (n <= 0) return 0;
  tmsize_t done = 0;
  const auto* in = static_cast<const unsigned char*>(buffer);
  while (done < n) {
    const tmsize_t left = n - done;
    const uint32_t chunk = left > 0x40000000 ? 0x40000000u : static_cast<uint32_t>(left);
    if (!StreamOf(h).Write(in + done, chunk)) return 0;
    done += chunk;
  }
  return n;
}

// A failed or out-of-range seek answers (toff_t)-1, which libtiff takes as failure.
toff_t ClientSeek(thandle_t h, toff_t offset, int whence) {
  const int32_t origin = whence == SEEK_CUR ? IS_SEEK_CUR : whence == SEEK_END ? IS_SEEK_END : IS_SEEK_SET;
  const auto signedOffset = static_cast<int64_t>(offset);
  if (origin == IS_SEEK_SET ? offset > static_cast<toff_t>(INT32_MAX)
                            : (signedOffset > INT32_MAX || signedOffset < INT32_MIN))
    return static_cast<toff_t>(-1);
  CISIO& io = StreamOf(h);
  if (!io.Seek(static_cast<int32_t>(signedOffset), origin)) return static_cast<toff_t>(-1);
  uint32_t position = 0;
  if (!io.Tell(&position)) return static_cast<toff_t>(-1);
  return position;
}

int ClientClose(thandle_t) { return 1; }

toff_t ClientSize(thandle_t h) {
  uint32_t size = 0;
  return StreamOf(h).GetSize(&size) ? size : 0;
}

int ClientMap(thandle_t, void**, toff_t*) { return 0; }
void ClientUnmap(thandle_t, void*, toff_t) {}

// Messages about the tags of a directory (unknown or irregular fields that libtiff reads
// around) say nothing about the pixels; the others (strips or tiles that ended early or do
// not decode) mean the picture read is damaged.
bool AboutTagsOnly(const char* module) {
  static const char* const kTagModules[] = {"TIFFReadDirectory", "TIFFReadCustomDirectory", "TIFFFetch",
                                            "TIFFReadDirEntry",  "TIFFAdvanceDirectory",    "_TIFFVSetField",
                                            "_TIFFVGetField",    "TIFFFieldWithTag",        "TIFFReadEXIFDirectory",
                                            "TIFFReadGPSDirectory", "_TIFFCheckFieldIsValidForCodec"};
  if (!module) return false;
  for (const char* prefix : kTagModules)
    if (std::strncmp(module, prefix, std::strlen(prefix)) == 0) return true;
  return false;
}

// The notice libtiff gives for every old-style JPEG page it sets up to decode: the format is
// deprecated, not the page damaged.
bool OldStyleJPEGNotice(const char* module, const char* fmt) {
  return module && std::strcmp(module, "OJPEGSetupDecode") == 0 && std::strncmp(fmt, "Deprecated", 10) == 0;
}

// Where libtiff refuses an allocation over the limit of the handle's open options.
bool AboutRefusedAllocation(const char* module) {
  return module && (std::strcmp(module, "_TIFFmallocExt") == 0 || std::strcmp(module, "_TIFFcallocExt") == 0 ||
                    std::strcmp(module, "_TIFFreallocExt") == 0);
}

// libtiff's errors and warnings for our handles: to the trace, never to stderr; those about
// the pixel data are kept for ISGetLastWarning.
int ClientMessage(TIFF* tif, void*, const char* module, const char* fmt, va_list args) {
  TIFFTrace("%s: %s", module ? module : "", fmt ? fmt : "");
  if (!fmt || AboutTagsOnly(module) || OldStyleJPEGNotice(module, fmt)) return 1;
  if (TIFFClientData* own = tif ? TIFFClientOf(tif) : nullptr) {
    ++own->messages;
    if (own->libjpegWarnedAt == UINT32_MAX && module && std::strcmp(module, "JPEGLib") == 0)
      own->libjpegWarnedAt = TIFFCurrentRow(tif);
  }
  char text[kMaxWarningText + 1] = {};
  std::vsnprintf(text, sizeof text, fmt, args);
  // A refused allocation ends the read: its words are the reason given.
  TIFFClientData* client = AboutRefusedAllocation(module) ? TIFFClientOf(tif) : nullptr;
  if (client) {
    client->state.allocationRefused = true;
    ReplaceLastWarning(text);
  } else {
    SetLastWarning(text);
  }
  return 1;
}

// libtiff's last error on this thread, for a refusal of the file as a whole (an open that
// fails says why).
thread_local std::string t_lastLibraryError;

int ClientError(TIFF* tif, void* user, const char* module, const char* fmt, va_list args) {
  if (fmt) {
    va_list copy;
    va_copy(copy, args);
    char text[kMaxWarningText + 1] = {};
    std::vsnprintf(text, sizeof text, fmt, copy);
    va_end(copy);
    t_lastLibraryError = text;
  }
  return ClientMessage(tif, user, module, fmt, args);
}

// Why a file that libtiff cannot open is no TIFF it can read, in the system's words: the
// header, the first directory's place and size against the end of the file; else libtiff's
// own last words. Empty when nothing can be said.
std::string WhyNotOpened(CISIO& io) {
  uint32_t size = 0;
  unsigned char h[16] = {};
  if (!io.GetSize(&size) || !io.Rewind()) return t_lastLibraryError;
  const uint32_t got = io.Read(h, sizeof h);
  char text[kMaxWarningText + 1] = {};
  if (got < 8) {
    std::snprintf(text, sizeof text, "TIFF file of %u bytes ends within its 8-byte header", size);
    return text;
  }
  const bool big = h[0] == 'M' && h[1] == 'M';
  if (!big && !(h[0] == 'I' && h[1] == 'I')) {
    std::snprintf(text, sizeof text, "the file begins %02X %02X, not II or MM", h[0], h[1]);
    return text;
  }
  auto value = [&](const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t{p[big ? bytes - 1 - i : i]} << (8 * i);
    return v;
  };
  const uint64_t version = value(h + 2, 2);
  if (version != 42 && version != 43) {
    std::snprintf(text, sizeof text, "TIFF version %llu (42 or 43 expected)", static_cast<unsigned long long>(version));
    return text;
  }
  const bool bigTiff = version == 43;
  if (bigTiff && got < 16) {
    std::snprintf(text, sizeof text, "BigTIFF file of %u bytes ends within its 16-byte header", size);
    return text;
  }
  const uint64_t first = bigTiff ? value(h + 8, 8) : value(h + 4, 4);
  const uint64_t headerBytes = bigTiff ? 16 : 8, countBytes = bigTiff ? 8 : 2, entryBytes = bigTiff ? 20 : 12;
  if (first < headerBytes) {
    std::snprintf(text, sizeof text, "the first TIFF directory at byte %llu lies within the %llu-byte header",
                  static_cast<unsigned long long>(first), static_cast<unsigned long long>(headerBytes));
    return text;
  }
  if (first > size || countBytes > size - first) {
    std::snprintf(text, sizeof text, "the first TIFF directory at byte %llu lies past the end of the file (%u bytes)",
                  static_cast<unsigned long long>(first), size);
    return text;
  }
  unsigned char c[8] = {};
  if (!io.Seek(static_cast<int32_t>(first), IS_SEEK_SET) || !io.ReadExact(c, static_cast<uint32_t>(countBytes)))
    return t_lastLibraryError;
  const uint64_t entries = value(c, static_cast<int>(countBytes));
  if (entries > size || entries * entryBytes > size - first - countBytes) {
    std::snprintf(text, sizeof text,
                  "the first TIFF directory at byte %llu claims %llu entries (%llu bytes), but the file ends "
                  "at byte %u",
                  static_cast<unsigned long long>(first), static_cast<unsigned long long>(entries),
                  static_cast<unsigned long long>(entries * entryBytes), size);
    return text;
  }
  if (entries == 0) {
    std::snprintf(text, sizeof text, "the first TIFF directory at byte %llu has no entries",
                  static_cast<unsigned long long>(first));
    return text;
  }
  return t_lastLibraryError;
}

TIFFExtendProc g_previousExtender = nullptr;

void TagExtender(TIFF* tif) {
  static const TIFFFieldInfo kFields[] = {
      {34665, 1, 1, TIFF_LONG, FIELD_CUSTOM, 1, 0, const_cast<char*>("EXIF Offset")},
      {32932, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 0, 1, const_cast<char*>("baAnnotations")},
  };
  // Tags libtiff already describes keep its own description (34665 is its EXIF IFD).
  for (const TIFFFieldInfo& field : kFields)
    if (!TIFFFindField(tif, field.field_tag, TIFF_ANY)) TIFFMergeFieldInfo(tif, &field, 1);
  if (g_previousExtender) g_previousExtender(tif);
}

}  // namespace

void InstallTIFFTagExtender() {
  static std::once_flag once;
  std::call_once(once, [] { g_previousExtender = TIFFSetTagExtender(TagExtender); });
}

uint64_t TIFFDirectoryAllocLimit(CISIO& stream) {
  uint32_t size = 0;
  if (!stream.GetSize(&size)) size = 0;
  const uint64_t pixels = std::max(RovIrirev::kUncheckedPixelLimit,
                                   RovIrirev::BudgetMultiply(size, RovIrirev::kPixelsPerStoredByte));
  return RovIrirev::DecodeMemoryLimit(pixels);
}

TIFF* OpenTIFFClient(const CISIO& stream, const char* mode, uint64_t maxSingleAlloc) {
  InstallTIFFTagExtender();
  auto* client = new (std::nothrow) TIFFClientData(stream);
  if (!client) return nullptr;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) {
    delete client;
    return nullptr;
  }
  client->memoryLimit = std::min<uint64_t>(maxSingleAlloc, kTIFFMaxSingleAlloc);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(client->memoryLimit));
  TIFFOpenOptionsSetErrorHandlerExtR(options, ClientError, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, ClientMessage, nullptr);
  const char* name = client->io.IsValid() ? client->io.Handle()->path.c_str() : "";
  t_lastLibraryError.clear();
  TIFF* tif = TIFFClientOpenExt(name, mode, client, ClientRead, ClientWrite, ClientSeek, ClientClose, ClientSize,
                                ClientMap, ClientUnmap, options);
  TIFFOpenOptionsFree(options);
  if (!tif) {
    // A file refused whole says what was met.
    if (mode[0] == 'r') {
      const std::string why = WhyNotOpened(client->io);
      if (!why.empty()) ReplaceLastWarning(why.c_str());
    }
    delete client;
  }
  return tif;
}

bool SelectTIFFPage(ISErrorCode& error, TIFF* tif, DWORD page) {
  t_lastLibraryError.clear();
  if (TIFFSetDirectory(tif, page)) return true;
  TIFFClientData* client = TIFFClientOf(tif);
  // A refused allocation has said why already.
  if (client && client->state.allocationRefused) return error = IS_ERR_BADTIFF, false;
  error = IS_ERR_BADPARAM;
  // libtiff counts the directories within the same loop and size checks it reads them with.
  const tdir_t pages = TIFFNumberOfDirectories(tif);
  char text[kMaxWarningText + 1] = {};
  if (page >= pages)
    std::snprintf(text, sizeof text, "TIFF page %u asked for, but the file holds %u page(s)",
                  static_cast<unsigned>(page), static_cast<unsigned>(pages));
  else
    std::snprintf(text, sizeof text, "the directory of TIFF page %u cannot be read%s%s", static_cast<unsigned>(page),
                  t_lastLibraryError.empty() ? "" : ": ", t_lastLibraryError.c_str());
  ReplaceLastWarning(text);
  return false;
}

TIFFClientData* TIFFClientOf(TIFF* tif) { return tif ? static_cast<TIFFClientData*>(TIFFClientdata(tif)) : nullptr; }

void CloseTIFFClient(TIFF* tif) {
  if (!tif) return;
  TIFFClientData* client = TIFFClientOf(tif);
  TIFFClose(tif);
  delete client;
}
