// One table binds every page member to its section and key; the reader and the writer share it.
#include "app/pages/Profile.h"

#include <vector>

#include "app/controls/SliderProfile.h"

namespace {

struct Binding {
  enum Kind { kInt, kUInt, kDouble, kText, kSlider } kind;
  const char* section;
  const char* key;  // the slider's key prefix ("" or "Sim") for kSlider
  void* member;
};

std::vector<Binding> Bindings(SettingsPages& p, int& mode) {
  using B = Binding;
  return {
      {B::kInt, "Mode", "Advanced", &mode},
      // Output page
      {B::kInt, "Output", "Type", &p.output.m_type},
      {B::kText, "Output", "SimDir", &p.output.m_simDir},
      {B::kInt, "Output", "Mirror", &p.output.m_mirror},
      {B::kInt, "Output", "Replace", &p.output.m_replace},
      {B::kInt, "Output", "FileType", &p.output.m_fileType},
      {B::kInt, "Output", "DetailedLog", &p.output.m_detailedLog},
      // Size & Quality page
      {B::kInt, "Size", "Type", &p.sizeQuality.m_sizeType},
      {B::kInt, "Size", "Percent", &p.sizeQuality.m_percent},
      {B::kInt, "Size", "Width", &p.sizeQuality.m_width},
      {B::kInt, "Size", "Height", &p.sizeQuality.m_height},
      {B::kInt, "Size", "Filter", &p.sizeQuality.m_filter},
      {B::kInt, "Size", "KeepEXIF", &p.sizeQuality.m_keepExif},
      {B::kInt, "Quality", "Type", &p.sizeQuality.m_qualityType},
      {B::kInt, "Quality", "CQ", &p.sizeQuality.m_cq},
      {B::kDouble, "Quality", "MaxKB", &p.sizeQuality.m_maxKB},
      {B::kInt, "Quality", "MinQ", &p.sizeQuality.m_minQ},
      {B::kInt, "Quality", "Subsampling", &p.sizeQuality.m_subsampling},
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
      {B::kInt, "FilterSim", "Enabled", &p.castAdvanced.m_filterSimEnabled},
      {B::kInt, "FilterSim", "BW", &p.castAdvanced.m_filterSimBW},
      {B::kText, "FilterSim", "Name", &p.castAdvanced.m_filterName},
      {B::kInt, "FilterSim", "SimEnabled", &p.castBasic.m_filterSimEnabled},
      {B::kInt, "FilterSim", "SimBW", &p.castBasic.m_filterSimBW},
      {B::kText, "FilterSim", "SimName", &p.castBasic.m_filterName},
      // Hot Pixels pages
      {B::kSlider, "Hot Pixels", "", &p.hotPixelsAdvanced.m_hotPixels},
      {B::kSlider, "Hot Pixels", "Sim", &p.hotPixelsBasic.m_hotPixels},
      {B::kSlider, "Window", "", &p.hotPixelsAdvanced.m_window},
      {B::kInt, "HotPixels", "BF", &p.hotPixelsAdvanced.m_blackFrame},
      {B::kInt, "HotPixels", "Exclude", &p.hotPixelsAdvanced.m_exclude},
      {B::kText, "HotPixels", "ExcludeModels", &p.hotPixelsAdvanced.m_excludeModels},
      {B::kInt, "HotPixels", "ExcludeValue", &p.hotPixelsAdvanced.m_excludeValue},
      // Details (sharpen) pages
      {B::kSlider, "Sharpen", "", &p.sharpenAdvanced.m_sharpen},
      {B::kSlider, "Sharpen", "Sim", &p.sharpenBasic.m_sharpen},
      {B::kInt, "Sharpen", "Type", &p.sharpenAdvanced.m_type},
      {B::kSlider, "Radius", "", &p.sharpenAdvanced.m_radius},
      // Denoiser pages
      {B::kSlider, "Denoisser", "", &p.denoiserAdvanced.m_denoise},
      {B::kSlider, "Denoisser", "Sim", &p.denoiserBasic.m_denoise},
      {B::kSlider, "Subject Distance (m)", "", &p.denoiserAdvanced.m_distance},
      {B::kSlider, "Subject Distance (m)", "Sim", &p.denoiserBasic.m_distance},
      {B::kSlider, "Soft Focus", "", &p.denoiserAdvanced.m_softFocus},
      {B::kSlider, "Soft Focus", "Sim", &p.denoiserBasic.m_softFocus},
      {B::kInt, "CleanSkin", "DeFocus", &p.denoiserAdvanced.m_deFocus},
      {B::kInt, "CleanSkin", "SimDeFocus", &p.denoiserBasic.m_deFocus},
      {B::kInt, "CleanSkin", "PinkTones", &p.denoiserAdvanced.m_pinkTones},
      {B::kInt, "CleanSkin", "SimPinkTones", &p.denoiserBasic.m_pinkTones},
      // Text stamp page
      {B::kInt, "Text", "Enabled", &p.textStamp.m_enabled},
      {B::kText, "Text", "String", &p.textStamp.m_string},
      {B::kText, "Text", "FontName", &p.textStamp.m_fontName},
      {B::kInt, "Text", "FontSize", &p.textStamp.m_fontSize},
      {B::kInt, "Text", "Italic", &p.textStamp.m_italic},
      {B::kInt, "Text", "Underline", &p.textStamp.m_underline},
      {B::kInt, "Text", "Weight", &p.textStamp.m_weight},
      {B::kInt, "Text", "Placement", &p.textStamp.m_placement},
      {B::kInt, "Text", "BackType", &p.textStamp.m_backType},
      {B::kInt, "Text", "OffsetX", &p.textStamp.m_offsetX},
      {B::kInt, "Text", "OffsetY", &p.textStamp.m_offsetY},
      {B::kUInt, "Text", "TextColor", &p.textStamp.m_textColor},
      {B::kUInt, "Text", "BKColor", &p.textStamp.m_bkColor},
      {B::kInt, "Text", "DateStyle", &p.textStamp.m_dateStyle},
      {B::kInt, "sRGB", "Enabled", &p.textStamp.m_srgbEnabled},
      {B::kInt, "sRGB", "Test", &p.textStamp.m_srgbTest},
  };
}

}  // namespace

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
