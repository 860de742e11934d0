// Console progress display on stderr (a terminal only), the shown form of texts on stderr, and
// Ctrl-C as the Cancel flag while the window is shown.
#include "engine/shell/CProgressDlg.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/OutputNaming.h"

namespace {

volatile sig_atomic_t g_cancelFlag = 0;
volatile sig_atomic_t g_cancelSignal = 0;

// The signals that cancel a run while the window is shown: Ctrl-C, a polite end (kill, a system
// shutting down) and the terminal hanging up. Their earlier handlers come back afterwards.
constexpr int kCancelSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kSignalCount = sizeof kCancelSignals / sizeof kCancelSignals[0];
struct sigaction g_previousActions[kSignalCount];

extern "C" void OnCancelSignal(int signal) {
  g_cancelSignal = signal;
  g_cancelFlag = 1;
}

// The progress line drawn on the terminal and not yet cleared; empty when none is.
std::string g_drawnLine;
constexpr const char* kClearLine = "\r\033[K";

// One shown piece of a text: a character as it stands (with the combining marks that follow
// it), or the escape of a byte, a C1 control or a format character; the columns it takes.
struct Unit {
  std::string text;
  size_t columns;
};

// The length of the valid UTF-8 sequence at s[i] (two bytes or more), 0 when there is none.
size_t Utf8Length(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c == 0xE0) {
    n = 3, low = 0xA0;
  } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
    n = 3;
  } else if (c == 0xED) {
    n = 3, high = 0x9F;  // no UTF-16 surrogates
  } else if (c == 0xF0) {
    n = 4, low = 0x90;
  } else if (c >= 0xF1 && c <= 0xF3) {
    n = 4;
  } else if (c == 0xF4) {
    n = 4, high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  const unsigned char second = static_cast<unsigned char>(s[i + 1]);
  if (second < low || second > high) return 0;
  for (size_t k = 2; k < n; ++k) {
    const unsigned char b = static_cast<unsigned char>(s[i + k]);
    if (b < 0x80 || b > 0xBF) return 0;
  }
  return n;
}

std::string Hex(unsigned char c) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02x", c);
  return text;
}

// A range of code points, both ends included.
struct Range {
  char32_t first, last;
};

template <size_t N>
bool InRanges(const Range (&ranges)[N], char32_t c) {
  const Range* end = ranges + N;
  const Range* r = std::upper_bound(ranges, end, c, [](char32_t v, const Range& x) { return v < x.first; });
  return r != ranges && c <= (r - 1)->last;
}

