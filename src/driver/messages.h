#pragma once

// Every text a player reads is made in messages: the run's own here (the
// banner, the usage, what an argument named, the summary), a file's in
// file_messages.h, a failure's in failure_messages.h. main.cpp and the
// console put "hudconv: error: " in front of an error.

#include <cstddef>
#include <string>
#include <vector>

#include "driver/failure.h"
#include "driver/failure_messages.h"
#include "driver/file_messages.h"
#include "driver/outcome.h"

namespace messages {

extern const char kBanner[];
// The usage text around its list of options.
extern const char kUsageHead[];
extern const char kUsageTail[];
extern const char kNoFile[];
extern const char kPreviewOfRestore[];
extern const char kUpdateOfRestore[];

std::string unknownOption(const std::string& option);
// A link that a folder or a pattern found, and that is not followed.
std::string passedOverLink(const std::string& path);
// A file named as a pattern is written, taken as that one file.
std::string tookFileNamedAsPattern(const std::string& path);
// An argument taken without the " at its end, which cmd leaves of a \".
std::string tookWithoutStrayQuote(const std::string& taken,
                                  const std::string& given);
// A pattern or a folder that names no file.
std::string noneNamed(const NoneNamed& none);
// The end of a run over several files: how many came to what, and then a
// line for each one that was not done.
// A preview's summary says what would be done; `backupsPassedOver` counts
// the backups that came along with their files.
std::string summary(const std::vector<Outcome>& outcomes,
                    std::size_t backupsPassedOver, RunKind run);
std::string summaryLine(const Outcome& outcome, RunKind run);
// After the summary, where some files are new originals: the one command
// that takes them.
std::string updateAdvice(std::size_t newOriginals);
// The one command that takes the files changed since their conversion,
// those with their backup (`edited`) and those without (`backupsGone`).
std::string takeAllAdvice(const std::vector<std::string>& edited,
                          const std::vector<std::string>& backupsGone);
// After a restore's summary: the backups (bare names) whose layout files
// are gone, which were left as they are.
std::string backupsWithoutFile(const std::vector<std::string>& backups);

}  // namespace messages
