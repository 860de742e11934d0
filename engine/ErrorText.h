// The message text of each imaging-library error code, for the diagnostic trace of the
// picture object's load and save operations.
#pragma once

#include <string>

#include "qrv/imaging.h"

// The text of a code; "Error #<code>!" for a code without a message.
std::string LibraryErrorText(ISErrorCode code);
