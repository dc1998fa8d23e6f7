#pragma once

// What a failure says: a file step that failed, a file that cannot be
// opened, a value the converter could not take. main.cpp and the console
// put "hudconv: error: " in front.

#include <cstddef>
#include <string>

#include "driver/failure.h"
#include "driver/platform_files.h"

namespace messages {

extern const char kOutOfMemory[];
// Said of a file saved as UTF-16, instead of the NUL byte it holds.
extern const char kSavedAsUtf16[];

// A failed file operation in full ("cannot STEP PATH: REASON", and what
// became of a backup made for it, or of a temporary file), and in the few
// words of a summary ("cannot STEP: REASON").
std::string describe(const Failure& failure);
std::string shortReason(const Failure& failure);
// How a temporary file without a name is named in a message.
std::string temporaryFileIn(const std::string& folder);
std::string notRemoved(const std::string& temporary);

// A run that ends with the file as it was: "REASON. WHAT was left
// unchanged.", WHAT being the file's path or "The layout file".
std::string leftUnchanged(const std::string& reason, const std::string& what);
std::string cannotOpen(const std::string& path, const SystemError& error,
                       const std::string& mustBeIn);
// "PATH, line N: REASON", with what the reason means for the property's
// value where the converter told them; and that meaning alone.
std::string badValue(const std::string& path, const BadValue& bad);
std::string meaningOf(const BadValue& bad);
std::string cannotPutBack(const std::string& backup, const SystemError& error);
// The folder's record could not be written, and so `files` layout files
// of `folder` were not converted.
// A warning, once a run: the player's memory could not be written.
std::string memoryNotWritten(const Failure& failure);
std::string recordNotWritten(const Failure& failure, const std::string& folder,
                             std::size_t files);

}  // namespace messages
