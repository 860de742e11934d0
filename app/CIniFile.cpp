// Profile text reader and writer.
#include "app/CIniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <sstream>

namespace {

constexpr long long kMaxProfileBytes = 16LL << 20;

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

}  // namespace

bool CIniFile::SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool CIniFile::ReadText(const std::string& path, std::string* text, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    *error = "it is a folder";
    return false;
  }
  // Read to the end, never more than the limit: a device such as /dev/zero has no size.
  std::string out;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    if (static_cast<long long>(out.size()) + n > kMaxProfileBytes) {
      close(fd);
      *error = "larger than 16 MB";
      return false;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  *text = std::move(out);
  return true;
}

bool CIniFile::Load(const std::string& path) {
  std::string text, error;
  if (!ReadText(path, &text, &error)) return false;
  Parse(text);
  return true;
}

std::vector<CIniFile::Line> CIniFile::SplitLines(const std::string& text) {
  std::vector<Line> lines;
  std::string current;  // keys before any section header belong to the unnamed section
  // A byte-order mark that some editors put first is not part of the text.
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int number = 0;
  while (pos < text.size()) {
    // A line ends in LF, CRLF or a lone CR.
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    Line line;
    line.number = ++number;
    line.text = Trim(text.substr(pos, end - pos));
    pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    const std::string& t = line.text;
    if (t.empty()) {
      line.kind = Line::kBlank;
    } else if (t[0] == ';' || t[0] == '#') {
      line.kind = Line::kComment;
    } else if (t[0] == '[') {
      const size_t close = t.find(']');
      if (close == std::string::npos) {
        line.kind = Line::kBad;  // malformed header: the section does not change
      } else {
        line.kind = Line::kSection;
        current = Trim(t.substr(1, close - 1));
        line.section = current;
        line.trailing = Trim(t.substr(close + 1));
      }
    } else {
      const size_t eq = t.find('=');
      const std::string key = eq == std::string::npos ? std::string() : Trim(t.substr(0, eq));
      if (key.empty()) {
        line.kind = Line::kBad;
      } else {
        line.kind = Line::kValue;
        line.section = current;
        line.key = key;
        line.value = Trim(t.substr(eq + 1));
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

void CIniFile::Parse(const std::string& text) {
  for (const Line& line : SplitLines(text)) {
    if (line.kind != Line::kValue) continue;
    if (Find(line.section, line.key)) continue;  // first occurrence wins
    SectionFor(line.section).entries.push_back({line.key, line.value});
  }
}

std::string CIniFile::ToText() const {
  std::string out;
  for (const Section& s : m_sections) {
    if (!out.empty()) out += "\n";
    if (!s.name.empty() || &s != &m_sections.front()) out += "[" + s.name + "]\n";
    for (const Entry& e : s.entries) out += e.key + "=" + e.value + "\n";
  }
  return out;
}

bool CIniFile::Save(const std::string& path) const {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const std::string text = ToText();
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return (std::fclose(f) == 0) && ok;
}

const CIniFile::Entry* CIniFile::Find(const std::string& section, const std::string& key) const {
  for (const Section& s : m_sections) {
    if (!SameName(s.name, section)) continue;
    for (const Entry& e : s.entries)
      if (SameName(e.key, key)) return &e;
  }
  return nullptr;
}

CIniFile::Section& CIniFile::SectionFor(const std::string& section) {
  for (Section& s : m_sections)
    if (SameName(s.name, section)) return s;
  m_sections.push_back({section, {}});
  return m_sections.back();
}

bool CIniFile::Has(const std::string& section, const std::string& key) const { return Find(section, key) != nullptr; }

std::string CIniFile::GetString(const std::string& section, const std::string& key, const std::string& def) const {
  const Entry* e = Find(section, key);
  return e ? e->value : def;
}

bool CIniFile::ParseInt(const std::string& text, long long* out) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (t[i] == '+' || t[i] == '-') {
    negative = t[i] == '-';
    ++i;
  }
  int base = 10;
  if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  unsigned long long v = 0;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (v > 0xFFFFFFFFULL) return false;
  }
  *out = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
  return true;
}

bool CIniFile::ParseDouble(const std::string& text, double* out) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  std::istringstream in(t);
  in.imbue(std::locale::classic());
  double v = 0.0;
  in >> v;
  if (in.fail()) return false;
  in >> std::ws;
  if (!in.eof() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

std::string CIniFile::FormatDouble(double value) {
  for (int precision = 15; precision <= 17; ++precision) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(precision);
    out << value;
    double back = 0.0;
    if (ParseDouble(out.str(), &back) && back == value) return out.str();
    if (precision == 17) return out.str();
  }
  return "0";
}

int CIniFile::GetInt(const std::string& section, const std::string& key, int def) const {
  const Entry* e = Find(section, key);
  long long v = 0;
  if (!e || !ParseInt(e->value, &v)) return def;
  if (v < -2147483648LL || v > 2147483647LL) return def;
  return static_cast<int>(v);
}

unsigned CIniFile::GetUInt(const std::string& section, const std::string& key, unsigned def) const {
  const Entry* e = Find(section, key);
  long long v = 0;
  if (!e || !ParseInt(e->value, &v) || v < 0 || v > 0xFFFFFFFFLL) return def;
  return static_cast<unsigned>(v);
}

double CIniFile::GetDouble(const std::string& section, const std::string& key, double def) const {
  const Entry* e = Find(section, key);
  double v = 0.0;
  if (!e || !ParseDouble(e->value, &v)) return def;
  return v;
}

void CIniFile::SetString(const std::string& section, const std::string& key, const std::string& value) {
  Section& s = SectionFor(section);
  for (Entry& e : s.entries) {
    if (SameName(e.key, key)) {
      e.value = value;
      return;
    }
  }
  s.entries.push_back({key, value});
}

void CIniFile::SetInt(const std::string& section, const std::string& key, long long value) {
  SetString(section, key, std::to_string(value));
}

void CIniFile::SetDouble(const std::string& section, const std::string& key, double value) {
  SetString(section, key, FormatDouble(value));
}

bool CIniFile::SplitAssignment(const std::string& assignment, std::string* section, std::string* key,
                               std::string* value) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos) return false;
  const std::string name = assignment.substr(0, eq);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  *section = Trim(name.substr(0, dot));
  *key = Trim(name.substr(dot + 1));
  *value = Trim(assignment.substr(eq + 1));
  return !section->empty() && !key->empty();
}

bool CIniFile::SetFromAssignment(const std::string& assignment) {
  std::string section, key, value;
  if (!SplitAssignment(assignment, &section, &key, &value)) return false;
  SetString(section, key, value);
  return true;
}