// Invisible characters that reorder or hide text, or break the line: the format characters
// (bidirectional overrides and isolates, zero-width spaces and joiners, the soft hyphen, the
// byte-order mark, tags...) and the line and paragraph separators. They are shown escaped.
constexpr Range kFormatRanges[] = {
    {0x00AD, 0x00AD}, {0x0600, 0x0605}, {0x061C, 0x061C}, {0x06DD, 0x06DD}, {0x070F, 0x070F},
    {0x0890, 0x0891}, {0x08E2, 0x08E2}, {0x180E, 0x180E}, {0x200B, 0x200F}, {0x2028, 0x202E},
    {0x2060, 0x206F}, {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB}, {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
};

// Characters that take no column of their own: combining marks (drawn over the character before
// them), variation selectors and the Hangul vowel and final-consonant jamo.
constexpr Range kZeroWidthRanges[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0711, 0x0711},
    {0x0730, 0x074A}, {0x07A6, 0x07B0}, {0x07EB, 0x07F3}, {0x07FD, 0x07FD}, {0x0816, 0x0819},
    {0x081B, 0x0823}, {0x0825, 0x0827}, {0x0829, 0x082D}, {0x0859, 0x085B}, {0x0898, 0x089F},
    {0x08CA, 0x08E1}, {0x08E3, 0x0902}, {0x093A, 0x093A}, {0x093C, 0x093C}, {0x0941, 0x0948},
    {0x094D, 0x094D}, {0x0951, 0x0957}, {0x0962, 0x0963}, {0x0981, 0x0981}, {0x09BC, 0x09BC},
    {0x09C1, 0x09C4}, {0x09CD, 0x09CD}, {0x09E2, 0x09E3}, {0x09FE, 0x09FE}, {0x0A01, 0x0A02},
    {0x0A3C, 0x0A3C}, {0x0A41, 0x0A42}, {0x0A47, 0x0A48}, {0x0A4B, 0x0A4D}, {0x0A51, 0x0A51},
    {0x0A70, 0x0A71}, {0x0A75, 0x0A75}, {0x0A81, 0x0A82}, {0x0ABC, 0x0ABC}, {0x0AC1, 0x0AC5},
    {0x0AC7, 0x0AC8}, {0x0ACD, 0x0ACD}, {0x0AE2, 0x0AE3}, {0x0AFA, 0x0AFF}, {0x0B01, 0x0B01},
    {0x0B3C, 0x0B3C}, {0x0B3F, 0x0B3F}, {0x0B41, 0x0B44}, {0x0B4D, 0x0B4D}, {0x0B55, 0x0B56},
    {0x0B62, 0x0B63}, {0x0B82, 0x0B82}, {0x0BC0, 0x0BC0}, {0x0BCD, 0x0BCD}, {0x0C00, 0x0C00},
    {0x0C04, 0x0C04}, {0x0C3C, 0x0C3C}, {0x0C3E, 0x0C40}, {0x0C46, 0x0C48}, {0x0C4A, 0x0C4D},
    {0x0C55, 0x0C56}, {0x0C62, 0x0C63}, {0x0C81, 0x0C81}, {0x0CBC, 0x0CBC}, {0x0CBF, 0x0CBF},
    {0x0CC6, 0x0CC6}, {0x0CCC, 0x0CCD}, {0x0CE2, 0x0CE3}, {0x0D00, 0x0D01}, {0x0D3B, 0x0D3C},
    {0x0D41, 0x0D44}, {0x0D4D, 0x0D4D}, {0x0D62, 0x0D63}, {0x0D81, 0x0D81}, {0x0DCA, 0x0DCA},
    {0x0DD2, 0x0DD4}, {0x0DD6, 0x0DD6}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E},
    {0x0EB1, 0x0EB1}, {0x0EB4, 0x0EBC}, {0x0EC8, 0x0ECE}, {0x0F18, 0x0F19}, {0x0F35, 0x0F35},
    {0x0F37, 0x0F37}, {0x0F39, 0x0F39}, {0x0F71, 0x0F7E}, {0x0F80, 0x0F84}, {0x0F86, 0x0F87},
    {0x0F8D, 0x0FBC}, {0x0FC6, 0x0FC6}, {0x102D, 0x1030}, {0x1032, 0x1037}, {0x1039, 0x103A},
    {0x103D, 0x103E}, {0x1058, 0x1059}, {0x105E, 0x1060}, {0x1071, 0x1074}, {0x1082, 0x1082},
    {0x1085, 0x1086}, {0x108D, 0x108D}, {0x109D, 0x109D}, {0x1160, 0x11FF}, {0x135D, 0x135F},
    {0x1712, 0x1714}, {0x1732, 0x1733}, {0x1752, 0x1753}, {0x1772, 0x1773}, {0x17B4, 0x17B5},
    {0x17B7, 0x17BD}, {0x17C6, 0x17C6}, {0x17C9, 0x17D3}, {0x17DD, 0x17DD}, {0x180B, 0x180D},
    {0x180F, 0x180F}, {0x1885, 0x1886}, {0x18A9, 0x18A9}, {0x1920, 0x1922}, {0x1927, 0x1928},
    {0x1932, 0x1932}, {0x1939, 0x193B}, {0x1A17, 0x1A18}, {0x1A1B, 0x1A1B}, {0x1A56, 0x1A56},
    {0x1A58, 0x1A5E}, {0x1A60, 0x1A60}, {0x1A62, 0x1A62}, {0x1A65, 0x1A6C}, {0x1A73, 0x1A7C},
    {0x1A7F, 0x1A7F}, {0x1AB0, 0x1ACE}, {0x1B00, 0x1B03}, {0x1B34, 0x1B34}, {0x1B36, 0x1B3A},
    {0x1B3C, 0x1B3C}, {0x1B42, 0x1B42}, {0x1B6B, 0x1B73}, {0x1B80, 0x1B81}, {0x1BA2, 0x1BA5},
    {0x1BA8, 0x1BA9}, {0x1BAB, 0x1BAD}, {0x1BE6, 0x1BE6}, {0x1BE8, 0x1BE9}, {0x1BED, 0x1BED},
    {0x1BEF, 0x1BF1}, {0x1C2C, 0x1C33}, {0x1C36, 0x1C37}, {0x1CD0, 0x1CD2}, {0x1CD4, 0x1CE0},
    {0x1CE2, 0x1CE8}, {0x1CED, 0x1CED}, {0x1CF4, 0x1CF4}, {0x1CF8, 0x1CF9}, {0x1DC0, 0x1DFF},
    {0x20D0, 0x20F0}, {0x2CEF, 0x2CF1}, {0x2D7F, 0x2D7F}, {0x2DE0, 0x2DFF}, {0x302A, 0x302D},
    {0x3099, 0x309A}, {0xA66F, 0xA672}, {0xA674, 0xA67D}, {0xA69E, 0xA69F}, {0xA6F0, 0xA6F1},
    {0xA802, 0xA802}, {0xA806, 0xA806}, {0xA80B, 0xA80B}, {0xA825, 0xA826}, {0xA82C, 0xA82C},
    {0xA8C4, 0xA8C5}, {0xA8E0, 0xA8F1}, {0xA8FF, 0xA8FF}, {0xA926, 0xA92D}, {0xA947, 0xA951},
    {0xA980, 0xA982}, {0xA9B3, 0xA9B3}, {0xA9B6, 0xA9B9}, {0xA9BC, 0xA9BD}, {0xA9E5, 0xA9E5},
    {0xAA29, 0xAA2E}, {0xAA31, 0xAA32}, {0xAA35, 0xAA36}, {0xAA43, 0xAA43}, {0xAA4C, 0xAA4C},
    {0xAA7C, 0xAA7C}, {0xAAB0, 0xAAB0}, {0xAAB2, 0xAAB4}, {0xAAB7, 0xAAB8}, {0xAABE, 0xAABF},
    {0xAAC1, 0xAAC1}, {0xAAEC, 0xAAED}, {0xAAF6, 0xAAF6}, {0xABE5, 0xABE5}, {0xABE8, 0xABE8},
    {0xABED, 0xABED}, {0xD7B0, 0xD7FF}, {0xFB1E, 0xFB1E}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
    {0x101FD, 0x101FD}, {0x102E0, 0x102E0}, {0x10376, 0x1037A}, {0x10A01, 0x10A0F}, {0x10A38, 0x10A3F},
    {0x10AE5, 0x10AE6}, {0x10D24, 0x10D27}, {0x10EAB, 0x10EAC}, {0x10F46, 0x10F50}, {0x11001, 0x11001},
    {0x11038, 0x11046}, {0x1107F, 0x11081}, {0x110B3, 0x110B6}, {0x110B9, 0x110BA}, {0x11100, 0x11102},
    {0x11127, 0x1112B}, {0x1112D, 0x11134}, {0x1D167, 0x1D169}, {0x1D17B, 0x1D182}, {0x1D185, 0x1D18B},
    {0x1D1AA, 0x1D1AD}, {0x1E000, 0x1E02A}, {0x1E130, 0x1E136}, {0x1E2EC, 0x1E2EF}, {0x1E8D0, 0x1E8D6},
    {0x1E944, 0x1E94A}, {0xE0100, 0xE01EF},
};

