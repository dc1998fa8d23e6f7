// Converts a layout file larger than 4 GiB with the real program and checks
// every byte of the result: sizes and offsets beyond 32 bits must hold all
// the way through. Not part of CI: it needs about three times the file's
// size on disk, and minutes.
//
//   large_file_check HUDCONV WORKDIR [GIB]   (default 4.5)
//
// The file is one synthetic megabyte of controls repeated; each copy starts
// with its own TAG lines, so its conversion is the converted megabyte
// repeated.

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert/layout_converter.h"
#include "convert/line_rewriter.h"
#include "convert/rule_table.h"
#include "synthetic_layout.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s HUDCONV WORKDIR [GIB]\n", argv[0]);
    return 2;
  }
  const double gibibytes = argc > 3 ? std::atof(argv[3]) : 4.5;
  const char kName[] = "pwrlvlup_p.gui.xml";
  const fs::path work = fs::absolute(argv[2]);
  fs::create_directories(work / "Output");
  const fs::path program = work / "hudconv";
  fs::copy_file(argv[1], program, fs::copy_options::overwrite_existing);
  const fs::path file = work / "Output" / kName;
  fs::path backup = file;
  backup += ".bak";
  fs::remove(backup);  // or the run compares with it first

  const std::string chunk = syntheticLayout(1 << 20);
  buildRuleTable();
  inputFileName = kName;
  StringSink converted;
  LayoutConverter converter(converted);
  converter.feed(chunk.data(), chunk.size());
  converter.finish();

  const auto copies =
      static_cast<std::uint64_t>(gibibytes * static_cast<double>(1ull << 30) /
                                 static_cast<double>(chunk.size()));
  {
    std::ofstream out(file, std::ios::binary);
    for (std::uint64_t i = 0; i < copies; ++i) out << chunk;
  }
  std::printf("input: %llu bytes (%.2f GiB)\n",
              static_cast<unsigned long long>(fs::file_size(file)),
              static_cast<double>(fs::file_size(file)) / (1ull << 30));

  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(program.c_str(), program.c_str(), kName, nullptr);
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  std::printf("\nhudconv: exit status %d in %.1f s\n",
              WIFEXITED(status) ? WEXITSTATUS(status) : -1, took.count());

  const std::uint64_t expected = copies * converted.text.size();
  std::uint64_t differing = 0;
  {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> block(converted.text.size());
    for (std::uint64_t i = 0; i < copies; ++i) {
      in.read(block.data(), static_cast<std::streamsize>(block.size()));
      if (!in || std::string(block.data(), block.size()) != converted.text)
        ++differing;
    }
    if (in.peek() != std::char_traits<char>::eof()) ++differing;
  }
  std::printf("output: %llu bytes, expected %llu; %llu of %llu copies differ\n",
              static_cast<unsigned long long>(fs::file_size(file)),
              static_cast<unsigned long long>(expected),
              static_cast<unsigned long long>(differing),
              static_cast<unsigned long long>(copies));
  // The original, kept as a second name of the same file.
  std::error_code missing;
  const bool kept =
      fs::file_size(backup, missing) == copies * chunk.size() && !missing;
  std::printf("backup: %s\n", kept ? "the original's size" : "MISSING");
  fs::remove(file);
  fs::remove(backup);
  const bool good = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                    differing == 0 && kept && fs::is_empty(work / "Output");
  std::printf("%s\n", good ? "converted correctly" : "FAILED");
  return good ? 0 : 1;
}
