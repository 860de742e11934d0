// Resolution records brought from the JFIF, TIFF, PNG, per-centimetre and per-metre
// conventions to each other, worked by hand.
#include <gtest/gtest.h>

#include "imaging/formats/ConvertResolution.h"

namespace {

struct Case {
  DWORD in[3];
  int from, to;
  BOOL result;
  DWORD out[3];
};

TEST(ConvertResolution, EveryConventionByHand) {
  const Case cases[] = {
      // JFIF / TIFF sources to pixels per metre: per inch goes through whole centimetres.
      {{72, 72, 1}, 0, 4, TRUE, {2800, 2800, 1}},
      {{300, 96, 1}, 1, 4, TRUE, {11800, 3700, 1}},
      {{28, 40, 2}, 0, 4, TRUE, {2800, 4000, 1}},
      {{1, 1, 0}, 0, 4, FALSE, {0, 0, 0}},
      {{5, 6, 7}, 0, 2, TRUE, {0, 0, 0}},
      {{5, 6, 0}, 0, 2, TRUE, {5, 6, 0}},
      // back to JFIF: dots per inch from pixels per metre, truncated
      {{2800, 2800, 1}, 4, 0, TRUE, {71, 71, 1}},
      {{2835, 3937, 1}, 2, 1, TRUE, {72, 99, 1}},
      {{2835, 3937, 0}, 2, 0, TRUE, {2835, 3937, 0}},
      {{2835, 3937, 5}, 2, 2, TRUE, {2835, 3937, 0}},
      // per centimetre
      {{28, 30, 1}, 3, 4, TRUE, {2800, 3000, 1}},
      {{28, 30, 0}, 3, 2, TRUE, {0, 0, 0}},
      {{2899, 3000, 1}, 4, 3, TRUE, {28, 30, 1}},
      {{2899, 3000, 0}, 4, 3, FALSE, {0, 0, 0}},
      {{72, 72, 2}, 0, 2, TRUE, {7200, 7200, 1}},
      // an unknown target keeps the record as read
      {{72, 73, 1}, 0, 9, TRUE, {72, 73, 1}},
      // an unknown source: FALSE, untouched
      {{72, 73, 1}, 5, 4, FALSE, {72, 73, 1}},
      {{72, 73, 1}, -1, 4, FALSE, {72, 73, 1}},
  };
  for (const Case& c : cases) {
    DWORD r[3] = {c.in[0], c.in[1], c.in[2]};
    EXPECT_EQ(ConvertResolution(r, c.from, c.to), c.result) << c.in[0] << " " << c.from << "->" << c.to;
    EXPECT_EQ(r[0], c.out[0]) << c.in[0] << " " << c.from << "->" << c.to;
    EXPECT_EQ(r[1], c.out[1]) << c.in[0] << " " << c.from << "->" << c.to;
    EXPECT_EQ(r[2], c.out[2]) << c.in[0] << " " << c.from << "->" << c.to;
  }
  EXPECT_FALSE(ConvertResolution(static_cast<DWORD*>(nullptr), 0, 4));
  ISResolution record{72, 72, 1};
  EXPECT_TRUE(ConvertResolution(&record, 0, 4));
  EXPECT_EQ(record.x, 2800u);
}

}  // namespace
