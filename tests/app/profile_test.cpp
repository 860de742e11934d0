// Profile text, the page bindings and the shipped default profile.
#include <gtest/gtest.h>

#include "app/CIniFile.h"
#include "app/controls/SliderProfile.h"
#include "app/pages/Profile.h"
#include "support/test_support.h"

namespace {

TEST(IniFile, NamesCaseFirstWinsCommentsAndCrlf) {
  CIniFile ini;
  ini.Parse("; head\r\n[Size]\r\n  type = 2 \r\nTYPE=1\r\n# note\r\n[size]\nWidth=800\n[Text]\nString=a=b ; c\nbad line\n[broken\nK=1\n");
  EXPECT_EQ(ini.GetInt("SIZE", "Type", -1), 2);
  EXPECT_EQ(ini.GetInt("Size", "width", -1), 800);
  EXPECT_EQ(ini.GetString("text", "string", ""), "a=b ; c");  // only whole-line comments
  EXPECT_FALSE(ini.Has("Size", "# note"));
  EXPECT_EQ(ini.GetInt("Size", "Height", 7), 7);
}

// Profiles as other editors save them: a byte-order mark first, lines ended by CR alone, by
// CRLF or mixed. Every one reads CQ=43 and reports its bad line under that line's number.
TEST(IniFile, ByteOrderMarkAndEveryLineEnd) {
  const char* texts[] = {
      "\xEF\xBB\xBF[Quality]\nCQ=43\nMinQ=0\n",
      "; a comment first\r[Quality]\rCQ=43\rMinQ=0\r",
      "\xEF\xBB\xBF[Quality]\r\nCQ=43\r\nMinQ=0",
      "[Quality]\r\rCQ=43\n\n\r\nMinQ=0\r\n",
  };
  const int badLine[] = {3, 4, 3, 6};
  for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i) {
    CIniFile ini;
    ini.Parse(texts[i]);
    SettingsPages pages;
    int mode = 1;
    ReadProfile(ini, pages, mode);
    EXPECT_EQ(pages.sizeQuality.m_cq, 43) << i;
    const std::vector<ProfileProblem> problems = CheckProfileText(texts[i]);
    ASSERT_EQ(problems.size(), 1u) << i;
    EXPECT_EQ(problems[0].line, badLine[i]) << i;
    EXPECT_EQ(problems[0].text.compare(0, 14, "Quality.MinQ=0"), 0) << problems[0].text;
  }
}

TEST(IniFile, NumbersInTheCLocaleAndBadValues) {
  CIniFile ini;
  ini.Parse("[N]\na=12x\nb=0x00FF\nc=-3\nd=2.5\ne=1e3\nf=nan\ng=99999999999\nh=  \ni=,5\n");
  EXPECT_EQ(ini.GetInt("N", "a", 9), 9);
  EXPECT_EQ(ini.GetInt("N", "b", 9), 255);
  EXPECT_EQ(ini.GetInt("N", "c", 9), -3);
  EXPECT_DOUBLE_EQ(ini.GetDouble("N", "d", 0), 2.5);
  EXPECT_DOUBLE_EQ(ini.GetDouble("N", "e", 0), 1000.0);
  EXPECT_DOUBLE_EQ(ini.GetDouble("N", "f", 4.0), 4.0);
  EXPECT_EQ(ini.GetInt("N", "g", 9), 9);
  EXPECT_EQ(ini.GetInt("N", "h", 9), 9);
  EXPECT_DOUBLE_EQ(ini.GetDouble("N", "i", 4.0), 4.0);
  EXPECT_EQ(ini.GetUInt("N", "c", 5u), 5u);
  for (double v : {0.1, 1.0 / 3.0, 1e-300, 123456789.125}) {
    double back = 0;
    ASSERT_TRUE(CIniFile::ParseDouble(CIniFile::FormatDouble(v), &back));
    EXPECT_EQ(back, v);
  }
}

TEST(IniFile, Assignments) {
  CIniFile ini;
  EXPECT_TRUE(ini.SetFromAssignment("Subject Distance (m).Steps=0:1,5:3"));
  EXPECT_EQ(ini.GetString("subject distance (m)", "steps", ""), "0:1,5:3");
  EXPECT_TRUE(ini.SetFromAssignment("Size.Type=2"));
  EXPECT_TRUE(ini.SetFromAssignment("Size.type=1"));  // replaces
  EXPECT_EQ(ini.GetInt("Size", "Type", 0), 1);
  EXPECT_FALSE(ini.SetFromAssignment("NoDot=1"));
  EXPECT_FALSE(ini.SetFromAssignment("Size.Type"));
  EXPECT_FALSE(ini.SetFromAssignment(".Type=1"));
}

