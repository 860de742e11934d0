// Console progress display on stderr (a terminal only); Ctrl-C sets the Cancel flag while the
// window is shown.
#include "engine/shell/CProgressDlg.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace {

volatile sig_atomic_t g_cancelFlag = 0;
struct sigaction g_previousAction;

extern "C" void OnInterrupt(int) { g_cancelFlag = 1; }

}  // namespace

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
  if (m_shown && !m_quiet && m_terminal && !m_lastLine.empty()) std::fputc('\n', stderr);
  m_shown = false;
  m_lastLine.clear();
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

void CProgressDlg::Draw() {
  if (m_quiet || !m_shown || !m_terminal) return;
  const int span = m_imageHigh - m_imageLow;
  int pct = span > 0 ? static_cast<int>((static_cast<long long>(m_imagePos) - m_imageLow) * 100 / span) : 0;
  pct = pct < 0 ? 0 : (pct > 100 ? 100 : pct);
  char bar[21];
  for (int k = 0; k < 20; ++k) bar[k] = k < pct / 5 ? '#' : '-';
  bar[20] = 0;
  char queue[21];
  const int done = m_fileTotal > 0 ? static_cast<int>(static_cast<long long>(m_fileCounter) * 20 / m_fileTotal) : 0;
  for (int k = 0; k < 20; ++k) queue[k] = k < done ? '#' : '-';
  queue[20] = 0;
  char line[256];
  std::snprintf(line, sizeof line, "Cue List [%s] %d/%d  Current Image [%s] %3d%%  %.60s", queue, m_fileCounter,
                m_fileTotal, bar, pct, m_status.c_str());
  if (m_lastLine == line) return;
  std::fprintf(stderr, "\r%s\033[K", line);
  std::fflush(stderr);
  m_lastLine = line;
}
