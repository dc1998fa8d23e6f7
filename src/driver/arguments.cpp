// What each argument of a run names: one file, or the layout files of a
// folder or a pattern.

#include "driver/arguments.h"

#include <algorithm>
#include <iterator>

#include "convert/rule_table.h"
#include "driver/backup.h"
#include "driver/platform_files.h"
#include "driver/record.h"

namespace {

bool lessIgnoringCase(const std::string& one, const std::string& other) {
  return std::lexicographical_compare(
      one.begin(), one.end(), other.begin(), other.end(),
      [](char a, char b) { return lowerAscii(a) < lowerAscii(b); });
}

bool endsWithIgnoringCase(const std::string& name, const std::string& end) {
  return name.size() >= end.size() &&
         matchesPattern(name.substr(name.size() - end.size()), end);
}

bool isPattern(const std::string& name) {
  return name.find_first_of("*?") != std::string::npos;
}

// The names in `folder` that `keep` takes, in name order, as paths; for
// `restore`, those of the files that have a backup, a backup whose file is
// gone going to `lonely` instead, by its bare name. Links that are not
// followed go to `passedOver` instead, as paths.
template <typename Keep>
std::vector<std::string> namesIn(const std::string& folder, bool restore,
                                 Keep keep,
                                 std::vector<std::string>& passedOver,
                                 std::vector<std::string>& lonely,
                                 std::shared_ptr<const Listing>& listing) {
  std::vector<FolderEntry> entries;
  if (listFolder(folder, entries)) return {};
  std::vector<std::string> names;
  std::vector<std::string> foreign;
  // A restore's backups stand for files that are there: their names, folded.
  std::vector<std::string> present;
  if (restore) {
    for (const FolderEntry& entry : entries)
      if (!entry.folder) present.push_back(foldedFileName(entry.name));
    std::sort(present.begin(), present.end());
  }
  for (const FolderEntry& entry : entries) {
    // Nor what hudconv keeps in a folder: its leftovers and its record.
    if (entry.folder || entry.name.rfind(kTemporaryStem, 0) == 0 ||
        isRecordName(entry.name))
      continue;
    if (!isBackupName(entry.name)) {
      if (!restore && keep(entry.name))
        (entry.foreignLink ? foreign : names).push_back(entry.name);
      continue;
    }
    // A backup stands for its file; one whose file is gone is told of.
    const std::string file = fileOfBackup(entry.name);
    if (!restore || !keep(file)) continue;
    if (std::binary_search(present.begin(), present.end(),
                           foldedFileName(file)))
      names.push_back(file);
    else
      lonely.push_back(entry.name);
  }
  std::sort(lonely.begin(), lonely.end(), lessIgnoringCase);
  std::sort(names.begin(), names.end(), lessIgnoringCase);
  names.erase(std::unique(names.begin(), names.end()), names.end());
  std::sort(foreign.begin(), foreign.end(), lessIgnoringCase);
  std::string full;
  if (resolveLinks(folder, full)) full = folder;
  for (std::string& name : names) name = pathIn(full, name);
  for (const std::string& name : foreign)
    passedOver.push_back(pathIn(full, name));
  listing = std::make_shared<const Listing>(
      Listing{std::move(full), std::move(entries)});
  return names;
}

}  // namespace

