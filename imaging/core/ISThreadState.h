// The library's per-thread record, created on a thread's first library call: progress
// callback, call depth, allocation callbacks, the format layers' options, the JPEG metadata
// lists and the last error. Also the call-depth guard and the shared allocation rule.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/core/ISContainers.h"
#include "qrv/imaging.h"

// A 16-bit colour record: palette index, red, green, blue, grey.
struct ISColor16 {
  uint8_t index = 0;
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
  uint16_t gray = 0;
};

struct ISPNGOptions {
  double displayGamma = 2.9;
  ISColor16 defaultBackground;
  ISColor16 fileBackground;
  uint16_t transparencySwitch = 0;
  ISColor16 transparentColour;
  std::vector<ISKeyTextPair> textsRead;
  std::vector<ISKeyTextPair> textsToWrite;
  ISArray<unsigned char> xmp;  // written as an iTXt chunk "XML:com.adobe.xmp" when set
  ISArray<unsigned char> exif;  // an APP1 "Exif" payload, written as an eXIf chunk when set
};

constexpr int kJPGSamplingEntries = 10;

struct ISJPGOptions {
  int32_t dctMethod = 0;  // 0 libjpeg's default; 1 accurate integer, 2 fast integer, 3 float
  int32_t smoothing = 0;
  int32_t vSampling[kJPGSamplingEntries] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  int32_t hSampling[kJPGSamplingEntries] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  int32_t customSampling = 0;  // 0: libjpeg's defaults; 1: the two arrays above
  int32_t samplingCount = kJPGSamplingEntries;
  uint32_t readScaleNum = 1;
  uint32_t readScaleDen = 1;
  ISPtrVector<CFileDataTag> commentsRead;
  ISPtrVector<CFileDataTag> commentsToWrite;
  ISPtrVector<CFileDataTag> markersRead;
  ISPtrVector<CFileDataTag> markersToWrite;
};

// A tagged value of an extra TIFF tag: type 17 u8, 2 i16, 3 i32, 4 float, 5 double.
struct ISVariant {
  uint16_t type = 0;
  union {
    uint8_t u8;
    int16_t i16;
    int32_t i32;
    float f32;
    double f64;
  } value{};
};

struct ISTIFFExtraTag {
  uint32_t tag = 0;
  uint32_t type = 0;  // TIFF field type 1..12
  uint32_t count = 0;
  std::vector<ISVariant> values;
};

struct ISTIFFOptions {
  std::vector<ISTIFFExtraTag> tags;
  std::string software;
  uint8_t softwareFlag = 0;
  ISArray<unsigned char> photoshopResources;  // tag 34377
  ISArray<unsigned char> tag32932;
  ISArray<unsigned char> xmp;  // tag 700
  ISArray<unsigned char> iptc;  // tag 33723
  ISArray<unsigned char> exif;  // an APP1 "Exif" payload: its IFD0 camera tags, EXIF and GPS directories
  int32_t rowsPerStrip = -1;
  int32_t jpegQuality = 75;
  int32_t orientation = 1;
  int32_t alphaOverride = -1;
  uint32_t tileWidth = 0;
  uint32_t tileLength = 0;
};

struct ISTextBlock {
  char area[256] = {};
  std::string strings[4] = {std::string(), std::string(), std::string(), std::string("IS 3.0.48.1")};
  ISPtrVector<CFileDataTag> lists[2];
};

// The metadata blocks met by the last picture read on the thread (ISGetReadMetadata), by kind
// (IS_META_ICC ... IS_META_EXIF, less one), and why a block that was met was left out.
struct ISMetadataRead {
  ISArray<unsigned char> blocks[5];
  std::string notes[5];
  void Clear() {
    for (ISArray<unsigned char>& b : blocks) b.Free();
    for (std::string& n : notes) n.clear();
  }
};

struct ISThreadState {
  ISProgressCallback progressCallback = nullptr;
  int32_t callDepth = 0;
  uintptr_t progressUser = 0;
  ISAllocCallback allocCallback = nullptr;
  ISReAllocCallback reallocCallback = nullptr;
  ISFreeCallback freeCallback = nullptr;
  uintptr_t allocUser = 0;
  ISPNGOptions png;
  ISJPGOptions jpg;
  ISTIFFOptions tiff;
  ISTextBlock text;
  ISPtrVector<CFileDataTag> extraList;
  ISArray<unsigned char> psdResources;  // written as a PSD file's image-resources section
  std::vector<unsigned char> spareVector;
  uint32_t spareWord = 0;
  double textScale = 1.0;              // read by the text drawing
  ISArray<unsigned char> iccProfile;   // embedded by the JPEG, PNG and TIFF writers when set
  ISMetadataRead metadataRead;
  ISErrorCode lastError = IS_ERR_OK;
  // The first warning of the outermost entry point in progress or last finished (see
  // ISGetLastWarning); cleared on entry like the last error.
  std::string lastWarning;
};

// The calling thread's record, created on first use; null when none can be had.
ISThreadState* GetThreadState();
void SetLastErrorCode(ISErrorCode code);
// Records a decoder's warning for ISGetLastWarning: the first one of a call is kept (cut to
// kMaxWarningText bytes), later ones are dropped.
constexpr size_t kMaxWarningText = 200;
void SetLastWarning(const char* text);
// Records why a call refused its input, in place of any earlier warning of the call.
void ReplaceLastWarning(const char* text);
// Records a reader's warning for data that ended before the picture did:
// "<format> file ended early: <decoded> of <total> <units> decoded".
void WarnEndedEarly(const char* format, uint64_t decoded, uint64_t total, const char* units = "rows");
void EnterLibraryCall();
void LeaveLibraryCall();

// Raises the call depth for its lifetime. Every entry point holds exactly one.
class ISCallDepthGuard {
 public:
  explicit ISCallDepthGuard(ISThreadState* ts) : ts_(ts) {
    if (ts_) ++ts_->callDepth;
  }
  ISCallDepthGuard(const ISCallDepthGuard&) = delete;
  ISCallDepthGuard& operator=(const ISCallDepthGuard&) = delete;
  ~ISCallDepthGuard() {
    if (ts_) --ts_->callDepth;
  }

 private:
  ISThreadState* ts_;
};

// Reports progress for an operation: only at call depth 1 with a callback installed. Returns
// false when the operation must stop (error 14): a reply of 0, or a negative reply when
// stopOnNegative is set.
bool ReportProgress(DWORD done, DWORD total, bool stopOnNegative = true);

// Global-memory blocks handed to callers: zero-filled, refused at or above the limit.
HGLOBAL SafeGlobalAlloc(uint64_t n);
HGLOBAL SafeGlobalReAlloc(HGLOBAL block, uint64_t n);

// The 64K product table: P[b * 256 + a] = trunc(a * (b / 255.0)).
const uint8_t* ProductTable();

// Number of records the process holds (for tests of the record list).
size_t ThreadStateRecordCount();
