// The metafile player's drawing work: every costly kind of record spends what it paints, so that
// playback stops at its limit, within one record's row of work, whatever the file repeats.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "platform/gdi.h"
#include "platform/gdi_metafile.h"
#include "support/emf_records.h"

namespace {

// An enhanced metafile of `side` x `side` pixels (one a millimetre), record by record.
struct Emf : qrvtest::EmfRecords {
  explicit Emf(uint32_t side) {
    Rec(1, {0, 0, side - 1, side - 1, 0, 0, side * 100, side * 100, 0x464D4520u, 0x10000, 0, 0, 4, 0, 0, 0, 100, 100,
            100, 100});
  }
  std::vector<uint8_t> Finish() {
    Rec(14, {0, 16, 20});
    return b;
  }
};

}  // namespace

TEST(MetafilePlayback, EveryCostlyRecordStopsAtTheWorkLimit) {
  constexpr uint32_t kSide = 400;
  constexpr uint64_t kLimit = 4000000;  // 25 canvases of solid fill
  std::mt19937 random(5);
  const auto at = [&] { return static_cast<uint32_t>(random() % kSide); };
  const auto packed = [&] { return at() | at() << 16; };
  const auto dib1 = [](uint32_t rop) {  // STRETCHDIBITS of a 1 x 1 DIB over the canvas
    return std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 80, 40, 120, 4, 0, rop, kSide, kSide,
                                 40, 1, 1, 1 | 24 << 16, 0, 4, 0, 0, 0, 0, 0x123456};
  };
  struct Row {
    const char* name;
    std::vector<uint8_t> file;
    uint32_t records;
  };
  std::vector<Row> rows;
  const auto make = [&](const char* name, const std::function<void(Emf&)>& body) {
    Emf e(kSide);
    e.Rec(39, {1, 0, 0x0000FF, 0});  // a red brush, selected
    e.Rec(37, {1});
    body(e);
    std::vector<uint8_t> file = e.Finish();
    rows.push_back(Row{name, file, e.records});
  };
  make("solid fills", [&](Emf& e) {
    for (int i = 0; i < 1000; ++i) e.Rec(43, {0, 0, kSide, kSide});
  });
  make("ellipses", [&](Emf& e) {
    for (int i = 0; i < 1000; ++i) e.Rec(42, {0, 0, kSide, kSide});
  });
  make("one Bezier path", [&](Emf& e) {
    std::vector<uint32_t> w = {0, 0, kSide, kSide, 1800};
    for (int i = 0; i < 1800; ++i) w.push_back(packed());
    e.Rec(59, {});
    e.Rec(88, w);  // POLYBEZIERTO16
    e.Rec(60, {});
    e.Rec(62, {0, 0, kSide, kSide});  // FILLPATH
  });
  make("one wide-pen polyline", [&](Emf& e) {
    e.Rec(38, {2, 0, 300, 0, 0x00FF00});
    e.Rec(37, {2});
    std::vector<uint32_t> w = {0, 0, kSide, kSide, 5000};
    for (int i = 0; i < 5000; ++i) w.push_back(packed());
    e.Rec(87, w);  // POLYLINE16
  });
  make("thin lines", [&](Emf& e) {
    for (int i = 0; i < 20000; ++i) e.Rec(27, {at(), 0}), e.Rec(54, {at(), kSide});
  });
  make("raster operations", [&](Emf& e) {
    for (int i = 0; i < 1000; ++i) e.Rec(81, dib1(0x00660046));
  });
  make("clip regions", [&](Emf& e) {
    for (int i = 0; i < 20000; ++i) e.Rec(29, {at(), at(), at(), at()});
  });
  make("text", [&](Emf& e) {
    std::vector<uint32_t> font = {3, static_cast<uint32_t>(-300), 0, 0, 0, 400};
    font.resize(24, 0);
    e.Rec(82, font);
    e.Rec(37, {3});
    for (int i = 0; i < 2000; ++i)  // "Hi" at (0, 0)
      e.Rec(84, {0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 76, 0, 0, 0, 0, 0, 80, 'H' | 'i' << 16, 12, 12});
  });
  std::vector<BYTE> pixels(kSide * kSide * 3);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    HENHMETAFILE emf = SetEnhMetaFileBits(static_cast<UINT>(r.file.size()), r.file.data());
    ASSERT_NE(emf, nullptr);
    const MetafileCanvas canvas{pixels.data(), kSide, kSide, kSide * 3, 24};
    const RECT all{0, 0, kSide, kSide};
    MetafilePlayback p{};
    p.workLimit = kLimit;
    EXPECT_FALSE(PlayEnhMetaFileOnto(emf, &canvas, &all, &p));
    EXPECT_EQ(p.end, kMetafileStopped);
    EXPECT_GT(p.work, kLimit);
    EXPECT_LT(p.work, kLimit + kLimit / 2);  // a record stops within a row of its work
    EXPECT_EQ(p.recordsInFile, r.records);
    EXPECT_LT(p.records, r.records);
    DeleteEnhMetaFile(emf);
  }
}
