// The text stamp step: macro expansion (and its bounds), the placement table and the
// background box checked through the pixels of a picture, the font size limits, the preview.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/TextStamp.h"
#include "engine/shell/CMainDialog.h"
#include "qrv/imaging.h"
#include "support/peak_memory.h"

namespace {

constexpr int kW = 160, kH = 100;

std::vector<BYTE> Grey(int w = kW, int h = kH, BYTE v = 90) { return std::vector<BYTE>(size_t(w) * h * 3, v); }

// Bounding box (left, top, right, bottom exclusive) of the pixels that differ from `base`;
// {0, 0, 0, 0} when none.
std::vector<int64_t> ChangedBox(const std::vector<BYTE>& img, const std::vector<BYTE>& base, int w = kW, int h = kH) {
  int64_t x0 = w, y0 = h, x1 = 0, y1 = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (std::memcmp(&img[(size_t(y) * w + x) * 3], &base[(size_t(y) * w + x) * 3], 3)) {
        x0 = std::min<int64_t>(x0, x), y0 = std::min<int64_t>(y0, y);
        x1 = std::max<int64_t>(x1, x + 1), y1 = std::max<int64_t>(y1, y + 1);
      }
  if (x1 == 0) return {0, 0, 0, 0};
  return {x0, y0, x1, y1};
}

struct Stamp {
  CBatchApp app;
  CMainDialog dlg{app};
  Stamp() {
    CTextStampPage& p = dlg.m_pages.textStamp;
    p.m_enabled = 1;
    p.m_string = "Stamp";
    p.m_fontName = "DejaVu Sans";
    p.m_fontSize = 12;
    p.m_weight = 400;
    p.m_placement = 2;
    p.m_offsetX = 10;
    p.m_offsetY = 10;
    p.m_backType = 0;
    p.m_textColor = RGB(255, 255, 255);
    p.m_bkColor = RGB(200, 30, 60);
    dlg.m_model = "Model X";
    dlg.m_date = "2004:05:06 07:08:09";
  }
  CTextStampPage& page() { return dlg.m_pages.textStamp; }
  std::vector<BYTE> Run(std::vector<BYTE> img, int w = kW, int h = kH) {
    TextStampStep(dlg, img.data(), w, h, false);
    return img;
  }
  // The text block's size as the step measures it: at three times the size, divided by 3.
  void Block(const std::string& text, int64_t* w, int64_t* h) {
    LOGFONTA lf = StampFont(page());
    lf.lfHeight *= 3;
    DWORD w3 = 0, h3 = 0;
    ASSERT_TRUE(ISMeasureText(text.c_str(), &lf, 0, 0, LONG(0x80000000u), LONG(0x80000000u), &w3, &h3, 0, 0));
    *w = w3 / 3;
    *h = h3 / 3;
  }
};

}  // namespace

TEST(TextStamp, ReplaceFirstReplacesOneExactOccurrence) {
  EXPECT_EQ(ReplaceFirst("a %X% b %X%", "%X%", "1"), "a 1 b %X%");
  EXPECT_EQ(ReplaceFirst("a %x% b", "%X%", "1"), "a %x% b");
  EXPECT_EQ(ReplaceFirst("%X%", "%X%", ""), "");
  EXPECT_EQ(ReplaceFirst("abc", "", "z"), "abc");
}

