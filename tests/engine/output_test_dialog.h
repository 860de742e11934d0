// The output tests' main dialog: a small working picture written as PNG files, with its log in
// the test's temporary folder.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>

#include "engine/shell/CMainDialog.h"
#include "support/test_support.h"

namespace enginetest {

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct OutputDialog {
  OutputDialog(const qrvtest::TempDir& dir, int width, int height) {
    mkdir((dir.path() + "/home").c_str(), 0777);
    mkdir((dir.path() + "/home/help").c_str(), 0777);
    dlg.SetHomeFolder(dir.path() + "/home");
    dlg.AppendLog("", 1);
    dlg.m_workWidth = width;
    dlg.m_workHeight = height;
    dlg.m_workImage.assign(static_cast<size_t>(width) * height * 3, 0);
    for (size_t i = 0; i < dlg.m_workImage.size(); ++i) dlg.m_workImage[i] = static_cast<BYTE>(i * 7 + i / 97);
    dlg.m_pages.output.m_fileType = 2;  // PNG: the tests check names and files, not encoders
  }
  std::string Log() const { return ReadText(dlg.HomeFolder() + "/help/log.html"); }
  CMainDialog dlg;
};

}  // namespace enginetest
