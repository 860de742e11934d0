// Console progress display on stderr (a terminal only), the shown form of texts on stderr, and
// Ctrl-C as the Cancel flag while the window is shown.
#include "engine/shell/CProgressDlg.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

volatile sig_atomic_t g_cancelFlag = 0;
struct sigaction g_previousAction;

extern "C" void OnInterrupt(int) { g_cancelFlag = 1; }

// The progress line drawn on the terminal and not yet cleared; empty when none is.
std::string g_drawnLine;
constexpr const char* kClearLine = "\r\033[K";

// One shown piece of a text: a code point as it stands, or the escape of a byte or a C1
// character; the columns it takes.
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
    } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) <= 0x9F) {  // C1: U+0080..U+009F
      units.push_back({Hex(c) + Hex(static_cast<unsigned char>(s[i + 1])), 8});
      i += 2;
    } else {
      units.push_back({s.substr(i, n), 1});
      i += n;
    }
  }
  return units;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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

CProgressDlg::~CProgressDlg() {
  if (m_handlerInstalled) {
    sigaction(SIGINT, &g_previousAction, nullptr);
    m_handlerInstalled = false;
  }
}

int CProgressDlg::Create() {
  g_cancelFlag = 0;
  if (!m_handlerInstalled) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    if (sigaction(SIGINT, &action, &g_previousAction) == 0) m_handlerInstalled = true;
  }
  m_terminal = isatty(STDERR_FILENO) != 0;
  m_shown = true;
  return 1;
}

int CProgressDlg::DestroyWindow() {
  if (m_handlerInstalled) {
    sigaction(SIGINT, &g_previousAction, nullptr);
    m_handlerInstalled = false;
  }
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
  const std::string rawName = BaseName(path);
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