// Characters that take two columns: the East Asian wide and fullwidth ones (Hangul, kana,
// CJK ideographs and symbols, fullwidth forms) and the emoji shown as pictures.
constexpr Range kWideRanges[] = {
    {0x1100, 0x115F}, {0x231A, 0x231B}, {0x2329, 0x232A}, {0x23E9, 0x23EC}, {0x23F0, 0x23F0},
    {0x23F3, 0x23F3}, {0x25FD, 0x25FE}, {0x2614, 0x2615}, {0x2648, 0x2653}, {0x267F, 0x267F},
    {0x2693, 0x2693}, {0x26A1, 0x26A1}, {0x26AA, 0x26AB}, {0x26BD, 0x26BE}, {0x26C4, 0x26C5},
    {0x26CE, 0x26CE}, {0x26D4, 0x26D4}, {0x26EA, 0x26EA}, {0x26F2, 0x26F3}, {0x26F5, 0x26F5},
    {0x26FA, 0x26FA}, {0x26FD, 0x26FD}, {0x2705, 0x2705}, {0x270A, 0x270B}, {0x2728, 0x2728},
    {0x274C, 0x274C}, {0x274E, 0x274E}, {0x2753, 0x2755}, {0x2757, 0x2757}, {0x2795, 0x2797},
    {0x27B0, 0x27B0}, {0x27BF, 0x27BF}, {0x2B1B, 0x2B1C}, {0x2B50, 0x2B50}, {0x2B55, 0x2B55},
    {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF}, {0xA000, 0xA4CF},
    {0xA960, 0xA97F}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF}, {0xFE10, 0xFE19}, {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x16FE0, 0x16FE4}, {0x16FF0, 0x16FF1}, {0x17000, 0x18CFF},
    {0x18D00, 0x18D08}, {0x1AFF0, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E},
    {0x1F191, 0x1F19A}, {0x1F200, 0x1F202}, {0x1F210, 0x1F23B}, {0x1F240, 0x1F248}, {0x1F250, 0x1F251},
    {0x1F260, 0x1F265}, {0x1F300, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393},
    {0x1F3A0, 0x1F3CA}, {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E},
    {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567},
    {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5},
    {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6D7}, {0x1F6DC, 0x1F6DF}, {0x1F6EB, 0x1F6EC},
    {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB}, {0x1F7F0, 0x1F7F0}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945},
    {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

template <size_t N>
constexpr bool Ascending(const Range (&ranges)[N]) {
  for (size_t i = 0; i < N; ++i)
    if (ranges[i].first > ranges[i].last || (i > 0 && ranges[i - 1].last >= ranges[i].first)) return false;
  return true;
}
static_assert(Ascending(kFormatRanges) && Ascending(kZeroWidthRanges) && Ascending(kWideRanges),
              "the range tables are searched by halves");

// The code point of the valid UTF-8 sequence of n bytes at s[i].
char32_t CodePoint(const std::string& s, size_t i, size_t n) {
  const unsigned char lead = static_cast<unsigned char>(s[i]);
  char32_t c = lead & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
  for (size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  return c;
}

std::vector<Unit> Units(const std::string& s) {
  std::vector<Unit> units;
  units.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      units.push_back(c < 0x20 || c == 0x7F ? Unit{Hex(c), 4} : Unit{std::string(1, s[i]), 1});
      ++i;
      continue;
    }
    const size_t n = Utf8Length(s, i);
    if (n == 0) {
      units.push_back({Hex(c), 4});
      ++i;
      continue;
    }
    const char32_t cp = CodePoint(s, i, n);
    if (cp <= 0x9F) {  // C1: U+0080..U+009F, as its two bytes
      units.push_back({Hex(c) + Hex(static_cast<unsigned char>(s[i + 1])), 8});
    } else if (InRanges(kFormatRanges, cp)) {
      char text[16];
      std::snprintf(text, sizeof text, cp > 0xFFFF ? "\\U%08x" : "\\u%04x", static_cast<unsigned>(cp));
      units.push_back({text, std::strlen(text)});
    } else if (InRanges(kZeroWidthRanges, cp)) {
      // Stays with the character it is drawn over, so that a cut never parts them.
      if (units.empty())
        units.push_back({s.substr(i, n), 0});
      else
        units.back().text += s.substr(i, n);
    } else {
      units.push_back({s.substr(i, n), InRanges(kWideRanges, cp) ? 2u : 1u});
    }
    i += n;
  }
  return units;
}

}  // namespace

