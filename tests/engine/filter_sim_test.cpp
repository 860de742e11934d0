#include "engine/CFilterSim.h"

#include <gtest/gtest.h>

#include <cstring>

#include "picture_helpers.h"

TEST(FilterSim, PresetTableOrderSpellingAndLookUp) {
  const FilterPreset* p = CFilterSim::Presets();
  EXPECT_STREQ(p[0].name, "#1A Filter");
  EXPECT_EQ(p[0].color, RGB(245, 237, 239));
  EXPECT_STREQ(p[0].title, "UV Skylight Filter");
  EXPECT_STREQ(p[6].title, "Yellow 3 (023,Schott OG 515) ");  // trailing blank kept
  EXPECT_STREQ(p[53].name, "#87 Filter");
  EXPECT_STREQ(p[54].name, "#87C Filter");  // before #87B, as listed
  EXPECT_STREQ(p[64].name, "#106 Filter");
  EXPECT_EQ(p[64].color, RGB(251, 125, 0));
  for (int i = 0; i < CFilterSim::kPresetCount; ++i) {
    ASSERT_NE(p[i].name, nullptr);
    for (int j = 0; j < i; ++j) ASSERT_STRNE(p[i].name, p[j].name);
  }

  EXPECT_EQ(CFilterSim::GetColor("#80a filter"), RGB(113, 139, 222));
  EXPECT_EQ(CFilterSim::GetTitle("#80A FILTER"), "KB 15");
  EXPECT_EQ(CFilterSim::GetTitle("#80C Filter"), "");
  EXPECT_EQ(CFilterSim::GetDescription("#87B Filter"), "");
  EXPECT_EQ(CFilterSim::GetColor("no such filter"), CFilterSim::kNoFilter);
  EXPECT_EQ(CFilterSim::GetColor(""), CFilterSim::kNoFilter);
  EXPECT_EQ(CFilterSim::GetTitle("nope"), "");
  EXPECT_EQ(CFilterSim::GetDescription("nope"), "");
  // The degree sign is stored as UTF-8 (C2 B0).
  const std::string d = CFilterSim::GetDescription("#80A Filter");
  EXPECT_EQ(d, "Converts daylight film for use with 3200\xC2\xB0K lamps. Perfect for indoors lit by 100 watt "
               "(or less) incandescent bulbs.");
  EXPECT_EQ(CFilterSim::GetDescription("#82 Filter"),
            "For any 100\xC2\xB0 increase in Kelvin temperature for color renderings.");
}

TEST(FilterSim, ComboListBrightFirst) {
  std::vector<CFilterSim::ComboItem> items(3);
  CFilterSim::FillCombo(items, 0);
  ASSERT_EQ(items.size(), 65u);
  EXPECT_EQ(items[7].name, "#11 Filter");
  EXPECT_EQ(items[7].color, RGB(75, 195, 67));

  CFilterSim::FillCombo(items, 1);
  ASSERT_EQ(items.size(), 65u);
  EXPECT_EQ(items[0].name, "#1A Filter");
  size_t firstDark = 0;
  while (firstDark < items.size() &&
         (GetRValue(items[firstDark].color) + GetGValue(items[firstDark].color) + GetBValue(items[firstDark].color)) /
                 3 >=
             128)
    ++firstDark;
  for (size_t i = firstDark; i < items.size(); ++i) {
    COLORREF c = items[i].color;
    EXPECT_LT((GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3, 128) << items[i].name;
  }
  size_t at11 = 0;
  while (items[at11].name != "#11 Filter") ++at11;
  EXPECT_GE(at11, firstDark);  // mean 112: in the second group
  EXPECT_EQ(items[firstDark].name, "#11 Filter");  // the first dark preset in table order
}

namespace {

// The tint formula, one pixel at a time in doubles.
void ReferenceTint(uint8_t* p, COLORREF color, int density, int keep, int grey) {
  int cr = GetRValue(color), cg = GetGValue(color), cb = GetBValue(color);
  int c[3] = {p[0], p[1], p[2]};
  int t[3] = {cr * c[0] / 255, cg * c[1] / 255, cb * c[2] / 255};
  if (keep) {
    int y = static_cast<int>(0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2] + 0.001);
    double w = ((y * y) / 255) / 255.0;
    for (int k = 0; k < 3; ++k) t[k] = static_cast<int>(c[k] * w + t[k] * (1 - w));
  }
  if (density < 255) {
    double d = density / 255.0;
    for (int k = 0; k < 3; ++k) t[k] = static_cast<int>(c[k] * (1 - d) + t[k] * d);
  }
  if (grey) {
    int g = static_cast<int>(0.3 * t[0] + 0.59 * t[1] + 0.11 * t[2] + 0.001);
    t[0] = t[1] = t[2] = g;
  }
  for (int k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>(t[k] > 255 ? 255 : t[k]);
}

}  // namespace

TEST(FilterSim, TintExamplesOfThePresets) {
  uint8_t white[3] = {255, 255, 255};
  CFilterSim::Apply(white, 1, 1, "#25 Filter", 255, 0, 0);
  EXPECT_EQ(white[0], 219);
  EXPECT_EQ(white[1], 0);
  EXPECT_EQ(white[2], 0);

  uint8_t px[6] = {255, 255, 255, 0, 0, 0};
  CFilterSim::Apply(px, 2, 1, "#25 filter", 255, 1, 0);
  EXPECT_EQ(std::vector<uint8_t>(px, px + 6), (std::vector<uint8_t>{255, 255, 255, 0, 0, 0}));

  uint8_t g[3] = {100, 50, 200};
  CFilterSim::Apply(g, 1, 1, "#18A Filter", 255, 0, 1);
  EXPECT_EQ(g[0], 80);
  EXPECT_EQ(g[1], 80);
  EXPECT_EQ(g[2], 80);

  auto image = enginetest::RandomPicture(16, 9, 7);
  auto copy = image;
  CFilterSim::Apply(copy.data(), 16, 9, "#999 Filter", 255, 1, 1);
  EXPECT_EQ(copy, image);
  CFilterSim::Apply(copy.data(), 16, 9, "", 128, 0, 0);
  EXPECT_EQ(copy, image);
}

TEST(FilterSim, TintMatchesThePlainFormulaForEveryOption) {
  const auto image = enginetest::RandomPicture(31, 17, 99);
  for (COLORREF color : {RGB(245, 237, 239), RGB(75, 195, 67), RGB(0, 0, 179), RGB(251, 125, 0)})
    for (int density : {0, 77, 254, 255})
      for (int keep = 0; keep < 2; ++keep)
        for (int grey = 0; grey < 2; ++grey) {
          auto fast = image;
          CFilterSim::Tint(fast.data(), 31, 17, color, density, keep, grey);
          auto slow = image;
          for (size_t i = 0; i < slow.size(); i += 3) ReferenceTint(&slow[i], color, density, keep, grey);
          ASSERT_EQ(fast, slow) << color << " " << density << " " << keep << " " << grey;
        }
}
