// Profile text: "[Section]" and "Key=Value" lines. Names are case-insensitive, the first
// occurrence of a key wins, blanks around names and values are trimmed, a line whose first
// non-blank character is ';' or '#' is a comment, lines end in LF, CRLF or CR, and a leading
// UTF-8 byte-order mark is skipped. Numbers are read and written in the C locale.
#pragma once

#include <string>
#include <vector>

class CIniFile {
 public:
  // One line of profile text as the reader sees it.
  struct Line {
    enum Kind { kBlank, kComment, kSection, kValue, kBad } kind = kBlank;
    int number = 0;       // 1 for the first line
    std::string text;     // the line without its end and surrounding blanks
    std::string section;  // kSection: the name it opens; kValue: the section it belongs to
    std::string key, value;
    std::string trailing;  // kSection: what follows the closing ']' (the reader ignores it)
  };
  static std::vector<Line> SplitLines(const std::string& text);

  // Reads a whole file of at most 16 MB into *text; false with the reason in *error otherwise
  // (a folder, a device that never ends, a file that cannot be opened).
  static bool ReadText(const std::string& path, std::string* text, std::string* error);
  // Reads a file; false (and nothing read) when ReadText fails.
  bool Load(const std::string& path);
  // Takes every section and key line; lines of other forms are skipped.
  void Parse(const std::string& text);
  // Writes the sections and keys in the order they were first set; false on a file error.
  bool Save(const std::string& path) const;
  std::string ToText() const;

  bool Has(const std::string& section, const std::string& key) const;
  // The value, or `def` when the key is missing.
  std::string GetString(const std::string& section, const std::string& key, const std::string& def) const;
  // The value as a number, or `def` when the key is missing or its value is not a number that
  // fits (ints also accept 0x hexadecimal).
  int GetInt(const std::string& section, const std::string& key, int def) const;
  unsigned GetUInt(const std::string& section, const std::string& key, unsigned def) const;
  double GetDouble(const std::string& section, const std::string& key, double def) const;

  // Sets (replaces) a value.
  void SetString(const std::string& section, const std::string& key, const std::string& value);
  void SetInt(const std::string& section, const std::string& key, long long value);
  void SetDouble(const std::string& section, const std::string& key, double value);

  // Parses "Section.Key=Value" (the command's --set); the section is everything before the last
  // '.' ahead of the '='. False when malformed.
  bool SetFromAssignment(const std::string& assignment);
  static bool SplitAssignment(const std::string& assignment, std::string* section, std::string* key,
                              std::string* value);

  // Section and key names compare without regard to case.
  static bool SameName(const std::string& a, const std::string& b);
  static bool ParseInt(const std::string& text, long long* out);
  static bool ParseDouble(const std::string& text, double* out);
  static std::string FormatDouble(double value);

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Entry* Find(const std::string& section, const std::string& key) const;
  Section& SectionFor(const std::string& section);
  std::vector<Section> m_sections;
};
