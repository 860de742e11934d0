// The main window's bookkeeping: queue entries, the tab row's page choice and the home folder.
#include "engine/shell/CMainDialog.h"

#include <cstdlib>

#include "engine/shell/ShellServices.h"

CBatchApp theApp;

int CCueListBox::AddString(const std::string& text, int check) {
  m_entries.push_back({text, check});
  m_identities.clear();
  return GetCount() - 1;
}

const std::vector<FileIdentity>& CCueListBox::Identities() const {
  if (m_identities.size() != m_entries.size()) {
    m_identities.clear();
    for (const Entry& e : m_entries) m_identities.push_back(IdentityOf(e.text));
  }
  return m_identities;
}

std::string CCueListBox::GetText(int i) const {
  if (i < 0 || i >= GetCount()) return std::string();
  return m_entries[static_cast<size_t>(i)].text;
}

int CCueListBox::GetCheck(int i) const {
  if (i < 0 || i >= GetCount()) return 0;
  return m_entries[static_cast<size_t>(i)].check;
}

void CCueListBox::SetCheck(int i, int state) {
  if (i < 0 || i >= GetCount()) return;
  m_entries[static_cast<size_t>(i)].check = state;
}

// The home folder starts as $QRV_HOME, else the program's own folder; the command's --home
// replaces it.
CMainDialog::CMainDialog(CBatchApp& app) : m_app(app) {
  const char* env = std::getenv("QRV_HOME");
  SetHomeFolder(env && *env ? std::string(env) : ProgramFolder());
}

void CMainDialog::SetHomeFolder(const std::string& folder) {
  m_homeDir = folder;
  m_pages.mode.m_homeDir = folder;
}

void CMainDialog::ShowCurrentPage() {
  static const char* const kNames[CTabCtrl::kTabCount] = {"Mode",     "Output",  "Balance",
                                                          "Color Cast", "Hot Pixels", "Denoiser",
                                                          "Details",  "Size & Quality", "Text Stamp"};
  const int tab = m_tab.GetCurSel();
  std::string name = kNames[tab];
  if (tab >= 2 && tab <= 6) name += m_app.m_advancedMode == 1 ? " (advanced)" : " (simple)";
  m_visiblePage = name;
}
