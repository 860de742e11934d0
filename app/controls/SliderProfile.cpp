// Stepped sliders to and from profile keys.
#include "app/controls/SliderProfile.h"

namespace {
constexpr size_t kMaxSteps = 256;
}

bool ParseSliderSteps(const std::string& text, std::vector<SliderStep>* steps) {
  std::vector<SliderStep> out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(pos, comma - pos);
    const size_t colon = item.find(':');
    if (colon == std::string::npos) return false;
    double p = 0.0;
    long long v = 0;
    if (!CIniFile::ParseDouble(item.substr(0, colon), &p)) return false;
    if (!CIniFile::ParseInt(item.substr(colon + 1), &v) || v < 0 || v > 255) return false;
    if (!out.empty() && !(p > out.back().position)) return false;
    if (out.size() >= kMaxSteps) return false;
    out.push_back({p, static_cast<int>(v)});
    pos = comma + 1;
  }
  if (out.empty()) return false;
  *steps = std::move(out);
  return true;
}

std::string FormatSliderSteps(const std::vector<SliderStep>& steps) {
  std::string out;
  for (const SliderStep& s : steps) {
    if (!out.empty()) out += ",";
    out += CIniFile::FormatDouble(s.position) + ":" + std::to_string(s.value);
  }
  return out;
}

void ReadSlider(const CIniFile& ini, const std::string& section, const std::string& prefix, CStepSlider& slider) {
  slider.m_enabled = ini.GetInt(section, prefix + "Enabled", slider.m_enabled);
  std::vector<SliderStep> steps;
  if (ini.Has(section, prefix + "Steps") && ParseSliderSteps(ini.GetString(section, prefix + "Steps", ""), &steps))
    slider.SetSteps(steps);
  slider.SetNoExifStep(ini.GetInt(section, prefix + "NoExif", slider.NoExifStep()));
}

void WriteSlider(CIniFile& ini, const std::string& section, const std::string& prefix, const CStepSlider& slider) {
  ini.SetInt(section, prefix + "Enabled", slider.m_enabled);
  ini.SetString(section, prefix + "Steps", FormatSliderSteps(slider.Steps()));
  ini.SetInt(section, prefix + "NoExif", slider.NoExifStep());
}
