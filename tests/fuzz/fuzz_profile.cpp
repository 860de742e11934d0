// Profile text of any content read into the settings pages, written back and read again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/CIniFile.h"
#include "app/pages/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  CIniFile ini;
  ini.Parse(std::string(reinterpret_cast<const char*>(data), size));
  SettingsPages pages;
  int mode = 1;
  ReadProfile(ini, pages, mode);
  // The read values survive a write and a second read unchanged.
  CIniFile out;
  WriteProfile(pages, mode, out);
  CIniFile again;
  again.Parse(out.ToText());
  SettingsPages pages2;
  int mode2 = 0;
  ReadProfile(again, pages2, mode2);
  CIniFile out2;
  WriteProfile(pages2, mode2, out2);
  if (out.ToText() != out2.ToText()) __builtin_trap();
  // Look-ups anywhere on the curves stay in 0..255.
  for (double p : {-1e9, 0.0, 0.5, 1.0, 7.0, 1e9}) {
    const int v = pages.balanceAdvanced.GetBalanceAt(p, 1) + pages.hotPixelsAdvanced.GetHotPixelsAt(p, 1, "m");
    if (v < 0 || v > 510) __builtin_trap();
  }
  return 0;
}
