// One table binds every page member to its section and key; the reader and the writer share it.
#include "app/pages/Profile.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <vector>

#include "app/controls/SliderProfile.h"
#include "engine/shell/CProgressDlg.h"
#include "engine/CFilterSim.h"
#include "engine/TextStamp.h"

namespace {

constexpr double kIntMin = -2147483648.0, kIntMax = 2147483647.0;

// The allowed values of the whole-number keys that take any value, as the check reports them.
constexpr const char* kOffOn = "any whole number: 0 off, any other on";

bool AnyText(const std::string&) { return true; }
bool EmptyOrAbsolute(const std::string& text) { return text.empty() || text[0] == '/'; }
bool EmptyOrFilterName(const std::string& text) {
  if (text.empty()) return true;
  for (int i = 0; i < CFilterSim::kPresetCount; ++i)
    if (CIniFile::SameName(CFilterSim::Presets()[i].name, text)) return true;
  return false;
}

// One key of a profile: the page member it fills, its type and the values the command accepts.
// The reader takes whatever parses (the pipeline copes with any value); the command's check
// before a run holds each value to [low, high] or to the text rule. A whole-number key that the
// pipeline reads as "0, else ..." (or that gives every other value a meaning) takes any whole
// number: its range is kIntMin..kIntMax and its text rule says what the values mean.
struct Binding {
  enum Kind { kInt, kUInt, kDouble, kText, kSlider } kind;
  const char* section;
  const char* key;  // the slider's key prefix ("" or "Sim") for kSlider
  void* member;
  double low = 0.0, high = 0.0;
  bool (*textOk)(const std::string&) = AnyText;
  const char* textRule = "any text";
};

std::vector<Binding> Bindings(SettingsPages& p, int& mode) {
  using B = Binding;
  const double on = 1.0;  // switches read as "equal to 1": 0 off, 1 on
  const double lo = kIntMin, hi = kIntMax;
  const double kMaxKB = 2147483.0;  // the size limit in bytes must fit an int
  return {
      {B::kInt, "Mode", "Advanced", &mode, lo, hi, AnyText, "any whole number: 0 simple mode, any other advanced"},
      // Output page
      {B::kInt, "Output", "Type", &p.output.m_type, 0, 2},
      {B::kText, "Output", "SimDir", &p.output.m_simDir, 0, 0, EmptyOrAbsolute, "empty or an absolute folder path"},
      {B::kInt, "Output", "Mirror", &p.output.m_mirror, lo, hi, AnyText, kOffOn},
      {B::kInt, "Output", "Replace", &p.output.m_replace, lo, hi, AnyText, kOffOn},
      {B::kInt, "Output", "FileType", &p.output.m_fileType, 0, 3},
      {B::kInt, "Output", "DetailedLog", &p.output.m_detailedLog, lo, hi, AnyText, kOffOn},
      // Size & Quality page
      {B::kInt, "Size", "Type", &p.sizeQuality.m_sizeType, lo, hi, AnyText,
       "any whole number: 0 none, 1 by Percent, 2 into a Width x Height box, any other no resize"},
      {B::kInt, "Size", "Percent", &p.sizeQuality.m_percent, 1, 1000},
      {B::kInt, "Size", "Width", &p.sizeQuality.m_width, lo, hi, AnyText, "any whole number (below 1 counts as 1)"},
      {B::kInt, "Size", "Height", &p.sizeQuality.m_height, lo, hi, AnyText, "any whole number (below 1 counts as 1)"},
      {B::kInt, "Size", "Filter", &p.sizeQuality.m_filter, lo, hi, AnyText,
       "any whole number: 0 the program's own resampler, any other the library's"},
      {B::kInt, "Size", "KeepEXIF", &p.sizeQuality.m_keepExif, lo, hi, AnyText, kOffOn},
      {B::kInt, "Quality", "Type", &p.sizeQuality.m_qualityType, 0, 2},
      {B::kInt, "Quality", "CQ", &p.sizeQuality.m_cq, 1, 100},
      {B::kDouble, "Quality", "MaxKB", &p.sizeQuality.m_maxKB, 1, kMaxKB},
      {B::kInt, "Quality", "MinQ", &p.sizeQuality.m_minQ, 1, 100},
      {B::kInt, "Quality", "Subsampling", &p.sizeQuality.m_subsampling, lo, hi, AnyText, kOffOn},
      // Balance pages
      {B::kSlider, "Balance", "", &p.balanceAdvanced.m_balance},
      {B::kSlider, "Balance", "Sim", &p.balanceBasic.m_balance},
      {B::kSlider, "Midtones", "", &p.balanceAdvanced.m_midtones},
      {B::kSlider, "Midtones", "Sim", &p.balanceBasic.m_midtones},
      // Color Cast pages
      {B::kSlider, "ColorCast", "", &p.castAdvanced.m_colorCast},
      {B::kSlider, "ColorCast", "Sim", &p.castBasic.m_colorCast},
      {B::kSlider, "Saturation", "", &p.castAdvanced.m_saturation},
      {B::kSlider, "Saturation", "Sim", &p.castBasic.m_saturation},
      {B::kInt, "FilterSim", "Enabled", &p.castAdvanced.m_filterSimEnabled, 0, on},
      {B::kInt, "FilterSim", "BW", &p.castAdvanced.m_filterSimBW, lo, hi, AnyText, kOffOn},
      {B::kText, "FilterSim", "Name", &p.castAdvanced.m_filterName, 0, 0, EmptyOrFilterName,
       "empty or a name of the filter list, such as \"#1A Filter\""},
      {B::kInt, "FilterSim", "SimEnabled", &p.castBasic.m_filterSimEnabled, 0, on},
      {B::kInt, "FilterSim", "SimBW", &p.castBasic.m_filterSimBW, lo, hi, AnyText, kOffOn},
      {B::kText, "FilterSim", "SimName", &p.castBasic.m_filterName, 0, 0, EmptyOrFilterName,
       "empty or a name of the filter list, such as \"#1A Filter\""},
      // Hot Pixels pages
      {B::kSlider, "Hot Pixels", "", &p.hotPixelsAdvanced.m_hotPixels},
      {B::kSlider, "Hot Pixels", "Sim", &p.hotPixelsBasic.m_hotPixels},
      {B::kSlider, "Window", "", &p.hotPixelsAdvanced.m_window},
      {B::kInt, "HotPixels", "BF", &p.hotPixelsAdvanced.m_blackFrame, 0, on},
      {B::kInt, "HotPixels", "Exclude", &p.hotPixelsAdvanced.m_exclude, lo, hi, AnyText, kOffOn},
      {B::kText, "HotPixels", "ExcludeModels", &p.hotPixelsAdvanced.m_excludeModels},
      {B::kInt, "HotPixels", "ExcludeValue", &p.hotPixelsAdvanced.m_excludeValue, 0, 255},
      // Details (sharpen) pages
      {B::kSlider, "Sharpen", "", &p.sharpenAdvanced.m_sharpen},
      {B::kSlider, "Sharpen", "Sim", &p.sharpenBasic.m_sharpen},
      {B::kInt, "Sharpen", "Type", &p.sharpenAdvanced.m_type, lo, hi, AnyText,
       "any whole number: 0 the 3x3 sharpen, any other the unsharp mask"},
      {B::kSlider, "Radius", "", &p.sharpenAdvanced.m_radius},
      // Denoiser pages
      {B::kSlider, "Denoisser", "", &p.denoiserAdvanced.m_denoise},
      {B::kSlider, "Denoisser", "Sim", &p.denoiserBasic.m_denoise},
      {B::kSlider, "Subject Distance (m)", "", &p.denoiserAdvanced.m_distance},
      {B::kSlider, "Subject Distance (m)", "Sim", &p.denoiserBasic.m_distance},
      {B::kSlider, "Soft Focus", "", &p.denoiserAdvanced.m_softFocus},
      {B::kSlider, "Soft Focus", "Sim", &p.denoiserBasic.m_softFocus},
      {B::kInt, "CleanSkin", "DeFocus", &p.denoiserAdvanced.m_deFocus, 0, on},
      {B::kInt, "CleanSkin", "SimDeFocus", &p.denoiserBasic.m_deFocus, 0, on},
      {B::kInt, "CleanSkin", "PinkTones", &p.denoiserAdvanced.m_pinkTones, lo, hi, AnyText, kOffOn},
      {B::kInt, "CleanSkin", "SimPinkTones", &p.denoiserBasic.m_pinkTones, lo, hi, AnyText, kOffOn},
      // Text stamp page
      {B::kInt, "Text", "Enabled", &p.textStamp.m_enabled, 0, on},
      {B::kText, "Text", "String", &p.textStamp.m_string},
      {B::kText, "Text", "FontName", &p.textStamp.m_fontName},
      {B::kInt, "Text", "FontSize", &p.textStamp.m_fontSize, 0, kStampMaxFontSize},
      {B::kInt, "Text", "Italic", &p.textStamp.m_italic, lo, hi, AnyText,
       "any whole number: its low byte, 0 off, any other on"},
      {B::kInt, "Text", "Underline", &p.textStamp.m_underline, lo, hi, AnyText,
       "any whole number: its low byte, 0 off, any other on"},
      {B::kInt, "Text", "Weight", &p.textStamp.m_weight, 0, 1000},
      {B::kInt, "Text", "Placement", &p.textStamp.m_placement, lo, hi, AnyText,
       "any whole number: 0..5, any other places as 5 (bottom right)"},
      {B::kInt, "Text", "BackType", &p.textStamp.m_backType, lo, hi, AnyText,
       "any whole number: 0 or less no box, 1 at 25% opacity, 3 opaque, any other at 50%"},
      {B::kInt, "Text", "OffsetX", &p.textStamp.m_offsetX, 0, kIntMax},
      {B::kInt, "Text", "OffsetY", &p.textStamp.m_offsetY, 0, kIntMax},
      {B::kUInt, "Text", "TextColor", &p.textStamp.m_textColor, 0, 0xFFFFFF},
      {B::kUInt, "Text", "BKColor", &p.textStamp.m_bkColor, 0, 0xFFFFFF},
      {B::kInt, "Text", "DateStyle", &p.textStamp.m_dateStyle, 0, 2},
      {B::kInt, "sRGB", "Enabled", &p.textStamp.m_srgbEnabled, 0, on},
      {B::kInt, "sRGB", "Test", &p.textStamp.m_srgbTest, lo, hi, AnyText, kOffOn},
  };
}

}  // namespace

