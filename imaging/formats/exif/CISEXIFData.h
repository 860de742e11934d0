// The tag objects of an EXIF block: one class per TIFF value type, each holding the IFD entry
// as read and its decoded values, and rendering the values as the text callers parse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/core/ISContainers.h"

namespace CISEXIFData {

// One IFD entry as decoded into host order.
struct ISEXIFEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t value = 0;  // the values themselves when they fit in 4 bytes, else their offset
};

// TIFF value types.
enum : uint16_t {
  kTypeByte = 1,
  kTypeASCII = 2,
  kTypeShort = 3,
  kTypeLong = 4,
  kTypeRational = 5,
  kTypeSByte = 6,
  kTypeUndefined = 7,
  kTypeSShort = 8,
  kTypeSLong = 9,
  kTypeSRational = 10,
  kTypeFloat = 11,
  kTypeDouble = 12,
};

// Bytes one value of a TIFF type takes; 0 for an unknown type.
uint32_t TypeSize(uint16_t type);

class CEXIFTagBase {
 public:
  explicit CEXIFTagBase(const char* typeLabel) : typeLabel(typeLabel) {}
  CEXIFTagBase(const CEXIFTagBase&) = delete;
  CEXIFTagBase& operator=(const CEXIFTagBase&) = delete;
  virtual ~CEXIFTagBase() = default;

  // Appends count values from an array in host order (flags unused).
  virtual bool AddValues(const void* array, uint32_t count, uint32_t flags) = 0;
  // Appends values read from EXIF data; `swap` when the data is big-endian.
  virtual bool ReadValue(const uint8_t* data, uint32_t size, bool swap) = 0;
  // Writes the 12-byte entry (value field = dataOffset when the values do not fit) and the
  // out-of-line value bytes; returns 12 + the data size.
  virtual uint32_t WriteEntry(uint8_t* entryOut, uint8_t* dataOut, uint32_t dataOffset) const = 0;
  // Bytes of value data that do not fit the 4-byte value field (0 when they fit).
  virtual uint32_t GetDataSize() const = 0;
  // The values as text, ", " between values.
  virtual std::string GetText() const = 0;
  virtual void CopyRawEntry(ISEXIFEntry* out) const { *out = entry; }
  // Fills a 12-byte entry from the stored tag, type and count; the value field holds the
  // values inline when they fit, else dataOffset; in big-endian order when the flag says so.
  virtual void BuildEntryHeader(uint8_t* out, uint32_t dataOffset) const;

  std::string displayName;  // diagnostics only
  std::string typeLabel;    // diagnostics only
  ISEXIFEntry entry;
  int32_t entryOffset = -1;   // offset of the entry in the EXIF block
  int32_t headerOffset = -1;  // offset of the TIFF header in the block
  uint8_t bigEndian = 0;      // 1: the block is big-endian
  uint8_t spareFlag = 0;

 protected:
  // The values in the stored byte order, for the serialisation slots.
  virtual std::vector<uint8_t> ValueBytes() const = 0;
};

// A list of fixed-size values of one type; `Format` renders one value.
template <typename V>
class CEXIFTagList : public CEXIFTagBase {
 public:
  using CEXIFTagBase::CEXIFTagBase;
  bool AddValues(const void* array, uint32_t count, uint32_t flags) override;
  bool ReadValue(const uint8_t* data, uint32_t size, bool swap) override;
  uint32_t WriteEntry(uint8_t* entryOut, uint8_t* dataOut, uint32_t dataOffset) const override;
  uint32_t GetDataSize() const override;
  std::string GetText() const override;

  std::vector<V> values;

 protected:
  virtual void Format(const V& v, char* out, size_t n) const = 0;
  std::vector<uint8_t> ValueBytes() const override;
};

struct ISURational {
  uint32_t numerator;
  uint32_t denominator;
};
struct ISSRational {
  int32_t numerator;
  int32_t denominator;
};

// BYTE values, and the UNDEFINED entries kept as bytes. ReadValue appends all `size` bytes.
class CEXIFTagU8 : public CEXIFTagBase {
 public:
  CEXIFTagU8() : CEXIFTagBase("BYTE") {}
  bool AddValues(const void* array, uint32_t count, uint32_t flags) override;
  bool ReadValue(const uint8_t* data, uint32_t size, bool swap) override;
  uint32_t WriteEntry(uint8_t* entryOut, uint8_t* dataOut, uint32_t dataOffset) const override;
  uint32_t GetDataSize() const override;
  std::string GetText() const override;

  ISArray<unsigned char> values;

 protected:
  std::vector<uint8_t> ValueBytes() const override;
};

// ASCII strings, and the UNDEFINED entries kept as text. ReadValue appends one string, cut at
// its first zero byte.
class CEXIFTagASCII : public CEXIFTagBase {
 public:
  CEXIFTagASCII() : CEXIFTagBase("ASCII") {}
  bool AddValues(const void* array, uint32_t count, uint32_t flags) override;
  bool ReadValue(const uint8_t* data, uint32_t size, bool swap) override;
  uint32_t WriteEntry(uint8_t* entryOut, uint8_t* dataOut, uint32_t dataOffset) const override;
  uint32_t GetDataSize() const override;
  std::string GetText() const override;

  std::vector<std::string> values;

 protected:
  std::vector<uint8_t> ValueBytes() const override;
};

class CEXIFTagU16 : public CEXIFTagList<uint16_t> {
 public:
  CEXIFTagU16() : CEXIFTagList("SHORT") {}

 protected:
  void Format(const uint16_t& v, char* out, size_t n) const override;
};
class CEXIFTagU32 : public CEXIFTagList<uint32_t> {
 public:
  CEXIFTagU32() : CEXIFTagList("LONG") {}

 protected:
  void Format(const uint32_t& v, char* out, size_t n) const override;
};
class CEXIFTagURat : public CEXIFTagList<ISURational> {
 public:
  CEXIFTagURat() : CEXIFTagList("RATIONAL") {}

 protected:
  void Format(const ISURational& v, char* out, size_t n) const override;
};
// SBYTE: ReadValue appends one byte per call.
class CEXIFTagI8 : public CEXIFTagList<int8_t> {
 public:
  CEXIFTagI8() : CEXIFTagList("SBYTE") {}

 protected:
  void Format(const int8_t& v, char* out, size_t n) const override;
};
class CEXIFTagI16 : public CEXIFTagList<int16_t> {
 public:
  CEXIFTagI16() : CEXIFTagList("SSHORT") {}

 protected:
  void Format(const int16_t& v, char* out, size_t n) const override;
};
class CEXIFTagI32 : public CEXIFTagList<int32_t> {
 public:
  CEXIFTagI32() : CEXIFTagList("SLONG") {}

 protected:
  void Format(const int32_t& v, char* out, size_t n) const override;
};
class CEXIFTagSRat : public CEXIFTagList<ISSRational> {
 public:
  CEXIFTagSRat() : CEXIFTagList("SRATIONAL") {}

 protected:
  void Format(const ISSRational& v, char* out, size_t n) const override;
};
class CEXIFTagR4 : public CEXIFTagList<float> {
 public:
  CEXIFTagR4() : CEXIFTagList("FLOAT") {}

 protected:
  void Format(const float& v, char* out, size_t n) const override;
};
class CEXIFTagR8 : public CEXIFTagList<double> {
 public:
  CEXIFTagR8() : CEXIFTagList("DOUBLE") {}

 protected:
  void Format(const double& v, char* out, size_t n) const override;
};

}  // namespace CISEXIFData