TEST(TextStamp, MacrosExpandInTheirOrderOverPasses) {
  StampMacroValues v;
  v.date = "D";
  v.flash = "Flash Used";
  v.fNumber = "F2.8";
  v.iso = "ISO 100";
  v.metering = "Spot";
  v.model = "Cam";
  v.program = "Manual";
  v.speed = "1/60";
  v.comment = "hello";
  v.height = "480";
  v.modifDate = "M";
  v.name = "pic.jpg";
  v.nameNoExt = "pic";
  v.width = "640";
  EXPECT_EQ(ExpandStampMacros("%DATE%|%FLASH%|%FNUM%|%ISO%|%METERING%|%MODEL%|%PROGRAM%|%SPEED%|%COMMENT%|"
                              "%HEIGHT%|%MODIFDATE%|%N%|%NAME%|%NAMENOEXT%|%WIDTH%",
                              v),
            "D|Flash Used|F2.8|ISO 100|Spot|Cam|Manual|1/60|hello|480|M|\n|pic.jpg|pic|640");
  EXPECT_EQ(ExpandStampMacros("no macros", v), "no macros");
  EXPECT_EQ(ExpandStampMacros("%MODEL% and %MODEL%", v), "Cam and Cam");  // over two passes
  // A value holding a later macro is expanded in the same pass, an earlier one in the next.
  v.comment = "%WIDTH%x%DATE%";
  EXPECT_EQ(ExpandStampMacros("%COMMENT%", v), "640xD");
  // Self-reference: bounded passes and length, no endless growth.
  v.name = "x%NAME%.jpg";
  const std::string once = ExpandStampMacros("%NAME%", v);
  EXPECT_EQ(once.size(), 6u + 5u * kStampMaxPasses);  // each pass adds "x" and ".jpg"
  v.comment = std::string(1000, 'c') + "%COMMENT%";
  const std::string big = ExpandStampMacros("%COMMENT%", v);
  EXPECT_LE(big.size(), kStampTextLimit);
  EXPECT_GT(big.size(), kStampTextLimit - 1010);
  // A comment longer than a stamp holds is cut to fit, never left as the macro, and said so; a
  // cut never splits a UTF-8 character.
  std::string euros;
  for (int i = 0; i < 2000; ++i) euros += "\xE2\x82\xAC";
  for (const std::string& comment : {std::string(8000, 'c'), std::string(kStampTextLimit, 'c'), euros}) {
    v.comment = comment;
    bool cut = false;
    const std::string text = ExpandStampMacros("[%COMMENT%] %MODEL%", v, &cut);
    EXPECT_TRUE(cut);
    EXPECT_EQ(text.find("%COMMENT%"), std::string::npos);
    EXPECT_EQ(text.find("%MODEL%"), std::string::npos);
    EXPECT_LE(text.size(), kStampTextLimit);
    EXPECT_GT(text.size(), kStampTextLimit - 4);
    EXPECT_EQ((text.size() - std::strlen("[] Cam")) % (comment == euros ? 3 : 1), 0u);
  }
  bool cut = true;
  v.comment = "short";
  ExpandStampMacros("%COMMENT%", v, &cut);
  EXPECT_FALSE(cut);
}

TEST(TextStamp, FontFollowsThePageWithinLimits) {
  CTextStampPage page;
  page.m_fontName = std::string(40, 'N');
  page.m_fontSize = 5;
  page.m_weight = 700;
  page.m_italic = 0x101;
  page.m_underline = 1;
  LOGFONTA lf = StampFont(page);
  EXPECT_EQ(lf.lfHeight, 8);
  EXPECT_EQ(lf.lfWeight, 700);
  EXPECT_EQ(lf.lfItalic, 1);  // the low byte
  EXPECT_EQ(lf.lfUnderline, 1);
  EXPECT_EQ(lf.lfQuality, 2);
  EXPECT_EQ(lf.lfPitchAndFamily, 0x30);
  EXPECT_EQ(std::string(lf.lfFaceName), std::string(31, 'N'));
  page.m_fontSize = 100000;
  EXPECT_EQ(StampFont(page).lfHeight, 500);
  page.m_fontSize = -3;  // unsigned in the profile: a huge size
  EXPECT_EQ(StampFont(page).lfHeight, 500);
}

