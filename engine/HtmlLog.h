// Helpers of the HTML log of a run (help/log.html); AppendLog and LogTime are main-dialog members.
#pragma once

#include <ctime>
#include <string>

// Escapes &, <, > and " so that a text from a file (a path, an EXIF text, a filter name) is
// shown as it stands inside the log's markup (whose attributes are all in double quotes); an
// apostrophe stays, so that the log's own messages ("Can't ...") keep their words. Control and
// format characters and bytes outside UTF-8 are first shown as on the console (ConsoleText).
std::string HtmlEscape(const std::string& text);

// "%H::%M::%S " of a local time.
std::string FormatLogTime(time_t when);

// The log's line colours.
constexpr const char* kLogFontFile = "<font color=\"#9900cc\">";
constexpr const char* kLogFontStep = "<font color=\"#0000ee\">";
constexpr const char* kLogFontError = "<font color=\"#ff0900\">";