std::string ConsoleText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const Unit& u : Units(text)) out += u.text;
  return out;
}

size_t ConsoleColumns(const std::string& text) {
  size_t columns = 0;
  for (const Unit& u : Units(text)) columns += u.columns;
  return columns;
}

std::string ConsoleFit(const std::string& text, size_t columns, bool middle) {
  const std::vector<Unit> units = Units(text);
  size_t total = 0;
  for (const Unit& u : units) total += u.columns;
  std::string out;
  if (total <= columns) {
    for (const Unit& u : units) out += u.text;
    return out;
  }
  const std::string dots = columns >= 3 ? "..." : std::string(columns, '.');
  const size_t keep = columns - dots.size();
  const size_t headRoom = middle ? (keep + 1) / 2 : keep;
  size_t used = 0, head = 0;
  while (head < units.size() && used + units[head].columns <= headRoom) used += units[head++].columns;
  size_t tail = units.size();
  if (middle) {
    size_t tailUsed = 0;
    while (tail > head && tailUsed + units[tail - 1].columns <= keep - used) tailUsed += units[--tail].columns;
  }
  for (size_t i = 0; i < head; ++i) out += units[i].text;
  out += dots;
  for (size_t i = tail; i < units.size(); ++i) out += units[i].text;
  return out;
}