TEST(SliderProfile, StepsText) {
  std::vector<SliderStep> s;
  ASSERT_TRUE(ParseSliderSteps("1:150, 5.5:128,13:0", &s));
  ASSERT_EQ(s.size(), 3u);
  EXPECT_DOUBLE_EQ(s[1].position, 5.5);
  EXPECT_EQ(s[2].value, 0);
  EXPECT_EQ(FormatSliderSteps(s), "1:150,5.5:128,13:0");
  for (const char* bad : {"", "1", "1:256", "1:-1", "2:1,1:1", "1:1,1:2", "a:1", "1:1,", "1:1;2:2"})
    EXPECT_FALSE(ParseSliderSteps(bad, &s)) << bad;
  std::string many;
  for (int i = 0; i < 300; ++i) many += (i ? "," : "") + std::to_string(i) + ":1";
  EXPECT_FALSE(ParseSliderSteps(many, &s));
}

TEST(Profile, MissingAndMalformedKeysKeepDefaults) {
  SettingsPages pages;
  int mode = 1;
  CIniFile ini;
  ini.Parse("[Mode]\nAdvanced=0\n[Balance]\nSteps=5:1,2:9\nNoExif=3\nSimEnabled=0\n[Size]\nPercent=abc\nWidth=640\n"
            "[Text]\nTextColor=0x0000FF\n[Quality]\nMaxKB=250.5\n");
  ReadProfile(ini, pages, mode);
  EXPECT_EQ(mode, 0);
  SettingsPages fresh;
  EXPECT_EQ(pages.balanceAdvanced.m_balance.Steps().size(), fresh.balanceAdvanced.m_balance.Steps().size());
  EXPECT_EQ(pages.balanceAdvanced.m_balance.NoExifStep(), 3);
  EXPECT_EQ(pages.balanceBasic.m_balance.GetEnabled(), 0);
  EXPECT_EQ(pages.sizeQuality.m_percent, fresh.sizeQuality.m_percent);
  EXPECT_EQ(pages.sizeQuality.m_width, 640);
  EXPECT_EQ(pages.textStamp.m_textColor, 0xFFu);
  EXPECT_DOUBLE_EQ(pages.sizeQuality.m_maxKB, 250.5);
}

TEST(Profile, WriteThenReadRoundTrips) {
  qrvtest::TempDir tmp;
  SettingsPages pages;
  pages.output.m_simDir = "/tmp/out dir";
  pages.output.m_mirror = 1;
  pages.sharpenAdvanced.m_radius.SetSteps({{1.0, 10}, {2.5, 20}});
  pages.sharpenAdvanced.m_radius.SetNoExifStep(1);
  pages.hotPixelsAdvanced.m_excludeModels = "A1, 10D";
  pages.textStamp.m_string = "%MODEL% %DATE%";
  pages.sizeQuality.m_maxKB = 333.25;
  pages.denoiserBasic.m_softFocus.m_enabled = 0;
  ASSERT_TRUE(SaveProfileFile(tmp.File("p.qrv"), pages, 0));
  SettingsPages back;
  int mode = 1;
  ASSERT_TRUE(LoadProfileFile(tmp.File("p.qrv"), back, mode));
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(back.output.m_simDir, "/tmp/out dir");
  EXPECT_EQ(back.output.m_mirror, 1);
  EXPECT_EQ(FormatSliderSteps(back.sharpenAdvanced.m_radius.Steps()), "1:10,2.5:20");
  EXPECT_EQ(back.sharpenAdvanced.m_radius.NoExifStep(), 1);
  EXPECT_EQ(back.hotPixelsAdvanced.m_excludeModels, "A1, 10D");
  EXPECT_EQ(back.textStamp.m_string, "%MODEL% %DATE%");
  EXPECT_DOUBLE_EQ(back.sizeQuality.m_maxKB, 333.25);
  EXPECT_EQ(back.denoiserBasic.m_softFocus.GetEnabled(), 0);
  EXPECT_FALSE(LoadProfileFile(tmp.File("missing.qrv"), back, mode));
}

