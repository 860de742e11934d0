// Pieces shared by the JPEG reader, writer and transform: the libjpeg error hook, the source
// and destination managers over CISIO, and the row converters of the reader.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The stored bytes not yet read by libjpeg: those left in the source and those buffered. False
// (and 0) for a source of unknown length.
bool JPGBytesLeft(j_decompress_ptr cinfo, uint64_t* left);

// The most scans one decode or transform reads. Encoders write at most a few dozen; a file of
// thousands (each scan a pass over every block of its components, for a few bytes) costs
// minutes. A file past the limit is refused when libjpeg reaches its next scan.
constexpr int kJPGScanLimit = 500;

// What the scans of one decode or transform may cost, in units of about a nanosecond of
// libjpeg's work (measured with libjpeg-turbo on a 64-megapixel frame). A scan costs, for each
// block of its components, a visit (a DC scan's, whose blocks go by MCU, costs more) and each
// coefficient of its band, which the decoder can code whatever the data holds: an arithmetic
// decision that costs almost no data takes about 5 units, a Huffman refinement's test of a
// coefficient about 1. A restart interval costs about what a block's visit does.
constexpr uint64_t kJPGCostDCBlock = 64;
constexpr uint64_t kJPGCostACBlock = 10;
constexpr uint64_t kJPGCostArithCoefficient = 5;
constexpr uint64_t kJPGCostHuffmanCoefficient = 1;
constexpr uint64_t kJPGCostRestart = 16;
// A valid progression codes each coefficient of a block at most 14 times (once, then a
// refinement for each of at most 13 bits) in at most kJPGScanLimit scans: its scans cost less
// than 14 DC scans (966), 500 AC scans and restarts (13000) and 14 x 63 arithmetic decisions
// (4410) per block. The scans may cost that many units per block of the frame ...
constexpr uint64_t kJPGCostPerFrameBlock = 1 << 15;
// ... and at most this many in all, a few seconds of work, or kJPGCostPerDataByte for each byte
// of the file from its first scan on that libjpeg has read when a scan starts, whichever is
// more: a frame near the 64-megapixel ceiling whose progression codes most coefficients many
// times over holds megabytes of data, while a small file that asks for that work
// (arithmetic-coded decisions that cost almost no data) is refused. What a file may cost past a few seconds is bounded by what it holds.
constexpr uint64_t kJPGCostLimit = 5000000000ull;
constexpr uint64_t kJPGCostPerDataByte = 8192;

// The blocks of every component of the frame; what the scan whose header libjpeg has read last
// costs (its components' blocks in the frame, their band, its restart intervals).
uint64_t JPGFrameBlocks(j_decompress_ptr cinfo);
uint64_t JPGScanCost(j_decompress_ptr cinfo);

// After jpeg_read_header, before libjpeg sizes its buffers: the guards of one decode or
// coefficient read.
// - Asks the decode budget for the frame, which libjpeg decodes at any output scale and, for a
//   file of several scans or a coefficient read, buffers whole, every component's blocks.
// - Sets libjpeg's memory limit from the budget: room for `frameCopies` whole sets of the
//   frame's coefficients and the markers already saved. libjpeg judges its whole-image buffers
//   against it (with what it allocated before them) when it creates them.
// - Counts the scans and what they cost through libjpeg's progress hook, and refuses the scan
//   after kJPGScanLimit or the scan that takes the cost past kJPGCostPerFrameBlock per block of
//   the frame or past kJPGCostLimit (or kJPGCostPerDataByte for each byte from the first scan on
//   that libjpeg has read by the scan's start: bytes after the end of the image buy nothing).
// A refusal throws RovIrirev::ISException and leaves its reason for ISGetLastWarning.
void JPGGuardDecode(j_decompress_ptr cinfo, unsigned frameCopies);

// The scans the last decode or coefficient read of this thread had read when it ended or was
// refused (kJPGScanLimit for a file refused for its scans).
int JPGScansDecoded();
// What the scans of the last decode or coefficient read of this thread cost, the scan that
// would have gone past the limit not included.
uint64_t JPGScanCostDecoded();

// Installs the destination manager over `io` (not owned): one 4096-byte buffer, each full
// buffer one write; a failed write is libjpeg's file-write error.
void InitJPGDestination(j_compress_ptr cinfo, CISIO* io);

// Every grey byte written three times.
void GreyToRGBRow(const uint8_t* src, uint32_t width, uint8_t* dst);
// C, M, Y, K to R = C * K / 255, G = M * K / 255, B = Y * K / 255 (truncating).
void CMYKToRGBRow(const uint8_t* src, uint32_t width, uint8_t* dst);

// libjpeg's saved markers of a header: COM, and APP1 to APP14 (APP0 and APP15 not kept).
void JPGSaveMarkers(j_decompress_ptr cinfo);
// Keeps the colour profile, IPTC record and XMP packets of the saved markers for
// ISGetReadMetadata (JPGMetadata.cpp).
void JPGKeepMetadata(j_decompress_ptr cinfo);

constexpr size_t kJPGIOBufferSize = 4096;