namespace {

constexpr const char* kSliderKeys[] = {"Enabled", "Steps", "NoExif"};

// The table over the built-in pages: the keys, their rules, and the sliders' built-in steps.
class SettingsTable {
 public:
  SettingsTable() : m_bindings(Bindings(m_defaults, m_mode)) {}
  // The bindings point into the table's own pages.
  SettingsTable(const SettingsTable&) = delete;
  SettingsTable& operator=(const SettingsTable&) = delete;

  // The binding of section.key; for a slider *part is its key without the prefix.
  const Binding* Find(const std::string& section, const std::string& key, std::string* part) const {
    for (const Binding& b : m_bindings) {
      if (!CIniFile::SameName(b.section, section)) continue;
      if (b.kind != Binding::kSlider) {
        if (CIniFile::SameName(b.key, key)) return &b;
        continue;
      }
      for (const char* k : kSliderKeys) {
        if (CIniFile::SameName(std::string(b.key) + k, key)) {
          *part = k;
          return &b;
        }
      }
    }
    return nullptr;
  }

  std::string CanonicalSection(const std::string& section) const {
    for (const Binding& b : m_bindings)
      if (CIniFile::SameName(b.section, section)) return b.section;
    return std::string();
  }

  std::string SectionList() const {
    std::vector<std::string> names;
    for (const Binding& b : m_bindings) {
      bool known = false;
      for (const std::string& n : names) known |= n == b.section;
      if (!known) names.push_back(b.section);
    }
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
  }

