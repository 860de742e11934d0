// The message text of each imaging-library error code, for the diagnostic trace of the
// picture object's load and save operations.
#pragma once

#include <string>

#include "qrv/imaging.h"

// The text of a code; "Error #<code>!" for a code without a message.
std::string LibraryErrorText(ISErrorCode code);
// Whether a code has a message of its own (not the "Error #<code>!" stand-in).
bool LibraryErrorHasText(ISErrorCode code);
// A failure with the words the library left for it: "<text>: <words>"; a code without a
// message of its own gives the words alone, and no words give the text alone.
std::string LibraryErrorText(ISErrorCode code, const std::string& words);