int ConsoleWidth() {
  struct winsize size {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    char* end = nullptr;
    const long n = std::strtol(columns, &end, 10);
    if (end != columns && *end == '\0' && n > 0 && n <= 100000) return static_cast<int>(n);
  }
  return 80;
}

void ConsoleWrite(const std::string& text) {
  std::string out;
  if (!g_drawnLine.empty()) {
    out = kClearLine;
    g_drawnLine.clear();
  }
  size_t start = 0;
  do {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out += ConsoleText(text.substr(start, end - start)) + "\n";
    start = end + 1;
  } while (start < text.size());
  std::fputs(out.c_str(), stderr);
  std::fflush(stderr);
}

void CProgressDlg::RequestCancel() { g_cancelFlag = 1; }

int CProgressDlg::CancelSignal() { return g_cancelSignal; }

void CProgressDlg::RestoreSignals() {
  if (!m_handlerInstalled) return;
  for (size_t i = 0; i < kSignalCount; ++i) sigaction(kCancelSignals[i], &g_previousActions[i], nullptr);
  m_handlerInstalled = false;
}

CProgressDlg::~CProgressDlg() { RestoreSignals(); }

int CProgressDlg::Create() {
  g_cancelFlag = 0;
  g_cancelSignal = 0;
  if (!m_handlerInstalled) {
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    m_handlerInstalled = true;
    for (size_t i = 0; i < kSignalCount; ++i) sigaction(kCancelSignals[i], &action, &g_previousActions[i]);
  }
  m_terminal = isatty(STDERR_FILENO) != 0;
  m_shown = true;
  return 1;
}

int CProgressDlg::DestroyWindow() {
  RestoreSignals();
  if (m_shown && m_terminal && !g_drawnLine.empty()) {
    std::fputs(kClearLine, stderr);
    std::fflush(stderr);
    g_drawnLine.clear();
  }
  m_shown = false;
  return 1;
}