// With an opaque box the changed pixels are exactly the box: h / 2 beside and h / 8 above and
// below the text block, at the position of the placement table.
TEST(TextStamp, PlacementsPutTheBoxWhereTheTableSays) {
  Stamp s;
  s.page().m_backType = 3;
  s.page().m_offsetX = 20;
  s.page().m_offsetY = 15;
  int64_t w = 0, h = 0;
  s.Block("Stamp", &w, &h);
  ASSERT_GT(w, 20);
  ASSERT_GT(h, 8);
  const std::vector<BYTE> base = Grey();
  struct Want {
    int placement;
    int64_t x, y;
  } wants[] = {{0, (kW - w) / 2, 15},     {1, (kW - w) / 2, kH - h - 15}, {2, 20, 15},
               {3, kW - w - 20, 15},      {4, 20, kH - h - 15},          {5, kW - w - 20, kH - h - 15},
               {17, kW - w - 20, kH - h - 15}};
  for (const Want& want : wants) {
    SCOPED_TRACE(want.placement);
    s.page().m_placement = want.placement;
    const std::vector<BYTE> img = s.Run(base);
    const std::vector<int64_t> box = ChangedBox(img, base);
    EXPECT_EQ(box, (std::vector<int64_t>{want.x - h / 2, want.y - h / 8, want.x + w + h / 2, want.y + h + h / 8}));
    // The opaque box is the box colour wherever the text does not cover it.
    const BYTE* corner = &img[(size_t(box[1]) * kW + box[0]) * 3];
    EXPECT_EQ(corner[0], 200);
    EXPECT_EQ(corner[1], 30);
    EXPECT_EQ(corner[2], 60);
  }
  // Without a box the text's own pixels stay inside its block.
  s.page().m_backType = 0;
  s.page().m_placement = 5;
  const std::vector<int64_t> ink = ChangedBox(s.Run(base), base);
  EXPECT_GE(ink[0], kW - w - 20);
  EXPECT_GE(ink[1], kH - h - 15);
  EXPECT_LE(ink[2], kW - 20);
  EXPECT_LE(ink[3], kH - 15);
  EXPECT_GT(ink[2] - ink[0], w - 4);
}

TEST(TextStamp, BoxOpacitiesAreThePartsBlend) {
  Stamp s;
  s.page().m_string = " ";  // a block with no ink: only the box changes pixels
  s.page().m_placement = 2;
  int64_t w = 0, h = 0;
  s.Block(" ", &w, &h);
  for (int type : {1, 2, 3, 7}) {
    SCOPED_TRACE(type);
    s.page().m_backType = type;
    std::vector<BYTE> base(size_t(kW) * kH * 3);
    for (size_t i = 0; i < base.size(); ++i) base[i] = static_cast<BYTE>(i * 7);
    const std::vector<BYTE> img = s.Run(base);
    const double a = type == 1 ? 0.25 : type == 3 ? 1.0 : 0.5;
    const BYTE c[3] = {200, 30, 60};
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const bool in = x >= 10 - h / 2 && x < 10 + w + h / 2 && y >= 10 - h / 8 && y < 10 + h + h / 8;
        for (int k = 0; k < 3; ++k) {
          const size_t i = (size_t(y) * kW + x) * 3 + k;
          const BYTE want = in ? static_cast<BYTE>(std::trunc(c[k] * a + base[i] * (1 - a))) : base[i];
          ASSERT_EQ(img[i], want) << x << "," << y;
        }
      }
  }
  s.page().m_backType = 0;
  EXPECT_EQ(s.Run(Grey()), Grey());
  s.page().m_backType = -4;
  EXPECT_EQ(s.Run(Grey()), Grey());
}

TEST(TextStamp, SizesBelowEightDrawAtEightAndAboveFiveHundredAtFiveHundred) {
  Stamp s;
  s.page().m_string = "Size %MODEL%";
  s.page().m_fontSize = 5;
  const std::vector<BYTE> five = s.Run(Grey());
  s.page().m_fontSize = 8;
  const std::vector<BYTE> eight = s.Run(Grey());
  EXPECT_EQ(five, eight);
  EXPECT_NE(eight, Grey());
  s.page().m_fontSize = 7;
  EXPECT_EQ(s.Run(Grey()), eight);
  s.page().m_fontSize = 12;
  EXPECT_NE(s.Run(Grey()), eight);

  // The big sizes on a small picture: only what the picture shows is rendered.
  // (The cell's top 100 rows, above the capitals, lie above the picture.)
  s.page().m_string = "W";
  s.page().m_offsetX = 0;
  s.page().m_offsetY = -100;
  s.page().m_fontSize = 900;
  const std::vector<BYTE> big = s.Run(Grey(40, 30), 40, 30);
  s.page().m_fontSize = 500;
  EXPECT_EQ(s.Run(Grey(40, 30), 40, 30), big);
  EXPECT_NE(big, Grey(40, 30));
}

