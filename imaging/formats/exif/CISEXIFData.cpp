// The EXIF tag classes: reading values in either byte order, the text of the values, and the
// serialisation of a tag back into an IFD entry.
#include "imaging/formats/exif/CISEXIFData.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "values are decoded for a little-endian host");

namespace CISEXIFData {

namespace {

// Rationals are two 32-bit words, each swapped on its own.
template <typename V>
constexpr size_t WordSize() {
  return sizeof(V) == 8 && !std::is_floating_point<V>::value ? 4 : sizeof(V);
}

void SwapWords(uint8_t* p, size_t size, size_t word) {
  for (size_t w = 0; w + word <= size; w += word)
    for (size_t i = 0; i < word / 2; ++i) std::swap(p[w + i], p[w + word - 1 - i]);
}

void Put32(uint8_t* p, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) p[big ? 3 - i : i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v, bool big) {
  p[big ? 1 : 0] = static_cast<uint8_t>(v);
  p[big ? 0 : 1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

uint32_t TypeSize(uint16_t type) {
  switch (type) {
    case kTypeByte:
    case kTypeASCII:
    case kTypeSByte:
    case kTypeUndefined: return 1;
    case kTypeShort:
    case kTypeSShort: return 2;
    case kTypeLong:
    case kTypeSLong:
    case kTypeFloat: return 4;
    case kTypeRational:
    case kTypeSRational:
    case kTypeDouble: return 8;
    default: return 0;
  }
}

void CEXIFTagBase::BuildEntryHeader(uint8_t* out, uint32_t dataOffset) const {
  const bool big = bigEndian != 0;
  Put16(out, entry.tag, big);
  Put16(out + 2, entry.type, big);
  Put32(out + 4, entry.count, big);
  std::memset(out + 8, 0, 4);
  if (GetDataSize() == 0) {
    std::vector<uint8_t> bytes = ValueBytes();
    std::memcpy(out + 8, bytes.data(), bytes.size() < 4 ? bytes.size() : 4);
  } else {
    Put32(out + 8, dataOffset, big);
  }
}

// ---- lists of fixed-size values

template <typename V>
bool CEXIFTagList<V>::AddValues(const void* array, uint32_t count, uint32_t) {
  const V* p = static_cast<const V*>(array);
  values.insert(values.end(), p, p + count);
  return true;
}

template <typename V>
bool CEXIFTagList<V>::ReadValue(const uint8_t* data, uint32_t size, bool swap) {
  if (!data || size < sizeof(V)) return false;
  uint8_t raw[sizeof(V)];
  std::memcpy(raw, data, sizeof(V));
  if (swap) SwapWords(raw, sizeof(V), WordSize<V>());
  V v;
  std::memcpy(&v, raw, sizeof(V));
  values.push_back(v);
  return true;
}

template <typename V>
std::vector<uint8_t> CEXIFTagList<V>::ValueBytes() const {
  std::vector<uint8_t> out(values.size() * sizeof(V));
  if (!out.empty()) std::memcpy(out.data(), values.data(), out.size());
  if (bigEndian) SwapWords(out.data(), out.size(), WordSize<V>());
  return out;
}

template <typename V>
uint32_t CEXIFTagList<V>::GetDataSize() const {
  uint64_t total = static_cast<uint64_t>(values.size()) * sizeof(V);
  return total > 4 ? static_cast<uint32_t>(total) : 0;
}

template <typename V>
uint32_t CEXIFTagList<V>::WriteEntry(uint8_t* entryOut, uint8_t* dataOut, uint32_t dataOffset) const {
  BuildEntryHeader(entryOut, dataOffset);
  uint32_t size = GetDataSize();
  if (size && dataOut) {
    std::vector<uint8_t> bytes = ValueBytes();
    std::memcpy(dataOut, bytes.data(), size);
  }
  return 12 + size;
}

template <typename V>
std::string CEXIFTagList<V>::GetText() const {
  std::string text;
  char buf[64];
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) text += ", ";
    Format(values[i], buf, sizeof buf);
    text += buf;
  }
  return text;
}

template class CEXIFTagList<uint16_t>;
template class CEXIFTagList<uint32_t>;
template class CEXIFTagList<ISURational>;
template class CEXIFTagList<int8_t>;
template class CEXIFTagList<int16_t>;
template class CEXIFTagList<int32_t>;
template class CEXIFTagList<ISSRational>;
template class CEXIFTagList<float>;
template class CEXIFTagList<double>;

void CEXIFTagU16::Format(const uint16_t& v, char* out, size_t n) const { std::snprintf(out, n, "%d", v); }
// Unsigned, so that 4294967295 is not shown as -1.
void CEXIFTagU32::Format(const uint32_t& v, char* out, size_t n) const { std::snprintf(out, n, "%u", v); }
void CEXIFTagURat::Format(const ISURational& v, char* out, size_t n) const {
  std::snprintf(out, n, "%u/%u", v.numerator, v.denominator);
}
void CEXIFTagI8::Format(const int8_t& v, char* out, size_t n) const { std::snprintf(out, n, "%d", v); }
void CEXIFTagI16::Format(const int16_t& v, char* out, size_t n) const { std::snprintf(out, n, "%d", v); }
void CEXIFTagI32::Format(const int32_t& v, char* out, size_t n) const { std::snprintf(out, n, "%d", v); }
void CEXIFTagSRat::Format(const ISSRational& v, char* out, size_t n) const {
  std::snprintf(out, n, "%d/%d", v.numerator, v.denominator);
}
void CEXIFTagR4::Format(const float& v, char* out, size_t n) const {
  std::snprintf(out, n, "%6.4f", static_cast<double>(v));
}
void CEXIFTagR8::Format(const double& v, char* out, size_t n) const { std::snprintf(out, n, "%6.4f", v); }

// ---- bytes

bool CEXIFTagU8::AddValues(const void* array, uint32_t count, uint32_t) {
  return ReadValue(static_cast<const uint8_t*>(array), count, false);
}

bool CEXIFTagU8::ReadValue(const uint8_t* data, uint32_t size, bool) {
  if (size == 0) return true;
  if (!data) return false;
  const uint32_t old = values.Count();
  if (size > 0x7FFFFFFFu - old) return false;
  ISArray<unsigned char> grown;
  grown.Resize(old + size);
  if (!grown.Data()) throw std::bad_alloc();
  if (old) std::memcpy(grown.Data(), values.Data(), old);
  std::memcpy(grown.Data() + old, data, size);
  values = std::move(grown);
  return true;
}

std::vector<uint8_t> CEXIFTagU8::ValueBytes() const {
  return std::vector<uint8_t>(values.Data(), values.Data() + values.Count());
}

uint32_t CEXIFTagU8::GetDataSize() const { return values.Count() > 4 ? values.Count() : 0; }

uint32_t CEXIFTagU8::WriteEntry(uint8_t* entryOut, uint8_t* dataOut, uint32_t dataOffset) const {
  BuildEntryHeader(entryOut, dataOffset);
  uint32_t size = GetDataSize();
  if (size && dataOut) std::memcpy(dataOut, values.Data(), size);
  return 12 + size;
}

std::string CEXIFTagU8::GetText() const {
  std::string text;
  char buf[8];
  for (uint32_t i = 0; i < values.Count(); ++i) {
    if (i) text += ", ";
    unsigned v = values[i];
    std::snprintf(buf, sizeof buf, v < 16 ? "x0%x" : "x%x", v);
    text += buf;
  }
  return text;
}

// ---- strings

bool CEXIFTagASCII::AddValues(const void* array, uint32_t count, uint32_t) {
  const char* const* p = static_cast<const char* const*>(array);
  for (uint32_t i = 0; i < count; ++i) values.emplace_back(p[i] ? p[i] : "");
  return true;
}

bool CEXIFTagASCII::ReadValue(const uint8_t* data, uint32_t size, bool) {
  if (!data && size) return false;
  const char* s = reinterpret_cast<const char*>(data);
  size_t n = size ? strnlen(s, size) : 0;
  values.emplace_back(s ? s : "", n);
  return true;
}

std::vector<uint8_t> CEXIFTagASCII::ValueBytes() const {
  std::vector<uint8_t> out;
  for (const std::string& s : values) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
  }
  return out;
}

uint32_t CEXIFTagASCII::GetDataSize() const {
  uint64_t total = 0;
  for (const std::string& s : values) total += s.size() + 1;
  return total > 4 ? static_cast<uint32_t>(total) : 0;
}

uint32_t CEXIFTagASCII::WriteEntry(uint8_t* entryOut, uint8_t* dataOut, uint32_t dataOffset) const {
  BuildEntryHeader(entryOut, dataOffset);
  uint32_t size = GetDataSize();
  if (size && dataOut) {
    std::vector<uint8_t> bytes = ValueBytes();
    std::memcpy(dataOut, bytes.data(), size);
  }
  return 12 + size;
}

std::string CEXIFTagASCII::GetText() const {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) text += ", ";
    text += values[i];
  }
  return text;
}

}  // namespace CISEXIFData
