// The extra tags of a written page: the byte arrays of the thread's options, and the tag list
// with its value writers, each value checked against libtiff's description of the tag.
#include <cstring>
#include <string>
#include <vector>

#include "imaging/formats/tiff/CISTIFFWriter.h"
#include "imaging/formats/tiff/TIFFClient.h"

bool SetTIFFArrayTag(TIFF* tif, uint32_t tag, const ISArray<unsigned char>& bytes) {
  if (bytes.Count() > 0 && bytes.Data()) TIFFSetField(tif, tag, bytes.Count(), bytes.Data());
  return true;
}

namespace {

// Tags the writer sets itself.
bool IsWriterTag(uint32_t tag) {
  return (tag >= 256 && tag <= 259) || tag == 262 || tag == 273 || (tag >= 277 && tag <= 279) || tag == 284 ||
         tag == 347 || (tag >= 512 && tag <= 515) || (tag >= 517 && tag <= 521) || (tag >= 529 && tag <= 531);
}

// Values of the writer's own type as they leave a VARIANT.
template <typename T>
T VariantValue(const ISVariant& v);
template <>
uint8_t VariantValue<uint8_t>(const ISVariant& v) { return v.value.u8; }
template <>
uint16_t VariantValue<uint16_t>(const ISVariant& v) { return static_cast<uint16_t>(v.value.i16); }
template <>
uint32_t VariantValue<uint32_t>(const ISVariant& v) { return static_cast<uint32_t>(v.value.i32); }
template <>
float VariantValue<float>(const ISVariant& v) { return v.value.f32; }
template <>
double VariantValue<double>(const ISVariant& v) { return v.value.f64; }

// Sets a value list in the form libtiff takes for the tag's description:
//  - ASCII: one terminated text;
//  - counted tags: the count (16 or 32 bits) and the array;
//  - one value per sample, or a variable count without a count: the array alone (libtiff
//    copies samples-per-pixel values, or one);
//  - PageNumber, HalftoneHints, DotRange, YCbCrSubsampling: two separate values;
//  - a write count of 1: the value alone; other fixed counts: the array alone.
// Rational and float arrays are handed over at the element size libtiff keeps for the tag.
template <typename T>
ISErrorCode SetValues(TIFF* tif, const TIFFField* field, uint32_t tag, const std::vector<T>& values) {
  const int writeCount = TIFFFieldWriteCount(field);
  if (TIFFFieldDataType(field) == TIFF_ASCII) {
    std::string text;
    for (T v : values) {
      if (v == 0) break;
      text.push_back(static_cast<char>(v));
    }
    return TIFFSetField(tif, tag, text.c_str()) ? IS_ERR_OK : IS_ERR_BADPARAM;
  }
  const bool isFloat = std::is_floating_point<T>::value;
  std::vector<float> floats;
  std::vector<double> doubles;
  const void* array = values.data();
  if (isFloat) {
    if (TIFFFieldSetGetSize(field) == 8) {
      doubles.assign(values.begin(), values.end());
      array = doubles.data();
    } else {
      floats.assign(values.begin(), values.end());
      array = floats.data();
    }
  }
  int ok = 0;
  const auto count = static_cast<uint32_t>(values.size());
  const bool pair = tag == TIFFTAG_PAGENUMBER || tag == TIFFTAG_HALFTONEHINTS || tag == TIFFTAG_DOTRANGE ||
                    tag == TIFFTAG_YCBCRSUBSAMPLING;
  if (TIFFFieldPassCount(field)) {
    if (writeCount == TIFF_VARIABLE2)
      ok = TIFFSetField(tif, tag, count, array);
    else if (count <= 0xFFFF)
      ok = TIFFSetField(tif, tag, static_cast<uint16_t>(count), array);
  } else if (writeCount == TIFF_SPP) {
    // libtiff copies one value per sample from the array.
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (count < samples) return IS_ERR_BADPARAM;
    ok = TIFFSetField(tif, tag, array);
  } else if (writeCount == TIFF_VARIABLE || writeCount == TIFF_VARIABLE2) {
    ok = TIFFSetField(tif, tag, array);
  } else if (pair) {
    ok = TIFFSetField(tif, tag, values[0], values[1]);
  } else if (writeCount == 1) {
    ok = TIFFSetField(tif, tag, values[0]);
  } else {
    ok = TIFFSetField(tif, tag, array);
  }
  return ok ? IS_ERR_OK : IS_ERR_BADPARAM;
}

template <typename T>
ISErrorCode SetTagValues(TIFF* tif, const ISTIFFExtraTag& entry, uint16_t variantType) {
  if (entry.values.size() < entry.count || entry.values.empty()) {
    TIFFTrace("Not enough data elements in TIFF tag\n");
    return IS_ERR_BADPARAM;
  }
  // Only libtiff's own descriptions count; the two tags of the extender are not among them.
  const TIFFField* field = TIFFFindField(tif, entry.tag, TIFF_ANY);
  if (!field || entry.tag == 32932 || entry.tag == 34665) {
    TIFFTrace("Unsupported TIFF tag\n");
    return IS_ERR_BADPARAM;
  }
  if (static_cast<uint32_t>(TIFFFieldDataType(field)) != entry.type) {
    TIFFTrace("Incorrect TIFF tag data type\n");
    return IS_ERR_BADPARAM;
  }
  const int writeCount = TIFFFieldWriteCount(field);
  if (writeCount > 0 && static_cast<uint32_t>(writeCount) > entry.count) {
    TIFFTrace("Incorrect TIFF tag data count\n");
    return IS_ERR_BADPARAM;
  }
  std::vector<T> values;
  if (entry.count <= 1) {
    values.push_back(VariantValue<T>(entry.values[0]));
  } else {
    try {
      values.reserve(entry.count);
    } catch (const std::bad_alloc&) {
      return IS_ERR_NOMEM;
    }
    for (uint32_t i = 0; i < entry.count; ++i) {
      if (entry.values[i].type != variantType) {
        TIFFTrace("Bad Variant type in TIFF tag\n");
        return IS_ERR_BADPARAM;
      }
      values.push_back(VariantValue<T>(entry.values[i]));
    }
    if (writeCount > 8) return IS_ERR_INTERNAL;
  }
  return SetValues(tif, field, entry.tag, values);
}

}  // namespace

