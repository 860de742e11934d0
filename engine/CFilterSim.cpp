// The preset table and the tint: each channel is multiplied by the filter's colour, optionally
// mixed back toward the original by luminance (bright pixels keep their colour) and by the
// density, and optionally turned grey.
#include "engine/CFilterSim.h"

#include <cstdint>

#include "engine/PixelBands.h"

namespace {

const FilterPreset kPresets[CFilterSim::kPresetCount] = {
    {"#1A Filter", RGB(245, 237, 239), "UV Skylight Filter",
     "Use outdoors, to reduce blue and add warmth to scene."},
    {"#2A Filter", RGB(243, 245, 233), "Haze, Pale Yellow, UV",
     "Reduce excess blue caused by haze. Ideal for mountain, aerial and marine scenes."},
    {"#2B Filter", RGB(243, 245, 231), "(415)",
     "Absobs ultraviolet radiation under clear sky conditions, reducing blusih casts and haze."},
    {"#2E Filter", RGB(242, 245, 223), "Pale yellow",
     "Reducing bluish cast and haze. Also ultraviolet absorbing filter. "},
    {"#3 Filter", RGB(238, 248, 126), "Schott CG 455",
     "Light Yellow Filter. Removes some excess blue in aerial photos. Recommended for landscapes when the sun is positioned low."},
    {"#8 Filter", RGB(247, 241, 0), "Yellow 2 (022,Schott CG 495)",
     "Tonal correction outdoors with panchromatic films. Produces greater contrast in clouds against blue skies, and foliage.  Used for creating B&W photgraphy."},
    {"#9 Filter", RGB(255, 227, 0), "Yellow 3 (023,Schott OG 515) ",
     "Deep yellow for stronger cloud contrast. Used for creating B&W photgraphy"},
    {"#11 Filter", RGB(75, 195, 67), "Green 1 X1 (060) ",
     "Nice outdoor filter where for pleasing flesh tones in portraits against the sky. Also use before converting to B/W to render landscapes, flowers, or natural sky."},
    {"#12 Filter", RGB(255, 222, 0), "Yellow (099, Schott OG 530)",
     "Minus-Blue.Cuts haze in outdoors, excess blue of full moon in astrophotography."},
    {"#15 Filter", RGB(255, 202, 0), "Deep Yellow (G)",
     "Used mostly for B&W photos. Renders dramatic dark skies, marine scenes or aerial B&W photography. Enhances contrast."},
    {"#16 Filter", RGB(255, 183, 0), "Yellow-orange (040, Schott CG 550)",
     "Deeper than #15.darkens blue and violet as well as green and yellow-green. For all landscape and architectural photography which require clear contours. Popular for nude photography under natural light"},
    {"#18A Filter", RGB(253, 253, 255), "UV",
     "Has no visual effect on digital images."},
    {"#21 Filter", RGB(255, 144, 0), "Orange",
     "Absorbs blues and blue-greens. Renders blue tones darker for example in marine scenes."},
    {"#22 Filter", RGB(255, 105, 0), "Yellow 8 (041, Schott OG 570)",
     "Red-Orange. Used for correct rendition of sky, cloud, dramatic storm-like cloud reproduction or foliage mostly for creating B&W"},
    {"#23A Filter", RGB(255, 60, 0), "Light Red",
     "Contrast effects, darkens sky and water, architectural photography. Supresses purple, blue and green. Not recommended for portraits or flesh tones. Brighten red, orange, yellow-orange and yellow."},
    {"#24 Filter", RGB(238, 0, 0), "Red (090, Schott RG 595)",
     "Tends to darken blue sky and sky-illuminated shadows considerably and produce strong contrast effects. Also darken diffuse reflection from foliage."},
    {"#25 Filter", RGB(219, 0, 0), "Red 1",
     "Create dramatic sky effects, can simulate moonlight scenes. Used in object photography. Excellent filter for blueprints. Used in scientific photography."},
    {"#26 Filter", RGB(212, 0, 0), "Red",
     "Used also for 3-D anaglyph viewing with a #58 green filter."},
    {"#29 Filter", RGB(168, 0, 0), "Deep Red (091, Schott RG 625)",
     "For strong contrasts and copying blueprints."},
    {"#32 Filter", RGB(199, 0, 200), "Magenta 32",
     "Minus-green (#12 is minus-blue, #44A is minus-red). "},
    {"#33 Filter", RGB(154, 0, 78), "Magenta 33",
     "Strong green absorbtion. "},
    {"#34A Filter", RGB(106, 0, 185), "Violet",
     "For minus-green and plus-blue seperation in fluorescence processing"},
    {"#38A Filter", RGB(0, 127, 199), "Blue",
     "Encompassing the colors blue and green. Contrast filter for some ultraviolet and green absorption and much red absorption. In B&W photomicrography, for increasing contrast in records of faintly yellow or orange preparations."},
    {"#39 Filter", RGB(56, 0, 169), "Blue",
     "Contrast control in printing motion pictures"},
    {"#44 Filter", RGB(0, 136, 151), "Light blue-green",
     "Minus-red filter "},
    {"#44A Filter", RGB(0, 128, 173), "Minus-red CYAN 44A",
     "This filter, used with a panchromatic emulsion, simulates the effect of an orthochromatic film, emphasizing blue and green"},
    {"#47 Filter", RGB(0, 0, 179), "Dark Blue (DEEP BLUE 47)",
     "Accentuates haze and fog. Used for contrast effects."},
    {"#47A Filter", RGB(0, 16, 148), "Light blue",
     "Used for exciting flouresent dye in medical applications."},
    {"#47B Filter", RGB(50, 0, 154), "Dark Blue",
     "Lightens same color for detail."},
    {"#58 Filter", RGB(0, 172, 0), "Dark Green",
     "Contrast effects in microscopy, produces very light foliage."},
    {"#61 Filter", RGB(0, 152, 0), "Dark Green",
     "Extreme lightening of foliage. Springtime landscape photography."},
    {"#70 Filter", RGB(58, 0, 0), "Red (Schott RG 665)",
     "676 nm. "},
    {"#74 Filter", RGB(0, 90, 0), "Dark green",
     "Mercury green. 539 nm"},
    {"#80A Filter", RGB(113, 139, 222), "KB 15",
     "Converts daylight film for use with 3200°K lamps. Perfect for indoors lit by 100 watt (or less) incandescent bulbs."},
    {"#80B Filter", RGB(152, 188, 255), "KB 12",
     "Conversts daylight film for use with 3400°K lamps.Without it, strong yellow-orange color tones would occur"},
    {"#80C Filter", RGB(140, 174, 232), "",
     "For use with clear flash and daylight color films."},
    {"#80D Filter", RGB(187, 204, 232), "",
     "Weakest from the 80 series. Convert tungsten light to daylight"},
    {"#81 Filter", RGB(242, 240, 233), "Amber",
     "Light balancing filter. Yellowish, warming filter."},
    {"#81A Filter", RGB(239, 233, 221), "Amber",
     "Balances daylight films to electronic flash. Corrects Type B films for use with 3400°K lamps. Prevents excessive blue. Perfect for overcast days."},
    {"#81B Filter", RGB(235, 226, 211), "Amber",
     "Warmer results than 81A."},
    {"#81C Filter", RGB(231, 218, 200), "KR 3",
     "Permits the use of clear flash lamps. Also prevents blue cast in cloudy and rainy weather. Especially recommended under cloudless skies, mountains, seaside or midday sun. "},
    {"#81D Filter", RGB(229, 213, 189), "Amber",
     "Allows Kadachrome Type A color films to be used with flash. Warming 500k"},
    {"#81E Filter", RGB(225, 207, 177), "Amber",
     "Good for open summer shade where most of the light is coming from a blue sky"},
    {"#82 Filter", RGB(227, 232, 237), "",
     "For any 100° increase in Kelvin temperature for color renderings."},
    {"#82A Filter", RGB(214, 222, 234), "KB 1.5",
     "Reduce red with daylight films when the sun stands close to the horizon. When using Type A (3400°K) films under 3200°K lamps."},
    {"#82B Filter", RGB(200, 212, 230), "",
     "For cooler results. Type B tungsten (artificial) color films can be used with 2900°K illumination"},
    {"#82C Filter", RGB(185, 205, 228), "KB 3",
     "For cooler results or when using 3200°K lamps. Used to convert 5500°K lighting to 3800°K. "},
    {"#85 Filter", RGB(255, 195, 161), "KR 12",
     "Converts Type A tungsten (artifical light) film to daylight or can be used with an electronic flash"},
    {"#85B Filter", RGB(255, 188, 128), "KR 15",
     "Converts Type B tungsten (artifical light) film to daylight and can be used in conitions such as mountains ."},
    {"#85C Filter", RGB(251, 212, 188), "Amber",
     "For warmer results with daylight film. For cooler results than with 85B for Tungsten film.Converts 5500K (daylight) to 3800K lighting."},
    {"#85N3 Filter", RGB(186, 149, 112), "Amber series ",
     "Used to provide significant changes in color temperature of various light sources."},
    {"#85N6 Filter", RGB(140, 115, 85), "Amber series ",
     "Used to provide significant changes in color temperature of various light sources. "},
    {"#85N9 Filter", RGB(108, 79, 66), "Amber series ",
     "Used to provide significant changes in color temperature of various light sources. "},
    {"#87 Filter", RGB(40, 0, 0), "Infra Red (Schott RG 780)",
     "Visibly Opaque infrared filter. Transmits IR light greater than 770 nm."},
    {"#87C Filter", RGB(30, 0, 0), "Infra Red  (093, Schott RG 830)",
     "This visibly opaque infrared filter will filter out the entire visible spectrum."},
    {"#87B Filter", RGB(20, 0, 0), "Infra Red",
     ""},
    {"#88B Filter", RGB(60, 0, 0), "Infra Red",
     ""},
    {"#89B Filter", RGB(80, 0, 0), "Infra Red",
     "Visibly opaque. For infrared photography, especially aerial."},
    {"#90 Filter", RGB(136, 88, 0), "Dark grayish amber",
     "Monochrome viewing filter."},
    {"#92 Filter", RGB(120, 0, 0), "Red",
     "Used in Astrophotography."},
    {"#96 Filter", RGB(99, 99, 92), "Dark grayish amber",
     "Neutral filter for controlling luminance."},
    {"#98 Filter", RGB(46, 0, 142), "Blue",
     "Equivalent to #47B + #2B"},
    {"#99 Filter", RGB(27, 97, 0), "Green",
     "Equivalent to 61 + #16"},
    {"#102 Filter", RGB(163, 206, 21), "Yellow-green",
     "Converts barrier-layer photocell response to eye luminosity response"},
    {"#106 Filter", RGB(251, 125, 0), "Amber",
     "Converts an S-4 type photocell response to eye luminosity response"},
};

std::string UpperAscii(const std::string& s) {
  std::string u = s;
  for (char& ch : u)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return u;
}

const FilterPreset* Find(const std::string& name) {
  const std::string key = UpperAscii(name);
  for (const FilterPreset& p : kPresets)
    if (UpperAscii(p.name) == key) return &p;
  return nullptr;
}

int Mean(COLORREF c) { return (GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3; }

inline BYTE StoreByte(int v) { return static_cast<BYTE>(v > 255 ? 255 : (v < 0 ? 0 : v)); }

}  // namespace

const FilterPreset* CFilterSim::Presets() { return kPresets; }

void CFilterSim::FillCombo(std::vector<ComboItem>& items, int brightFirst) {
  items.clear();
  if (!brightFirst) {
    for (const FilterPreset& p : kPresets) items.push_back({p.name, p.color});
    return;
  }
  for (const FilterPreset& p : kPresets)
    if (Mean(p.color) >= 128) items.push_back({p.name, p.color});
  for (const FilterPreset& p : kPresets)
    if (Mean(p.color) < 128) items.push_back({p.name, p.color});
}

std::string CFilterSim::GetTitle(const std::string& name) {
  const FilterPreset* p = Find(name);
  return p ? p->title : "";
}

std::string CFilterSim::GetDescription(const std::string& name) {
  const FilterPreset* p = Find(name);
  return p ? p->description : "";
}

COLORREF CFilterSim::GetColor(const std::string& name) {
  const FilterPreset* p = Find(name);
  return p ? p->color : kNoFilter;
}

void CFilterSim::Apply(BYTE* image, int width, int height, const std::string& name, int density, int keepLuminance,
                       int grey) {
  Tint(image, width, height, GetColor(name), density, keepLuminance, grey);
}

void CFilterSim::Tint(BYTE* image, int width, int height, COLORREF color, int density, int keepLuminance,
                      int grey) {
  if (!image || width <= 0 || height <= 0 || color == kNoFilter) return;
  const int tint[3] = {GetRValue(color), GetGValue(color), GetBValue(color)};
  // Filtered value of each channel value, and the luminance weight of each luminance.
  int filtered[3][256];
  for (int c = 0; c < 3; ++c)
    for (int v = 0; v < 256; ++v) filtered[c][v] = tint[c] * v / 255;
  double weight[256];
  for (int y = 0; y < 256; ++y) weight[y] = ((y * y) / 255) / 255.0;
  const bool dense = density < 255;
  const double d = density / 255.0;
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    for (uint64_t i = first; i < last; ++i) {
      BYTE* p = image + 3 * i;
      const int c[3] = {p[0], p[1], p[2]};
      int t[3] = {filtered[0][c[0]], filtered[1][c[1]], filtered[2][c[2]]};
      if (keepLuminance) {
        const int y = static_cast<int>(0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2] + 0.001);
        const double w = weight[y];
        for (int k = 0; k < 3; ++k) t[k] = static_cast<int>(c[k] * w + t[k] * (1 - w));
      }
      if (dense)
        for (int k = 0; k < 3; ++k) t[k] = static_cast<int>(c[k] * (1 - d) + t[k] * d);
      if (grey) {
        const int g = static_cast<int>(0.3 * t[0] + 0.59 * t[1] + 0.11 * t[2] + 0.001);
        t[0] = t[1] = t[2] = g;
      }
      p[0] = StoreByte(t[0]);
      p[1] = StoreByte(t[1]);
      p[2] = StoreByte(t[2]);
    }
  });
}
