// The settings pages as plain objects: each member is one profile key, each stepped slider a
// CStepSlider. The pipeline, the output writer and the run loops read these members and call the
// pages' look-ups; the profile reader and writer (app/) fill and store them.
#pragma once

#include <ctime>
#include <string>

#include "engine/shell/CStepSlider.h"

// What every page shares: the framework's data exchange. The pages hold their values directly,
// so taking the controls' values (save = TRUE) keeps them; the call is counted so that a caller's
// refreshes can be checked.
class CSettingsPage {
 public:
  virtual ~CSettingsPage() = default;
  int UpdateData(int save = 1) {
    if (save) ++m_refreshCount;
    return 1;
  }
  int m_refreshCount = 0;
};

// Tab 0: the HTML view that shows the help pages and the log of a run.
class CModePage : public CSettingsPage {
 public:
  // Shows "help/" + name of the program's home folder; recorded as the shown file's path.
  void ShowHtmlFile(const std::string& name);
  std::string m_homeDir;
  std::string m_shownFile;
  int m_showCount = 0;
};

// [Output]
class COutputPage : public CSettingsPage {
 public:
  int m_type = 0;           // "Type": 0 "QRV" subfolder of each source folder, 1 one folder, 2 source folder
  std::string m_simDir;     // "SimDir": the output folder of type 1
  int m_mirror = 0;         // "Mirror": mirror the source folder structure below the output folder
  int m_replace = 0;        // "Replace": replace existing files
  int m_fileType = 0;       // "FileType": 0 source's format, 1 JPEG, 2 PNG, 3 BMP
  int m_detailedLog = 1;    // "DetailedLog"
};

// [Size] and [Quality]
class CSizeQualityPage : public CSettingsPage {
 public:
  int m_sizeType = 0;       // "Size" "Type": 0 none, 1 percent, 2 fit into a box
  int m_percent = 50;       // "Percent"
  int m_width = 1600;       // "Width"
  int m_height = 1200;      // "Height"
  int m_filter = 1;         // "Filter": 0 the program's own resampler, otherwise the library's
  int m_keepExif = 1;       // "KeepEXIF"
  int m_qualityType = 0;    // "Quality" "Type": 0 fixed, 1 size limit, 2 size of the source file
  int m_cq = 90;            // "CQ": (maximum) quality
  double m_maxKB = 500.0;   // "MaxKB": size limit in kilobytes
  int m_minQ = 70;          // "MinQ": minimum quality
  int m_subsampling = 0;    // "Subsampling": full chroma resolution
};

// [Balance], [Midtones]
class CBalancePage : public CSettingsPage {
 public:
  CBalancePage(CStepSlider balance, CStepSlider midtones) : m_balance(balance), m_midtones(midtones) {}
  int GetBalanceAt(double position, int exifKnown) { return m_balance.ValueAt(position, exifKnown); }
  // 128 = neutral.
  int GetMidtonesAt(int flashIndex, int exifKnown) { return m_midtones.ValueAt(flashIndex, exifKnown); }
  CStepSlider m_balance;   // position: log2 of the exposure in 1/500 s, 13 = flash fired
  CStepSlider m_midtones;  // two-state: flash not fired / fired
};
class CBalanceBasicPage : public CBalancePage {
 public:
  CBalanceBasicPage();
};
class CBalanceAdvancedPage : public CBalancePage {
 public:
  CBalanceAdvancedPage();
};

// [ColorCast], [Saturation], [FilterSim]
class CColorCastPage : public CSettingsPage {
 public:
  CColorCastPage(CStepSlider cast, CStepSlider saturation) : m_colorCast(cast), m_saturation(saturation) {}
  int GetColorCastAt(int flashIndex, int exifKnown) { return m_colorCast.ValueAt(flashIndex, exifKnown); }
  // 128 = unchanged.
  int GetSaturationAt(double position, int exifKnown) { return m_saturation.ValueAt(position, exifKnown); }
  // The chosen entry of the filter-simulation list; empty when none is chosen.
  std::string GetFilterName() const { return m_filterName; }
  CStepSlider m_colorCast;   // two-state: flash not fired / fired
  CStepSlider m_saturation;  // position: the flash state
  int m_filterSimEnabled = 0;  // "Enabled" (advanced) / "SimEnabled" (simple)
  int m_filterSimBW = 0;       // "BW" / "SimBW": grey picture
  std::string m_filterName;    // "Name" / "SimName"
};
class CColorCastBasicPage : public CColorCastPage {
 public:
  CColorCastBasicPage();
};
class CColorCastAdvancedPage : public CColorCastPage {
 public:
  CColorCastAdvancedPage();
};

// [Hot Pixels], and for the advanced page [Window] and [HotPixels]
class CHotPixelsBasicPage : public CSettingsPage {
 public:
  CHotPixelsBasicPage();
  int GetHotPixelsBasicAt(double position, int exifKnown, const std::string& model);
  CStepSlider m_hotPixels;
};
class CHotPixelsAdvancedPage : public CSettingsPage {
 public:
  CHotPixelsAdvancedPage();
  // The strength at an exposure time; the excluded value for a model on the exclusion list.
  int GetHotPixelsAt(double exposureSeconds, int exifKnown, const std::string& model);
  int GetWindowAt(double exposureSeconds, int exifKnown) { return m_window.ValueAt(exposureSeconds, exifKnown); }
  // True when the model text contains (in any case) one of the comma-separated list entries.
  bool IsExcludedModel(const std::string& model) const;
  CStepSlider m_hotPixels;  // position: exposure time in seconds
  CStepSlider m_window;     // position: exposure time in seconds; window = value + 2
  int m_blackFrame = 0;     // "HotPixels" "BF": black-frame subtraction on (both modes)
  int m_exclude = 0;        // "Exclude": the exclusion list is on
  std::string m_excludeModels;  // "ExcludeModels": comma-separated model texts
  int m_excludeValue = 0;   // "ExcludeValue": strength for excluded models (0 = no correction)
};