ISErrorCode SetTIFFTagBytes(TIFF* tif, const ISTIFFExtraTag& entry) { return SetTagValues<uint8_t>(tif, entry, 17); }
ISErrorCode SetTIFFTagShorts(TIFF* tif, const ISTIFFExtraTag& entry) { return SetTagValues<uint16_t>(tif, entry, 2); }
ISErrorCode SetTIFFTagLongs(TIFF* tif, const ISTIFFExtraTag& entry) { return SetTagValues<uint32_t>(tif, entry, 3); }
ISErrorCode SetTIFFTagFloats(TIFF* tif, const ISTIFFExtraTag& entry) { return SetTagValues<float>(tif, entry, 4); }
ISErrorCode SetTIFFTagDoubles(TIFF* tif, const ISTIFFExtraTag& entry) { return SetTagValues<double>(tif, entry, 5); }

BOOL WriteTIFFTags(TIFF* tif) {
  const ISThreadState* ts = GetThreadState();
  if (!ts) return TRUE;
  ISErrorCode error = IS_ERR_OK;
  for (const ISTIFFExtraTag& entry : ts->tiff.tags) {
    if (IsWriterTag(entry.tag)) {
      TIFFTrace("Writing of tag %d is not permitted", static_cast<int>(entry.tag));
      continue;
    }
    switch (entry.type) {
      case TIFF_BYTE:
      case TIFF_ASCII:
      case TIFF_UNDEFINED: error = SetTIFFTagBytes(tif, entry); break;
      case TIFF_SHORT:
      case TIFF_SSHORT: error = SetTIFFTagShorts(tif, entry); break;
      case TIFF_LONG:
      case TIFF_SLONG: error = SetTIFFTagLongs(tif, entry); break;
      case TIFF_RATIONAL:
      case TIFF_SRATIONAL:
      case TIFF_FLOAT: error = SetTIFFTagFloats(tif, entry); break;
      case TIFF_DOUBLE: error = SetTIFFTagDoubles(tif, entry); break;
      default: return FALSE;
    }
  }
  return error == IS_ERR_OK ? TRUE : FALSE;
}
