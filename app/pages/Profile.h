// Settings profiles (".qrv"): every section and key of the settings pages, read into and written
// from the pages and the application's mode word.
#pragma once

#include <string>
#include <vector>

#include "app/CIniFile.h"
#include "engine/shell/SettingsPages.h"

// Takes every key present in the profile; missing or malformed keys keep the pages' values.
void ReadProfile(const CIniFile& ini, SettingsPages& pages, int& advancedMode);
// Writes every key of the pages.
void WriteProfile(const SettingsPages& pages, int advancedMode, CIniFile& ini);

// Loads a profile file over the pages; false when the file cannot be read.
bool LoadProfileFile(const std::string& path, SettingsPages& pages, int& advancedMode);
bool SaveProfileFile(const std::string& path, const SettingsPages& pages, int advancedMode);

// The command's check of settings before a run, against the same table of keys with each key's
// type and allowed values.
enum class SettingStatus { kOk, kUnknownSection, kUnknownKey, kBadValue };
// Checks one value. On a problem *message says what is wrong (and for a bad value what is
// allowed); *hint (when given) lists the known sections or the section's keys for an unknown
// name. A slider's NoExif index is held to the steps that `context` gives it (its own steps when
// `context` has none).
SettingStatus CheckSetting(const std::string& section, const std::string& key, const std::string& value,
                           const CIniFile& context, std::string* message, std::string* hint = nullptr);

struct ProfileProblem {
  int line;    // 1 for the first line
  bool error;  // an error refuses the profile; a warning means the line is ignored
  std::string text;
  // For an unknown section or key, warned about once: every line where it appears (the text
  // lists them too); empty for a problem of one line.
  std::vector<int> lines;
};
// Checks profile text line by line: a line of no known form, or a value that does not parse or
// is out of range, is an error; an unknown section or key (once, with its lines), or a key
// repeated in its section, is a warning.
std::vector<ProfileProblem> CheckProfileText(const std::string& text);
