// Small services of the shell that the engine calls: the yes/no question and the folder check.
#pragma once

#include <functional>
#include <string>

// Asks a yes/no question; non-zero for Yes. On a terminal the user answers on stdin; otherwise
// the answer is No, unless a handler was set (the command's --yes, or a test).
int AskYesNo(const std::string& question);
// Replaces the way questions are answered; an empty handler restores the default.
void SetQuestionHandler(std::function<int(const std::string&)> handler);

// Checks an absolute folder path (no trailing "/") and creates it when missing: 1 when the path
// is malformed, 0 when the folder exists or was made, -1 when `ask` is set and the user declines,
// 2 when a folder cannot be made (also when a file stands in the way); `why`, when given, then
// says which folder and why, and `error` holds the system's error number (ENOTDIR when a file
// stands in the way, EINVAL for a malformed path).
int ValidateAndCreateFolder(const std::string& path, int ask, std::string* why = nullptr, int* error = nullptr);

// The folder of the running program file ("." when it cannot be found).
std::string ProgramFolder();
