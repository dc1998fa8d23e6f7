#pragma once

#include <string>
#include <vector>

// What the command line asks for. Every option is named once, in the table
// in options.cpp, from which parsing, the usage text and the refusal of an
// unknown option come.
struct Options {
  bool help = false, version = false, restore = false, preview = false,
       update = false, verbose = false;
  std::string unknownOption;  // the first one given, if any
  std::vector<std::string> files;

  // Whether the run converts or restores files, rather than telling
  // something and ending.
  bool converting() const {
    return !files.empty() && !help && !version && unknownOption.empty();
  }
};

// Reads the arguments, the program's name first. Everything after "--" is
// a file, even one named like an option.
Options parseOptions(const std::vector<std::string>& args);

// The usage text, every option on it.
std::string usage();
