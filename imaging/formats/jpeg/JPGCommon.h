// Pieces shared by the JPEG reader, writer and transform: the libjpeg error hook, the source
// and destination managers over CISIO, and the row converters of the reader.
#pragma once

#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISContainers.h"

// libjpeg's error exit: formats the message and throws RovIrirev::ISException carrying it.
// libjpeg is built with unwind tables for every C function, so the exception passes through
// its frames to the catch of the operation that called it; the object is then only destroyed.
[[noreturn]] void JPGErrorExit(j_common_ptr cinfo);

// An error manager whose error exit is JPGErrorExit and whose message output is the library's
// silent trace (libjpeg never writes to stderr). Warnings keep libjpeg's counting, and the
// first one of a call is kept for ISGetLastWarning.
jpeg_error_mgr* JPGInitErrorManager(jpeg_error_mgr* err);

// Installs the source manager over `io` (not owned). swapPairs exchanges adjacent bytes of what
// is read; seekBackAtEnd leaves the source just after the JPEG data when libjpeg terminates it.
void InitJPGSource(j_decompress_ptr cinfo, CISIO* io, bool swapPairs, bool seekBackAtEnd);

// After jpeg_read_header, before libjpeg sizes its buffers: asks the decode budget whether a
// `width` x `height` picture, read at scaleNum / scaleDenom of the frame, is one that the bytes
// left in the source could give. A refusal throws RovIrirev::ISException and leaves the
// budget's reason for ISGetLastWarning.
void JPGCheckDecodeBudget(j_decompress_ptr cinfo, uint64_t width, uint64_t height, unsigned scaleNum,
                          unsigned scaleDenom);

// Installs the destination manager over `io` (not owned): one 4096-byte buffer, each full
// buffer one write; a failed write is libjpeg's file-write error.
void InitJPGDestination(j_compress_ptr cinfo, CISIO* io);

// Every grey byte written three times.
void GreyToRGBRow(const uint8_t* src, uint32_t width, uint8_t* dst);
// C, M, Y, K to R = C * K / 255, G = M * K / 255, B = Y * K / 255 (truncating).
void CMYKToRGBRow(const uint8_t* src, uint32_t width, uint8_t* dst);

// libjpeg's saved markers of a header: COM, and APP1 to APP14 (APP0 and APP15 not kept).
void JPGSaveMarkers(j_decompress_ptr cinfo);

constexpr size_t kJPGIOBufferSize = 4096;