bool matchesPattern(const std::string& name, const std::string& pattern) {
  // Backtracks to the last `*` only: linear enough for a file name.
  std::size_t n = 0;  // in the name
  std::size_t p = 0;  // in the pattern
  std::size_t star = std::string::npos;
  std::size_t resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || lowerAscii(pattern[p]) == lowerAscii(name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string layoutFilePath(const std::string& home, const std::string& name) {
  // With its separator also where `name` is empty, as it always was.
  return pathIn(pathIn(home, "Output"), name);
}

std::vector<std::string> placesOf(const std::string& name,
                                  const std::string& home) {
  if (!name.empty() && isFullPath(name)) return {name};
  const std::string output = layoutFilePath(home, name);
  const std::string here = name.empty() ? "." : name;
  if (isNamedFromHere(name)) return {here, output};
  return {output, here};
}

bool exists(const std::string& path, Links links) {
  FileVersion state;
  return !readVersion(path, state, links).isNotFound();
}

bool isNamedFromHere(const std::string& argument) {
  const char* const ways[] = {"./", "../", ".\\", "..\\"};
  return std::any_of(std::begin(ways), std::end(ways), [&](const char* way) {
    return argument.rfind(way, 0) == 0;
  });
}

namespace {

// Where one file named `argument` is for a conversion: `found`, the first
// of its places where anything stands; where none does, below Output.
NamedFile oneFile(const std::string& argument, const std::string& home,
                  const std::string& found) {
  if (!found.empty()) return {found, argument, true};
  return {isFullPath(argument) ? argument : layoutFilePath(home, argument),
          argument, true};
}

// Where one file named `argument` is for a restore: the backup named stands
// for its file, which is found by itself or by its backup alone, links not
// followed.
NamedFile oneFileToRestore(const std::string& argument,
                           const std::string& home) {
  const std::string named =
      isBackupName(fileNameOf(argument)) ? fileOfBackup(argument) : argument;
  for (const std::string& place : placesOf(named, home))
    if (exists(place, Links::kRefuse) ||
        exists(backupOf(place), Links::kRefuse))
      return {place, argument, true};
  return {isFullPath(named) ? named : layoutFilePath(home, named), argument,
          true};
}

bool opens(const std::string& path) {
  SystemFile file;
  FileVersion state;
  return !openForReading(path, file, state, Links::kOwned);
}

std::vector<NamedFile> asFiles(const std::vector<std::string>& paths) {
  std::vector<NamedFile> files;
  files.reserve(paths.size());
  for (const std::string& path : paths) files.push_back({path, path, false});
  return files;
}

}  // namespace

namespace {

bool namesABackup(const NamedFile& file) {
  return isBackupName(fileNameOf(file.argument));
}

// What a backup named as `file` was kept for: for a restore, that file is
// named already.
std::string keptFor(const NamedFile& file, bool restore) {
  return restore ? file.path : fileOfBackup(file.path);
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), lowerAscii);
  return text;
}

// Whether a file or a folder stands at one of the places of `name`.
bool standsAnywhere(const std::string& name, const std::string& home) {
  const std::vector<std::string> places = placesOf(name, home);
  return std::any_of(places.begin(), places.end(), [](const std::string& at) {
    FileVersion state;
    const SystemError error = readVersion(at, state);
    return !error || error.source() == SystemError::Source::kNotARegularFile;
  });
}

}  // namespace

std::string withoutStrayQuote(const std::string& argument,
                              const std::string& home) {
  if (argument.size() < 2 || argument.back() != '"') return argument;
  std::string taken = argument.substr(0, argument.size() - 1);
  if (standsAnywhere(argument, home) || !standsAnywhere(taken, home))
    return argument;
  return taken;
}

HandedAlong backupsHandedAlong(const std::vector<Named>& named, bool restore) {
  HandedAlong along;
  along.restore_ = restore;
  for (const Named& found : named)
    for (const NamedFile& file : found.files)
      if (!namesABackup(file)) along.files_.push_back(lowered(file.path));
  std::sort(along.files_.begin(), along.files_.end());
  return along;
}

bool HandedAlong::has(const NamedFile& file) const {
  return namesABackup(file) &&
         std::binary_search(files_.begin(), files_.end(),
                            lowered(keptFor(file, restore_)));
}

Named expandArgument(const std::string& argument, const std::string& home,
                     bool restore) {
  Named named;
  const auto one = [&](const std::string& found) {
    named.files = {restore ? oneFileToRestore(argument, home)
                           : oneFile(argument, home, found)};
    return named;
  };
  // Nothing is found by no name: the Output folder is what it names.
  if (argument.empty()) return one(placesOf(argument, home).front());
  // A folder, or a file, as a name is found: at the first place, anything
  // that stands there; after it, only a file that opens.
  const std::vector<std::string> places = placesOf(argument, home);
  for (const std::string& path : places) {
    if (!exists(path)) continue;
    const bool folder = isFolder(path);
    if (!folder && path != places.front() && !opens(path)) continue;
    if (!folder) {
      named.nameIsAPattern = isPattern(fileNameOf(argument));
      return one(path);
    }
    named.many = true;
    named.files = asFiles(namesIn(
        path, restore,
        [](const std::string& name) {
          return endsWithIgnoringCase(name, ".gui.xml");
        },
        named.passedOver, named.lonelyBackups, named.listing));
    named.none = {
        restore ? NoneNamed::Kind::kNoBackup : NoneNamed::Kind::kNoLayoutFile,
        path, "", restore};
    return named;
  }
  const std::string pattern = fileNameOf(argument);
  if (!isPattern(pattern)) return one("");
  // The folder part as given, without its separator; empty where none was.
  std::string folder = argument.substr(0, argument.size() - pattern.size());
  if (folder.size() > 1) folder.pop_back();
  named.many = true;
  std::string first;
  for (const std::string& path : placesOf(folder, home)) {
    if (!isFolder(path)) continue;
    if (first.empty()) first = path;
    named.passedOver.clear();
    named.lonelyBackups.clear();
    named.files = asFiles(namesIn(
        path, restore,
        [&](const std::string& name) { return matchesPattern(name, pattern); },
        named.passedOver, named.lonelyBackups, named.listing));
    if (!named.files.empty() || !named.passedOver.empty() ||
        !named.lonelyBackups.empty())
      return named;
  }
  named.none = {NoneNamed::Kind::kNoMatch,
                first.empty() ? placesOf(folder, home).front() : first, pattern,
                restore};
  return named;
}