TEST(TextStamp, LineBreaksOutsidePlacementsAndEmptyTemplates) {
  Stamp s;
  s.page().m_backType = 3;
  s.page().m_string = "One%N%Two";
  int64_t w = 0, h = 0;
  s.Block("One\nTwo", &w, &h);
  EXPECT_EQ(h, 2 * 12);  // two lines of the 12-pixel cell
  const std::vector<int64_t> box = ChangedBox(s.Run(Grey()), Grey());
  EXPECT_EQ(box[3] - box[1], h + 2 * (h / 8));

  // Placed wholly outside the picture: nothing changes.
  s.page().m_offsetX = 100000;
  EXPECT_EQ(s.Run(Grey()), Grey());
  s.page().m_offsetX = 10;
  s.page().m_offsetY = -100000;
  EXPECT_EQ(s.Run(Grey()), Grey());
  // An empty template draws nothing visible, even over a box; the stamp switched off neither.
  s.page().m_offsetY = 10;
  s.page().m_string = "";
  EXPECT_EQ(s.Run(Grey()), Grey());
  s.page().m_string = "Off";
  s.page().m_enabled = 0;
  EXPECT_EQ(s.Run(Grey()), Grey());
  // Text wider than the picture, centred: clipped on both sides, nothing outside the buffer.
  s.page().m_enabled = 1;
  s.page().m_backType = 0;
  s.page().m_placement = 0;
  s.page().m_string = "A very long caption that is much wider than the picture";
  const std::vector<int64_t> wide = ChangedBox(s.Run(Grey()), Grey());
  EXPECT_LT(wide[0], 3);
  EXPECT_GT(wide[2], kW - 4);
}

TEST(TextStamp, PreviewHandsThePageItsInformationAndDrawsNothing) {
  for (int enabled : {0, 1}) {
    Stamp s;
    s.page().m_enabled = enabled;
    s.dlg.m_labelFlash.text = "No Flash";
    s.dlg.m_fNumberText = "F4";
    s.dlg.m_isoText = "200";
    s.dlg.m_fileName = "a.jpg";
    s.dlg.m_fileTitle = "a";
    s.dlg.m_widthText = "160";
    s.dlg.m_srcFileTime = 12345;
    std::vector<BYTE> img = Grey();
    TextStampStep(s.dlg, img.data(), kW, kH, true);
    EXPECT_EQ(img, Grey());
    EXPECT_EQ(s.page().m_prevFlash, "No Flash");
    EXPECT_EQ(s.page().m_prevFNumber, "F4");
    EXPECT_EQ(s.page().m_prevIso, "200");
    EXPECT_EQ(s.page().m_prevModel, "Model X");
    EXPECT_EQ(s.page().m_prevName, "a.jpg");
    EXPECT_EQ(s.page().m_prevNameNoExt, "a");
    EXPECT_EQ(s.page().m_prevWidth, "160");
    EXPECT_EQ(s.page().m_prevFileTime, 12345);
    EXPECT_EQ(s.page().m_prevDate, "2004:05:06 07:08:09");
    EXPECT_EQ(s.page().m_previewRedraws, enabled);  // the page redraws only when the stamp is on
  }
}

// Through the pipeline: a run stamps the working picture, the preview only informs the page.
TEST(TextStamp, PipelineRunStampsAndPreviewDoesNot) {
  Stamp s;
  s.page().m_backType = 3;
  // The pipeline with the stamp off, then the stamp on its result: the same as the whole
  // pipeline with the stamp on.
  s.page().m_enabled = 0;
  std::vector<BYTE> expected = Grey();
  s.dlg.ProcessImage(expected.data(), kW, kH, nullptr, 0, 0, nullptr);
  const std::vector<BYTE> unstamped = expected;
  s.page().m_enabled = 1;
  expected = s.Run(expected);
  std::vector<BYTE> img = Grey();
  s.dlg.ProcessImage(img.data(), kW, kH, nullptr, 0, 0, nullptr);
  EXPECT_EQ(img, expected);
  EXPECT_NE(img, unstamped);

  std::vector<BYTE> a = Grey(), b = Grey(40, 30);
  s.dlg.ProcessImage(a.data(), kW, kH, b.data(), 40, 30, nullptr);
  EXPECT_EQ(s.dlg.m_pages.textStamp.m_previewRedraws, 1);
  EXPECT_EQ(s.dlg.m_pages.textStamp.m_prevModel, "Model X");
}

