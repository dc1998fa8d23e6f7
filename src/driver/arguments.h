#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver/failure.h"
#include "driver/platform_files.h"

// One file that an argument names: where it is, or where it was looked for
// when it is nowhere; and the argument as it was given.
struct NamedFile {
  std::string path;
  std::string argument;
  bool byName = false;  // named by itself, not found by a folder or pattern
};

// A folder as it was listed: its path as the system resolves it (see
// resolveLinks), and what was in it.
struct Listing {
  std::string folder;
  std::vector<FolderEntry> entries;
};

// What a file argument stands for. Players convert a whole HUD, and cmd.exe
// expands no wildcard: a pattern (`*.gui.xml`, `Output\*_p.gui.xml`) and a
// folder (one dropped on the program, too) name the layout files in it.
// Each is looked for once, here; what was found is handed on.
struct Named {
  bool many = false;  // a pattern or a folder; otherwise one file as named
  std::vector<NamedFile> files;  // what it names, in name order
  NoneNamed none;                // where a folder or pattern names nothing
  // Links in the folder that are not followed (see Links::kOwned).
  std::vector<std::string> passedOver;
  // For a restore, the backups (bare names) whose layout file is gone: a
  // game update removed it, and it is not brought back unless named.
  std::vector<std::string> lonelyBackups;
  // One file, whose name is written as a pattern is.
  bool nameIsAPattern = false;
  // The folder listed to find them, where one was.
  std::shared_ptr<const Listing> listing;
};

// The files that `argument` names, a folder part or a folder being looked
// for as a name is: below the Output folder of `home` first, then from here;
// a full path where it is. Folders and backups are left out; for `restore`,
// the files that have a backup are named. One file is found where it is
// (for `restore`, where it or its backup is), and otherwise named where it
// belongs, below the Output folder.
Named expandArgument(const std::string& argument, const std::string& home,
                     bool restore);

// `argument` without the " at its end where only that names something: cmd
// passes one for the \" that ends "C:\Games\HUD Copy\". Otherwise as it is.
std::string withoutStrayQuote(const std::string& argument,
                              const std::string& home);

// The backups that came along with their own files, as a shell's `*` hands
// them over: a backup named in a run that also names its file. They are
// passed over, not refused; a backup named alone is still refused.
class HandedAlong {
 public:
  bool has(const NamedFile& file) const;

 private:
  friend HandedAlong backupsHandedAlong(const std::vector<Named>& named,
                                        bool restore);
  std::vector<std::string> files_;  // paths named, letter case aside, sorted
  bool restore_ = false;
};
HandedAlong backupsHandedAlong(const std::vector<Named>& named, bool restore);

// The layout file `name` inside the Output folder of `home`, which holds the
// files named by a bare name.
std::string layoutFilePath(const std::string& home, const std::string& name);

// Whether `argument` begins with ./, ../, .\ or ..\: a path from here,
// looked for here first.
bool isNamedFromHere(const std::string& argument);

// Where `name` (empty: the Output folder itself) may be, in the order it is
// looked for: a full path where it is; a relative one below the Output folder
// of `home`, then from here, or the other way round when named from here.
std::vector<std::string> placesOf(const std::string& name,
                                  const std::string& home);

// Whether anything stands at `path`.
bool exists(const std::string& path, Links links = Links::kFollow);

// Whether `name` matches `pattern`, in which `*` stands for any run of
// characters and `?` for any one, ASCII letter case aside.
bool matchesPattern(const std::string& name, const std::string& pattern);
