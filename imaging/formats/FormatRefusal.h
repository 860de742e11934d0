// How the BMP, TGA, PSD and PCX readers (and the TIFF data bound) refuse a file, and how the
// TIFF codecs decoded here warn of the data they cannot read: the code, and what
// they met for ISGetLastWarning (the field and its value, the size that does not fit, where the
// file ends).
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISThreadState.h"

// `format` with `args`, cut to what a warning holds.
inline void FormatReason(char (&reason)[kMaxWarningText + 1], const char* format, va_list args) {
  std::vsnprintf(reason, sizeof reason, format, args);
}

// Fails with `code`, leaving the reason formatted from `format` for ISGetLastWarning.
__attribute__((format(printf, 3, 4))) inline bool RefuseFile(ISErrorCode& error, ISErrorCode code,
                                                              const char* format, ...) {
  char reason[kMaxWarningText + 1];
  va_list args;
  va_start(args, format);
  FormatReason(reason, format, args);
  va_end(args);
  ReplaceLastWarning(reason);
  return Fail(error, code);
}

// Leaves a warning formatted from `format` for ISGetLastWarning, as SetLastWarning does: what a
// read that goes on met in the file.
__attribute__((format(printf, 1, 2))) inline void WarnOfFile(const char* format, ...) {
  char reason[kMaxWarningText + 1];
  va_list args;
  va_start(args, format);
  FormatReason(reason, format, args);
  va_end(args);
  SetLastWarning(reason);
}

// "s" after a count other than 1.
inline const char* PluralS(unsigned long long n) { return n == 1 ? "" : "s"; }

// After a refusal whose reason is already left (the decode budget's), adds what explains it:
// "<reason>: <added>".
__attribute__((format(printf, 1, 2))) inline void ExplainRefusal(const char* format, ...) {
  char added[kMaxWarningText + 1];
  va_list args;
  va_start(args, format);
  FormatReason(added, format, args);
  va_end(args);
  ISThreadState* ts = GetThreadState();
  if (!ts) return;
  std::string reason = ts->lastWarning.empty() ? std::string(added) : ts->lastWarning + ": " + added;
  ReplaceLastWarning(reason.c_str());
}

// The decode budget's question for uncompressed picture data: `have` bytes of the `need` the
// whole picture takes, giving `dataPixels` pixels. A cut file that could give less than the
// budget allows is refused in the words of what is there: "<format> file ends after N of the
// M bytes its picture needs".
inline bool PlainDataAllowed(const char* format, uint64_t width, uint64_t height, uint64_t dataPixels, uint64_t have,
                             uint64_t need) {
  if (RovIrirev::DecodeBudgetAllows(width, height, dataPixels, have)) return true;
  if (have < need) {
    char reason[kMaxWarningText + 1];
    std::snprintf(reason, sizeof reason, "%s file ends after %llu of the %llu bytes its picture needs", format,
                  static_cast<unsigned long long>(have), static_cast<unsigned long long>(need));
    ReplaceLastWarning(reason);
  }
  return false;
}
