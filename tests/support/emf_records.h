// Enhanced metafiles written record by record, for the tests of the metafile player and reader.
#pragma once

#include <cstdint>
#include <vector>

namespace qrvtest {

struct EmfRecords {
  std::vector<uint8_t> b;
  uint32_t records = 0;
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  // One record: its type, its size, then its words.
  void Rec(uint32_t type, const std::vector<uint32_t>& words) {
    U32(type);
    U32(static_cast<uint32_t>(8 + 4 * words.size()));
    for (uint32_t w : words) U32(w);
    ++records;
  }
};

}  // namespace qrvtest
