// Simulated photographic colour filters: the table of 65 presets (name, colour, title,
// description), look-up by name, the list a settings page shows, and the tint itself on
// PackedRGB24 pictures.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_types.h"

struct FilterPreset {
  const char* name;         // "#1A Filter" form
  COLORREF color;           // 0x00BBGGRR
  const char* title;        // may be empty
  const char* description;  // may be empty
};

class CFilterSim {
 public:
  // The colour that stands for no filter, and what an unknown name looks up to.
  static constexpr COLORREF kNoFilter = 0xFFFFFF;
  static constexpr int kPresetCount = 65;

  // One entry of the list a settings page fills: the item text and its data word.
  struct ComboItem {
    std::string name;
    COLORREF color;
  };

  CFilterSim() = default;
  virtual ~CFilterSim() = default;

  // The presets in table order.
  static const FilterPreset* Presets();

  // Empties the list and adds every preset's name with its colour; with brightFirst set,
  // first the presets whose mean (R + G + B) / 3 is 128 or more, then the others, each group
  // in table order.
  static void FillCombo(std::vector<ComboItem>& items, int brightFirst);
  // Look-ups by name, compared upper-cased; the first match wins. An unknown name gives an
  // empty title or description and the colour kNoFilter.
  static std::string GetTitle(const std::string& name);
  static std::string GetDescription(const std::string& name);
  static COLORREF GetColor(const std::string& name);

  // Tints the picture with the named preset's colour.
  static void Apply(BYTE* image, int width, int height, const std::string& name, int density, int keepLuminance,
                    int grey);
  // Tints the picture with a colour 0x00BBGGRR at a density 0..255; keepLuminance lets
  // bright pixels keep their own colour, grey turns the result into grey.
  static void Tint(BYTE* image, int width, int height, COLORREF color, int density, int keepLuminance, int grey);
};
