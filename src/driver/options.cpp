// The command line's options, in one table, and what is read from it.

#include "driver/options.h"

#include <algorithm>
#include <string_view>

#include "convert/rule_table.h"
#include "driver/messages.h"
#include "driver/platform_console.h"

namespace {

struct Option {
  std::string_view name;  // "--name"
  // Other spellings: a short one, and those that players of one system
  // type; Windows' are taken in any letter case, and only there.
  std::string_view also[4];
  std::string_view onWindows[2];
  const char* help;  // its lines of the usage text
  bool Options::*sets;
};

constexpr Option kOptions[] = {
    {"--restore",
     {},
     {},
     "  hudconv --restore FILE...\n"
     "                      puts each original back from FILE.bak\n",
     &Options::restore},
    {"--dry-run",
     {"-n"},
     {},
     "  hudconv --dry-run FILE...  (or -n)\n"
     "                      shows what would change, and changes nothing\n",
     &Options::preview},
    {"--update",
     {"-u"},
     {},
     "  hudconv --update FILE...  (or -u)\n"
     "                      also takes each file that a game update replaced\n"
     "                      as its new original: kept as FILE.bak, converted\n",
     &Options::update},
    {"--verbose",
     {},
     {},
     "  hudconv --verbose FILE...\n"
     "                      tells everything of each file, also in a run over\n"
     "                      many: each value a preview would change\n",
     &Options::verbose},
    {"--help",
     {"-h", "/?", "-?", "-help"},
     {"/h", "/help"},
     "  hudconv --help      shows this text\n",
     &Options::help},
    {"--version",
     {},
     {"/v", "/version"},
     "  hudconv --version   shows the version (on Windows also /v)\n",
     &Options::version},
};

const char kEndOfOptions[] =
    "  hudconv -- FILE...  takes every FILE as a file, even one named like\n"
    "                      an option\n";

bool sameIgnoringCase(std::string_view one, std::string_view other) {
  return std::equal(
      one.begin(), one.end(), other.begin(), other.end(),
      [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

const Option* optionNamed(std::string_view arg) {
  // Every option begins with a dash or a slash; a file name seldom does.
  if (arg.empty() || (arg[0] != '-' && arg[0] != '/')) return nullptr;
  for (const Option& option : kOptions) {
    if (arg == option.name) return &option;
    for (const std::string_view spelling : option.also)
      if (!spelling.empty() && arg == spelling) return &option;
    if (thisSystem() == System::kWindows)
      for (const std::string_view spelling : option.onWindows)
        if (!spelling.empty() && sameIgnoringCase(arg, spelling))
          return &option;
  }
  return nullptr;
}

// "--" and a word, or "-" and letters, as options are written; a file named
// so is given behind "--".
bool looksLikeAnOption(const std::string& arg) {
  if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) return true;
  if (arg.size() < 2 || arg[0] != '-') return false;
  return std::all_of(arg.begin() + 1, arg.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
  Options options;
  bool reading = true;  // until "--"
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const Option* const option = reading ? optionNamed(arg) : nullptr;
    if (reading && arg == "--") {
      reading = false;
    } else if (option) {
      options.*(option->sets) = true;
    } else if (reading && looksLikeAnOption(arg)) {
      if (options.unknownOption.empty()) options.unknownOption = arg;
    } else {
      options.files.push_back(arg);
    }
  }
  return options;
}

std::string usage() {
  std::string text = messages::kUsageHead;
  for (const Option& option : kOptions) text += option.help;
  return text + kEndOfOptions + messages::kUsageTail;
}