void CProgressDlg::SetImageRange(int low, int high) {
  m_imageLow = low;
  m_imageHigh = high;
}

void CProgressDlg::SetFileTotal(int n) {
  m_fileTotal = n < 0 ? 0 : n;
  Draw();
}

void CProgressDlg::SetFileCounter(int i) {
  m_fileCounter = i;
  Draw();
}

void CProgressDlg::SetImagePos(int percent) {
  m_imagePos = percent;
  Draw();
}

int CProgressDlg::CheckCancel() {
  if (g_cancelFlag) {
    g_cancelFlag = 0;
    return 1;
  }
  return 0;
}

void CProgressDlg::ShowThumbnail(const BYTE*, int, int) {}

void CProgressDlg::SetStatusText(const std::string& text) {
  if (text == m_status) return;
  m_status = text;
  Draw();
}

bool CProgressDlg::DrawnEntry(int* number, std::string* path) const {
  *number = m_fileCounter;
  path->clear();
  return true;
}

std::string CProgressDlg::ProgressLine(int number, int total, const std::string& path, const std::string& step,
                                       int percent, int width) {
  const size_t room = width > 1 ? static_cast<size_t>(width) - 1 : 1;  // the last column stays free: no wrap
  const std::string counter = "[" + std::to_string(number) + "/" + std::to_string(total) + "]";
  char pct[16];
  std::snprintf(pct, sizeof pct, "%3d%%", percent);
  const std::string rawName = EntryName(path);
  std::string name = ConsoleText(rawName), shownStep = ConsoleText(step);
  // The separators: one blank after the counter, two between the other parts.
  const bool hasName = !name.empty(), hasStep = !shownStep.empty();
  const size_t separators = (hasName ? 1 : 0) + (hasStep ? (hasName ? 2 : 1) : 0) + (hasName || hasStep ? 2 : 1);
  const size_t fixed = counter.size() + std::string(pct).size() + separators;
  const size_t nameColumns = ConsoleColumns(name), stepColumns = ConsoleColumns(shownStep);
  if (fixed < room && nameColumns + stepColumns > room - fixed) {
    // The name keeps at least 16 columns (or all it has) before the step is shortened. It is
    // cut to the same width for every step of up to 16 columns, so that it holds still.
    const size_t avail = room - fixed;
    const size_t nameFloor = std::min(nameColumns, std::min<size_t>(16, avail));
    const size_t stepRoom = std::min(stepColumns, avail - nameFloor);
    name = ConsoleFit(rawName, avail - std::min(std::max<size_t>(stepRoom, 16), avail - nameFloor));
    shownStep = ConsoleFit(step, stepRoom, false);
  }
  std::string line = counter;
  if (!name.empty()) line += " " + name;
  if (!shownStep.empty()) line += (name.empty() ? " " : "  ") + shownStep;
  line += std::string(name.empty() && shownStep.empty() ? " " : "  ") + pct;
  if (ConsoleColumns(line) <= room) return line;
  // Too narrow for every part: the line as far as it goes.
  return ConsoleFit(counter + " " + rawName + "  " + step + "  " + pct, room, false);
}

void CProgressDlg::Draw() {
  if (m_quiet || !m_shown || !m_terminal) return;
  int number = 0;
  std::string path;
  if (!DrawnEntry(&number, &path)) return;
  const int span = m_imageHigh - m_imageLow;
  int pct = span > 0 ? static_cast<int>((static_cast<long long>(m_imagePos) - m_imageLow) * 100 / span) : 0;
  pct = pct < 0 ? 0 : (pct > 100 ? 100 : pct);
  const std::string line = ProgressLine(number, m_fileTotal, path, m_status, pct, ConsoleWidth());
  if (line == g_drawnLine) return;
  std::fputs((kClearLine + line).c_str(), stderr);
  std::fflush(stderr);
  g_drawnLine = line;
}
