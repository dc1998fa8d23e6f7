#pragma once

// Pieces of wording that the texts of files, failures and runs share.

#include <string>

#include "driver/platform_console.h"

namespace messages {

// A command to run, as a player pastes it: `path` quoted where the shell
// would split it.
inline std::string command(const std::string& options,
                           const std::string& path) {
  return "hudconv " + (options.empty() ? "" : options + " ") +
         quotedForShell(path);
}

// What cmd does to a name that ends in \".
inline constexpr const char kStrayQuote[] =
    " (cmd passes a \" for the \\\" that ends a quoted name: leave off the "
    "last \\, or put . behind it)";

}  // namespace messages
