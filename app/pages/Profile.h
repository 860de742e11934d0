// Settings profiles (".qrv"): every section and key of the settings pages, read into and written
// from the pages and the application's mode word.
#pragma once

#include <string>

#include "app/CIniFile.h"
#include "engine/shell/SettingsPages.h"

// Takes every key present in the profile; missing or malformed keys keep the pages' values.
void ReadProfile(const CIniFile& ini, SettingsPages& pages, int& advancedMode);
// Writes every key of the pages.
void WriteProfile(const SettingsPages& pages, int advancedMode, CIniFile& ini);

// Loads a profile file over the pages; false when the file cannot be read.
bool LoadProfileFile(const std::string& path, SettingsPages& pages, int& advancedMode);
bool SaveProfileFile(const std::string& path, const SettingsPages& pages, int advancedMode);