  std::string KeyList(const std::string& section) const {
    std::string out;
    for (const Binding& b : m_bindings) {
      if (!CIniFile::SameName(b.section, section)) continue;
      if (b.kind != Binding::kSlider) {
        out += std::string(out.empty() ? "" : ", ") + b.key;
        continue;
      }
      for (const char* k : kSliderKeys) out += std::string(out.empty() ? "" : ", ") + b.key + k;
    }
    return out;
  }

 private:
  SettingsPages m_defaults;
  int m_mode = 1;
  std::vector<Binding> m_bindings;
};

// A text quoted for a message, its control characters escaped, cut after 60 columns.
std::string Quoted(const std::string& text) { return "\"" + ConsoleFit(text, 63, false) + "\""; }

// "line 12" or "lines 12, 13, 14" (the first ten, then how many more).
std::string LinesText(const std::vector<int>& lines) {
  constexpr size_t kListed = 10;
  std::string out = lines.size() == 1 ? "line " : "lines ";
  for (size_t i = 0; i < lines.size() && i < kListed; ++i) out += (i ? ", " : "") + std::to_string(lines[i]);
  if (lines.size() > kListed) out += " and " + std::to_string(lines.size() - kListed) + " more";
  return out;
}

std::string NumberText(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

std::string RangeText(const Binding& b) {
  if (b.kind == Binding::kUInt) return "0..0xFFFFFF (a colour 0xBBGGRR)";
  if (b.kind == Binding::kInt && b.low == 0 && b.high == 1) return "0 or 1";
  if (b.kind == Binding::kInt && b.low == kIntMin && b.high == kIntMax) return b.textRule;
  return NumberText(b.low) + ".." + NumberText(b.high) + (b.kind == Binding::kDouble ? " (a number)" : "");
}

// How many steps the slider has once the profile is read: its Steps there, else its own.
size_t SliderStepCount(const Binding& b, const std::string& section, const CIniFile& context) {
  const std::string key = std::string(b.key) + "Steps";
  std::vector<SliderStep> steps;
  if (context.Has(section, key) && ParseSliderSteps(context.GetString(section, key, ""), &steps))
    return steps.size();
  return static_cast<const CStepSlider*>(b.member)->Steps().size();
}

SettingStatus CheckWith(const SettingsTable& table, const std::string& section, const std::string& key,
                        const std::string& value, const CIniFile& context, std::string* message,
                        std::string* hint) {
  std::string part;
  const Binding* b = table.Find(section, key, &part);
  if (!b) {
    if (section.empty()) {
      *message = "key " + Quoted(key) + " stands before any [Section] header";
      return SettingStatus::kUnknownSection;
    }
    const std::string canonical = table.CanonicalSection(section);
    if (canonical.empty()) {
      *message = "unknown section " + Quoted(section);
      if (hint) *hint = "the sections are " + table.SectionList();
      return SettingStatus::kUnknownSection;
    }
    *message = "section " + Quoted(canonical) + " has no key " + Quoted(key);
    if (hint) *hint = "its keys are " + table.KeyList(section);
    return SettingStatus::kUnknownKey;
  }
  auto bad = [&](const std::string& what, const std::string& allowed) {
    *message = what + "; allowed: " + allowed;
    return SettingStatus::kBadValue;
  };
  switch (b->kind) {
    case Binding::kInt:
    case Binding::kUInt: {
      long long v = 0;
      if (!CIniFile::ParseInt(value, &v)) return bad(Quoted(value) + " is not a whole number", RangeText(*b));
      if (v < b->low || v > b->high) return bad(value + " is out of range", RangeText(*b));
      break;
    }
    case Binding::kDouble: {
      double v = 0.0;
      if (!CIniFile::ParseDouble(value, &v)) return bad(Quoted(value) + " is not a number", RangeText(*b));
      if (v < b->low || v > b->high) return bad(value + " is out of range", RangeText(*b));
      break;
    }
    case Binding::kText:
      if (!b->textOk(value)) return bad(Quoted(value) + " is not allowed", b->textRule);
      break;
    case Binding::kSlider: {
      long long v = 0;
      if (part == "Enabled") {  // on when not 0
        if (!CIniFile::ParseInt(value, &v)) return bad(Quoted(value) + " is not a whole number", kOffOn);
        if (v < kIntMin || v > kIntMax) return bad(value + " is out of range", kOffOn);
      } else if (part == "Steps") {
        std::vector<SliderStep> steps;
        if (!ParseSliderSteps(value, &steps))
          return bad(Quoted(value) + " is not a list of steps",
                     "position:value,... with ascending positions and values 0..255, at most 256 steps");
      } else {
        const long long count = static_cast<long long>(SliderStepCount(*b, section, context));
        const std::string allowed =
            count == 1 ? std::string("0 (the slider has one step)")
                       : "a step index 0.." + std::to_string(count - 1) + " (the slider has " +
                             std::to_string(count) + " steps)";
        if (!CIniFile::ParseInt(value, &v)) return bad(Quoted(value) + " is not a whole number", allowed);
        if (v < 0 || v >= count) return bad(value + " is out of range", allowed);
      }
      break;
    }
  }
  return SettingStatus::kOk;
}

}  // namespace

SettingStatus CheckSetting(const std::string& section, const std::string& key, const std::string& value,
                           const CIniFile& context, std::string* message, std::string* hint) {
  const SettingsTable table;
  return CheckWith(table, section, key, value, context, message, hint);
}

std::vector<ProfileProblem> CheckProfileText(const std::string& text) {
  std::vector<ProfileProblem> problems;
  const SettingsTable table;
  CIniFile context;
  context.Parse(text);
  std::map<std::string, int> seen;  // lower-cased "section\nkey" -> first line
  // An unknown section or key is one warning, listing every line where it appears: lower-cased
  // name -> the warning's index in `problems` and the message without its lines.
  std::map<std::string, std::pair<size_t, std::string>> unknown;
  auto lower = [](std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  };
  for (const CIniFile::Line& line : CIniFile::SplitLines(text)) {
    auto add = [&](bool error, const std::string& what) { problems.push_back({line.number, error, what, {}}); };
    if (line.text.find('\0') != std::string::npos) {
      add(true, "not a text file (this line holds NUL bytes)");
      break;  // the lines of a binary file say nothing more
    }
    switch (line.kind) {
      case CIniFile::Line::kBlank:
      case CIniFile::Line::kComment:
        break;
      case CIniFile::Line::kSection:
        if (!line.trailing.empty() && line.trailing[0] != ';' && line.trailing[0] != '#')
          add(true, "text after the section header: " + Quoted(line.trailing));
        break;
      case CIniFile::Line::kBad:
        if (line.text[0] == '[')
          add(true, "section header without its closing ']': " + Quoted(line.text));
        else
          add(true, "not a [Section] header, a Key=Value line, a comment or a blank line: " + Quoted(line.text));
        break;
      case CIniFile::Line::kValue: {
        std::string message;
        const SettingStatus status = CheckWith(table, line.section, line.key, line.value, context, &message, nullptr);
        if (status == SettingStatus::kUnknownSection || status == SettingStatus::kUnknownKey) {
          const bool noSection = status == SettingStatus::kUnknownSection && !line.section.empty();
          const std::string id = lower(noSection ? line.section : line.section + "\n" + line.key);
          auto found = unknown.find(id);
          if (found == unknown.end()) {
            if (noSection) message = "unknown section [" + ConsoleFit(line.section, 63, false) + "]";
            found = unknown.emplace(id, std::make_pair(problems.size(), message)).first;
            add(false, std::string());
          }
          problems[found->second.first].lines.push_back(line.number);
          break;
        }
        const std::string id = lower(line.section + "\n" + line.key);
        const auto first = seen.find(id);
        if (first != seen.end()) {
          add(false, line.key + " repeats line " + std::to_string(first->second) + "; ignored (the first one counts)");
          break;
        }
        seen[id] = line.number;
        if (status == SettingStatus::kBadValue)
          add(true, line.section + "." + line.key + "=" + line.value + ": " + message);
        break;
      }
    }
  }
  for (const auto& u : unknown) {
    ProfileProblem& p = problems[u.second.first];
    p.text = u.second.second + " (" + LinesText(p.lines) + "), ignored";
  }
  return problems;
}

void ReadProfile(const CIniFile& ini, SettingsPages& pages, int& advancedMode) {
  for (const Binding& b : Bindings(pages, advancedMode)) {
    switch (b.kind) {
      case Binding::kInt: {
        int& v = *static_cast<int*>(b.member);
        v = ini.GetInt(b.section, b.key, v);
        break;
      }
      case Binding::kUInt: {
        unsigned& v = *static_cast<unsigned*>(b.member);
        v = ini.GetUInt(b.section, b.key, v);
        break;
      }
      case Binding::kDouble: {
        double& v = *static_cast<double*>(b.member);
        v = ini.GetDouble(b.section, b.key, v);
        break;
      }
      case Binding::kText: {
        std::string& v = *static_cast<std::string*>(b.member);
        v = ini.GetString(b.section, b.key, v);
        break;
      }
      case Binding::kSlider:
        ReadSlider(ini, b.section, b.key, *static_cast<CStepSlider*>(b.member));
        break;
    }
  }
  advancedMode = advancedMode != 0 ? 1 : 0;
}

void WriteProfile(const SettingsPages& pages, int advancedMode, CIniFile& ini) {
  // The bindings only read through their pointers here.
  SettingsPages& p = const_cast<SettingsPages&>(pages);
  int mode = advancedMode;
  for (const Binding& b : Bindings(p, mode)) {
    switch (b.kind) {
      case Binding::kInt: ini.SetInt(b.section, b.key, *static_cast<int*>(b.member)); break;
      case Binding::kUInt: ini.SetInt(b.section, b.key, *static_cast<unsigned*>(b.member)); break;
      case Binding::kDouble: ini.SetDouble(b.section, b.key, *static_cast<double*>(b.member)); break;
      case Binding::kText: ini.SetString(b.section, b.key, *static_cast<std::string*>(b.member)); break;
      case Binding::kSlider: WriteSlider(ini, b.section, b.key, *static_cast<CStepSlider*>(b.member)); break;
    }
  }
}

bool LoadProfileFile(const std::string& path, SettingsPages& pages, int& advancedMode) {
  CIniFile ini;
  if (!ini.Load(path)) return false;
  ReadProfile(ini, pages, advancedMode);
  return true;
}

bool SaveProfileFile(const std::string& path, const SettingsPages& pages, int advancedMode) {
  CIniFile ini;
  WriteProfile(pages, advancedMode, ini);
  return ini.Save(path);
}