// [Sharpen], and for the advanced page [Radius] and "Sharpen" "Type"
class CSharpenPage : public CSettingsPage {
 public:
  explicit CSharpenPage(CStepSlider sharpen) : m_sharpen(sharpen) {}
  int GetSharpenAt(double position, int exifKnown) { return m_sharpen.ValueAt(position, exifKnown); }
  CStepSlider m_sharpen;  // position: exposure time in seconds (0 below one second)
};
class CSharpenBasicPage : public CSharpenPage {
 public:
  CSharpenBasicPage();
};
class CSharpenAdvancedPage : public CSharpenPage {
 public:
  CSharpenAdvancedPage();
  int GetRadiusAt(double position, int exifKnown) { return m_radius.ValueAt(position, exifKnown); }
  CStepSlider m_radius;  // position: log2 of the F-number, 1..3
  int m_type = 1;        // "Sharpen" "Type": 0 the 3x3 sharpen, otherwise the unsharp mask
};

// [Denoisser], [Subject Distance (m)], [Soft Focus], [CleanSkin]
class CDenoiserPage : public CSettingsPage {
 public:
  CDenoiserPage(CStepSlider denoise, CStepSlider distance, CStepSlider softFocus)
      : m_denoise(denoise), m_distance(distance), m_softFocus(softFocus) {}
  int GetDenoiseAt(double position, int exifKnown) { return m_denoise.ValueAt(position, exifKnown); }
  int GetDistanceAt(double position, int exifKnown) { return m_distance.ValueAt(position, exifKnown); }
  int GetSoftFocusAt(int flashIndex, int exifKnown) { return m_softFocus.ValueAt(flashIndex, exifKnown); }
  // 1 when "Portrait De-Focus" is chosen rather than "Noise Removal".
  int IsDeFocusMode() const { return m_deFocus == 1 ? 1 : 0; }
  CStepSlider m_denoise;    // position: ISO; value: opacity of the cleaned copy
  CStepSlider m_distance;   // position: subject distance in metres; value: speckle passes (at most 3 used)
  CStepSlider m_softFocus;  // two-state: flash; value / 50 = skin-smoothing radius
  int m_deFocus = 0;        // "CleanSkin" "DeFocus" / "SimDeFocus"
  int m_pinkTones = 0;      // "CleanSkin" "PinkTones" / "SimPinkTones"
};
class CDenoiserBasicPage : public CDenoiserPage {
 public:
  CDenoiserBasicPage();
};
class CDenoiserAdvancedPage : public CDenoiserPage {
 public:
  CDenoiserAdvancedPage();
};

// [Text] and [sRGB]
class CTextStampPage : public CSettingsPage {
 public:
  int m_enabled = 0;             // "Text" "Enabled"
  std::string m_string = "%DATE%";  // "String": the template
  std::string m_fontName = "DejaVu Sans";  // "FontName"
  int m_fontSize = 12;           // "FontSize"
  int m_italic = 0;              // "Italic"
  int m_underline = 0;           // "Underline"
  int m_weight = 400;            // "Weight"
  int m_placement = 5;           // "Placement"
  int m_backType = 0;            // "BackType"
  int m_offsetX = 10;            // "OffsetX"
  int m_offsetY = 10;            // "OffsetY"
  unsigned m_textColor = 0x00FFFFFFu;  // "TextColor" (0x00BBGGRR)
  unsigned m_bkColor = 0;        // "BKColor"
  int m_dateStyle = 0;           // "DateStyle": 0 "2004:05:06 07:08:09", 1 "2004:05:06", 2 "06.05.2004"
  int m_srgbEnabled = 1;         // "sRGB" "Enabled": colour matching on
  int m_srgbTest = 0;            // "sRGB" "Test": convert every picture

  // Preview fields, written by the pipeline's stamp step for the page's own preview.
  std::string m_prevFlash, m_prevFNumber, m_prevIso, m_prevMetering, m_prevModel, m_prevProgram,
      m_prevSpeed, m_prevWidth, m_prevHeight, m_prevName, m_prevNameNoExt, m_prevComment, m_prevDate;
  time_t m_prevFileTime = 0;
  int m_previewRedraws = 0;

  // Stores the date text for the stamp preview and redraws it.
  void SetPreviewInfo(const std::string& dateText);
  // The texts for "%DATE%" (from the EXIF date "YYYY:MM:DD HH:MM:SS") and "%MODIFDATE%" (from
  // the file time, local time) in the chosen date style. A date text of another form is used
  // as it stands; a file time of 0 gives an empty text.
  void ComposeStampText(std::string& dateText, std::string& fileDateText, const std::string& exifDate,
                        time_t fileTime) const;
};

// Every page of the main window, with the built-in defaults.
struct SettingsPages {
  CModePage mode;
  COutputPage output;
  CSizeQualityPage sizeQuality;
  CBalanceBasicPage balanceBasic;
  CBalanceAdvancedPage balanceAdvanced;
  CColorCastBasicPage castBasic;
  CColorCastAdvancedPage castAdvanced;
  CHotPixelsBasicPage hotPixelsBasic;
  CHotPixelsAdvancedPage hotPixelsAdvanced;
  CSharpenBasicPage sharpenBasic;
  CSharpenAdvancedPage sharpenAdvanced;
  CDenoiserBasicPage denoiserBasic;
  CDenoiserAdvancedPage denoiserAdvanced;
  CTextStampPage textStamp;
};