// The shipped profile holds every key the pages write, each value equal to the built-in default.
TEST(Profile, ShippedDefaultMatchesBuiltInDefaults) {
  CIniFile shipped;
  ASSERT_TRUE(shipped.Load(std::string(QRV_SOURCE_DIR) + "/app/default.qrv"));
  CIniFile builtIn;
  WriteProfile(SettingsPages(), 1, builtIn);
  const std::string text = builtIn.ToText();
  std::string section;
  size_t pos = 0, keys = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty()) continue;
    if (line[0] == '[') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const size_t eq = line.find('=');
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    ASSERT_TRUE(shipped.Has(section, key)) << section << "." << key;
    ++keys;
    long long a = 0, b = 0;
    if (CIniFile::ParseInt(value, &a) && CIniFile::ParseInt(shipped.GetString(section, key, ""), &b))
      EXPECT_EQ(a, b) << section << "." << key;
    else
      EXPECT_EQ(shipped.GetString(section, key, "?"), value) << section << "." << key;
  }
  EXPECT_GT(keys, 100u);
}

// The command's check: each key's edges, names in any case, and NoExif against the steps the
// profile gives the slider.
TEST(Profile, CheckSettingHoldsEachKeyToItsRange) {
  CIniFile context;
  context.Parse("[Radius]\nSteps=1:60,2:40,3:30\n");
  const struct {
    const char *section, *key, *value;
    SettingStatus status;
  } cases[] = {
      {"quality", "cq", "100", SettingStatus::kOk},
      {"Quality", "CQ", "101", SettingStatus::kBadValue},
      {"Quality", "MinQ", "0", SettingStatus::kBadValue},
      {"Quality", "MaxKB", "0.5", SettingStatus::kBadValue},
      {"Quality", "MaxKB", "2.5", SettingStatus::kOk},
      {"Size", "Width", "0", SettingStatus::kOk},  // counts as 1
      {"Size", "Width", "2147483648", SettingStatus::kBadValue},
      {"Size", "Percent", "1000", SettingStatus::kOk},
      {"Mode", "Advanced", "2", SettingStatus::kOk},  // 0 simple, any other advanced
      // Keys read as "0, else ..." take any whole number; those read as "equal to 1" stay 0 or 1.
      {"Size", "Filter", "2", SettingStatus::kOk},
      {"Sharpen", "Type", "-7", SettingStatus::kOk},
      {"Sharpen", "Type", "1.5", SettingStatus::kBadValue},
      {"Balance", "SimEnabled", "2", SettingStatus::kOk},
      {"Text", "Placement", "9", SettingStatus::kOk},
      {"FilterSim", "Enabled", "2", SettingStatus::kBadValue},
      {"Output", "FileType", "4", SettingStatus::kBadValue},
      {"Text", "OffsetX", "-1", SettingStatus::kBadValue},
      {"Text", "BKColor", "0xFFFFFF", SettingStatus::kOk},
      {"Text", "FontSize", "501", SettingStatus::kBadValue},
      {"Text", "Placement", "1.0", SettingStatus::kBadValue},
      {"Text", "String", "", SettingStatus::kOk},
      {"FilterSim", "SimName", "#1a filter", SettingStatus::kOk},
      {"FilterSim", "Name", "Sepia 99", SettingStatus::kBadValue},
      {"Output", "SimDir", "/srv/out", SettingStatus::kOk},
      {"Subject Distance (m)", "SimEnabled", "1", SettingStatus::kOk},
      {"Radius", "NoExif", "2", SettingStatus::kOk},
      {"Radius", "NoExif", "3", SettingStatus::kBadValue},
      {"Window", "NoExif", "3", SettingStatus::kBadValue},  // its own three steps
      {"Window", "SimSteps", "0:1", SettingStatus::kUnknownKey},
      {"Sharpen", "Steps", "0:255,2:0", SettingStatus::kOk},
      {"Sharpen", "Steps", "0:256", SettingStatus::kBadValue},
      {"Size", "Colour", "1", SettingStatus::kUnknownKey},
      {"", "Type", "1", SettingStatus::kUnknownSection},
  };
  for (const auto& c : cases) {
    std::string message;
    EXPECT_EQ(CheckSetting(c.section, c.key, c.value, context, &message), c.status)
        << c.section << "." << c.key << "=" << c.value << ": " << message;
  }
}

}  // namespace