// A stamp that does not show whole, whose characters no installed font has, whose font is
// not installed, or that holds control characters is a warning of the entry that says so;
// one that shows whole in its own font's characters (or in a character another installed font
// has) is none. Lines are 12 pixels on the 160 x 100 picture.
TEST(TextStamp, StampsNotDrawnWholeAreTheEntrysWarning) {
  const std::string wide = "A caption that is much wider than the one hundred and sixty pixels";
  const struct {
    const char* text;
    int placement, offsetX, offsetY;
    const char* font;  // empty: the fixture's
    std::vector<std::string> warnings;
  } cases[] = {
      {"Stamp", 2, 10, 10, "", {}},
      {"Stamp", 3, 100000, 10, "", {"text stamp outside the picture"}},
      {"Stamp", 5, 10, 100000, "", {"text stamp outside the picture"}},
      // the third ends at 106
      {"One%N%Two%N%Three", 2, 10, 70, "", {"text stamp cut: 2 of 3 lines drawn whole, 1 cut at the bottom edge"}},
      // the first starts at -6
      {"One%N%Two%N%Three", 2, 10, -6, "", {"text stamp cut: 2 of 3 lines drawn whole, 1 cut at the top edge"}},
      {"WIDE%N%ok", 2, 10, 10, "", {"text stamp cut: 1 of 2 lines drawn whole, 1 cut at the right edge"}},
      // right-placed: both start left of 0, "ok" ends there too
      {"WIDE%N%ok", 3, 10, 10, "",
       {"text stamp cut: 0 of 2 lines drawn whole, 1 cut at the left edge, 1 outside the picture"}},
      {"WIDE", 0, 0, 10, "", {"text stamp cut: 0 of 1 line drawn whole, 1 cut at the left and right edges"}},
      {"WIDE%N%WIDE%N%WIDE", 0, 0, -6, "",
       {"text stamp cut: 0 of 3 lines drawn whole, 3 cut at the left, top and right edges"}},
      {"Stamp\xE2\xA4\x80", 2, 10, 10, "", {}},  // U+2900: in another installed font
      {"A\xCD\xB8z\xCD\xB8", 2, 10, 10, "", {"text stamp: no installed font has \"\xCD\xB8\" (U+0378)"}},
      {"Stamp", 2, 10, 10, "No Such Face",
       {"text stamp: font \"No Such Face\" is not installed, drawn in \"DejaVu Sans\""}},
      {"Stamp", 2, 10, 10, "dejavusans", {}},  // the name as fontconfig compares it
      {"Stamp", 2, 10, 10, "sans-serif", {}},  // a generic family is no font of its own
      {"St\x1B" "amp\a%MODEL%\x1B\tZ\r\nok", 2, 10, 10, "",
       {"text stamp: control characters left out (U+001B U+0007 U+009B U+0009)"}},
      // the camera's comment: one it could not decode stamps nothing, a long one is cut
      {"[%COMMENT%]", 2, 10, 10, "",
       {"text stamp: the camera's comment could not be decoded (undecodable), %COMMENT% stamps nothing"}},
      {"%COMMENT%", 2, 10, 10, "",
       {"text stamp cut: its text is longer than the 4096 bytes a stamp holds",
        "text stamp cut: 0 of 1 line drawn whole, 1 cut at the right edge"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Stamp s;
    std::string text = c.text;
    for (size_t at; (at = text.find("WIDE")) != std::string::npos;) text.replace(at, 4, wide);
    s.page().m_string = text;
    s.page().m_placement = c.placement;
    s.page().m_offsetX = c.offsetX;
    s.page().m_offsetY = c.offsetY;
    if (*c.font) s.page().m_fontName = c.font;
    s.dlg.m_model = "Cam\xC2\x9B";  // a C1 control from the camera
    const bool undecodable = text == "[%COMMENT%]";
    s.dlg.m_userComment = undecodable ? "" : std::string(8000, 'c');
    s.dlg.m_userCommentNote = undecodable ? "undecodable" : "";
    s.dlg.m_outcomes.emplace_back();
    s.Run(Grey());
    EXPECT_EQ(s.dlg.m_outcomes.back().warnings, c.warnings);
  }
}

// Control characters are left out of the drawing: the stamp is drawn as without them.
TEST(TextStamp, ControlCharactersAreLeftOut) {
  Stamp s;
  s.page().m_string = "Sta\x1Bmp";
  s.dlg.m_outcomes.emplace_back();
  const std::vector<BYTE> with = s.Run(Grey());
  s.page().m_string = "Stamp";
  EXPECT_EQ(with, s.Run(Grey()));
}

// With no font installed at all the stamp is left out with a warning that says why. Run in a
// process of its own, whose fontconfig has read a configuration without a font folder.
TEST(TextStampDeathTest, NoInstalledFontIsTheEntrysWarning) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string conf = ::testing::TempDir() + "qrv-no-fonts.conf";
  FILE* f = std::fopen(conf.c_str(), "w");
  ASSERT_TRUE(f);
  std::fputs("<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n", f);
  std::fclose(f);
  EXPECT_EXIT(
      {
        setenv("FONTCONFIG_FILE", conf.c_str(), 1);
        Stamp s;
        s.dlg.m_outcomes.emplace_back();
        const bool unchanged = s.Run(Grey()) == Grey();
        const std::vector<std::string>& warnings = s.dlg.m_outcomes.back().warnings;
        for (const std::string& w : warnings) std::fprintf(stderr, "[%s]\n", w.c_str());
        std::exit(unchanged && warnings.size() == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "\\[text stamp left out: no usable font is installed\\]");
}

namespace {

uint64_t Fnv1a(const std::vector<BYTE>& bytes) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (BYTE b : bytes) h = (h ^ b) * 0x100000001B3ull;
  return h;
}

// A file name of 240 characters, and a stamp of 4000 that starts with kShortText.
const std::string kLongName = std::string(236, 'N') + ".jpg";
constexpr const char* kShortText = "The quick brown fox jumps";
std::string LongText() {
  std::string text;
  while (text.size() < 4000) text += "The quick brown fox jumps over the lazy dog. ";
  return text.substr(0, 4000);
}

std::vector<BYTE> Pattern(int w, int h) {
  std::vector<BYTE> base(size_t(w) * h * 3);
  for (size_t i = 0; i < base.size(); ++i) base[i] = static_cast<BYTE>(i * 37 / 7);
  return base;
}

}  // namespace

// Stamps that fit draw the pixels they drew before the drawing was limited to the picture:
// whole, cut at each edge, big, in fallback fonts, over boxes. The sums were taken from the
// earlier drawing (which rendered the text's whole box) with the fonts the set-up installs.
TEST(TextStamp, StampsThatFitKeepTheirPixels) {
  const struct {
    const char* text;
    int size, weight, italic, underline, placement, offsetX, offsetY, backType, w, h;
    uint64_t sum;
  } cases[] = {
      {"Stamp", 12, 400, 0, 0, 2, 10, 10, 0, 160, 100, 0x81ba167cd1f3af9aull},
      {"One%N%Two%N%Three", 20, 700, 0, 0, 5, 10, 10, 2, 160, 100, 0x306f09f124893948ull},
      {"A caption much wider than the picture", 16, 400, 1, 1, 0, 0, 10, 1, 160, 100, 0x74eeca3254bfc1bull},
      {"A caption much wider%N%ok", 14, 400, 0, 0, 3, 10, 10, 0, 160, 100, 0xbda37413f652901ull},
      {"One%N%Two%N%Three", 12, 400, 0, 0, 2, 10, -6, 3, 160, 100, 0xd59c2ff5fbacf64dull},
      {"Stamp\xE2\xA4\x80 \xE6\x97\xA5\xE6\x9C\xAC", 24, 400, 0, 0, 4, 5, 5, 0, 160, 100, 0x69a88b4d6c39d08cull},
      {"Wg%N%Qy", 200, 400, 1, 0, 4, -30, -20, 2, 160, 100, 0x144aea286a9fbe0eull},
      {"W", 500, 400, 0, 0, 2, 0, -100, 0, 40, 30, 0xdfd8b5724620a883ull},
      {"%MODEL% %DATE%", 40, 600, 0, 1, 1, 0, -10, 0, 160, 100, 0xcad4603d17de1b74ull},
      {"%MODEL%%N%%DATE%", 90, 400, 0, 0, 5, -200, -40, 3, 97, 61, 0x6a1bd4f34592908cull},
      {"%NAME%", 500, 400, 0, 0, 5, 10, 10, 0, 640, 480, 0x9c18c6d670233f2aull},
      {kShortText, 500, 400, 0, 0, 2, 10, 10, 0, 640, 480, 0xa1167a48263f1c3aull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Stamp s;
    s.page().m_string = c.text;
    s.page().m_fontSize = c.size;
    s.page().m_weight = c.weight;
    s.page().m_italic = c.italic;
    s.page().m_underline = c.underline;
    s.page().m_placement = c.placement;
    s.page().m_offsetX = c.offsetX;
    s.page().m_offsetY = c.offsetY;
    s.page().m_backType = c.backType;
    s.dlg.m_fileName = kLongName;
    const std::vector<BYTE> base = Pattern(c.w, c.h);
    const std::vector<BYTE> img = s.Run(base, c.w, c.h);
    EXPECT_NE(img, base);
    EXPECT_EQ(Fnv1a(img), c.sum) << std::hex << "0x" << Fnv1a(img);
  }
}

// A stamp far bigger than its picture costs the picture, not the text: 4000 characters and a
// 240-character file name at 500 pixels on 640 x 480, each run in a child process whose peak
// memory is measured. What the picture shows is drawn, with the warnings of the cut: placed top
// left, the 4000 characters draw what their first words drew.
TEST(TextStamp, LongStampsCostOnlyThePicture) {
  const std::string cutTopLeft = "text stamp cut: 0 of 1 line drawn whole, 1 cut at the left and top edges";
  const struct {
    std::string text;
    int placement;
    std::string warning;
    uint64_t sum;  // 0: any drawing
  } cases[] = {
      {LongText(), 5, cutTopLeft, 0},
      {"%NAME%", 5, cutTopLeft, 0x9c18c6d670233f2aull},  // as drawn whole before, in 390 MB
      {LongText(), 2, "text stamp cut: 0 of 1 line drawn whole, 1 cut at the right and bottom edges",
       0xa1167a48263f1c3aull},  // kShortText's sum
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20) + " placed " + std::to_string(c.placement));
    const qrvtest::ChildRun run = qrvtest::RunInChild([&] {
      Stamp s;
      s.page().m_string = c.text;
      s.page().m_fontSize = 500;
      s.page().m_placement = c.placement;
      s.dlg.m_fileName = kLongName;
      s.dlg.m_outcomes.emplace_back();
      const std::vector<BYTE> base = Pattern(640, 480);
      const std::vector<BYTE> img = s.Run(base, 640, 480);
      const std::vector<std::string>& warnings = s.dlg.m_outcomes.back().warnings;
      for (const std::string& w : warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());
      std::fprintf(stderr, "sum: 0x%llx\n", static_cast<unsigned long long>(Fnv1a(img)));
      return (img == base) | (warnings != std::vector<std::string>{c.warning}) << 1 |
             (c.sum != 0 && Fnv1a(img) != c.sum) << 2;
    });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.result, 0) << "1 nothing drawn, 2 other warnings, 4 other pixels";
    EXPECT_LT(run.peakMB, 100) << "MB of peak memory";
  }
}
