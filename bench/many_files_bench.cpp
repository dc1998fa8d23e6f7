// Times a whole HUD converted in one run of hudconv, against the durable
// floor of the same job and against one run of hudconv per file.
//
//   many_files_bench HUDCONV WORKDIR [FILES]
//
// The HUD is FILES (150) synthetic layout files of 2 to 60 KB in
// WORKDIR/Output. The floor does, in a process of its own, what no safe
// in-place rewrite can do without: for each file, reads it, writes its bytes
// to a new file beside it, flushes that, and links the original as its
// backup; then flushes the folder once, renames each new file over its
// file, and flushes the folder once more. Each round gives all three a
// fresh copy of the HUD, the disk's write-back done before each; after one
// warm-up round, ROUNDS (9) rounds alternate them. Prints the medians, and
// the median of hudconv's ratio to the floor in each round, where a disk
// shared with others drifts least. With --floor FOLDER it is that floor.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "process.h"
#include "synthetic_layout.h"

namespace fs = std::filesystem;

namespace {

const int kRounds = 9;

void die(const std::string& what) {
  std::perror(what.c_str());
  std::exit(1);
}

// The floor, over the layout files of `folder`.
int floorRun(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".xml") files.push_back(entry.path());
  std::vector<char> bytes;
  for (const fs::path& file : files) {
    const int in = ::open(file.c_str(), O_RDONLY);
    if (in < 0) die(file.string());
    bytes.resize(static_cast<std::size_t>(fs::file_size(file)));
    if (::read(in, bytes.data(), bytes.size()) !=
        static_cast<ssize_t>(bytes.size()))
      die(file.string());
    ::close(in);
    const std::string temp = file.string() + ".new";
    const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 ||
        ::write(out, bytes.data(), bytes.size()) !=
            static_cast<ssize_t>(bytes.size()) ||
        ::fsync(out) != 0 || ::close(out) != 0)
      die(temp);
    if (::link(file.c_str(), (file.string() + ".bak").c_str()) != 0)
      die(file.string() + ".bak");
  }
  const auto flushFolder = [&] {
    const int opened = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (opened < 0 || ::fsync(opened) != 0) die(folder.string());
    ::close(opened);
  };
  flushFolder();
  for (const fs::path& file : files)
    if (::rename((file.string() + ".new").c_str(), file.c_str()) != 0)
      die(file.string());
  flushFolder();
  return 0;
}

// A fresh copy of the HUD in `output`: the files of `hud`, nothing else.
void freshCopy(const fs::path& hud, const fs::path& output) {
  fs::remove_all(output);
  fs::copy(hud, output);
  ::sync();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--floor") return floorRun(argv[2]);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s HUDCONV WORKDIR [FILES]\n", argv[0]);
    return 2;
  }
  const fs::path work = fs::absolute(argv[2]);
  const int count = argc > 3 ? std::atoi(argv[3]) : 150;
  const fs::path hud = work / "hud";
  const fs::path output = work / "Output";
  fs::remove_all(hud);
  fs::create_directories(hud);
  const fs::path program = work / "hudconv";
  fs::copy_file(argv[1], program, fs::copy_options::overwrite_existing);
  std::uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    const std::uint64_t size =
        (2u << 10) + (58u << 10) * static_cast<std::uint64_t>(i) /
                         static_cast<std::uint64_t>(std::max(count - 1, 1));
    const std::string text = syntheticLayout(size);
    total += text.size();
    std::ofstream(hud / ("layout" + std::to_string(i) + "_p.gui.xml"),
                  std::ios::binary)
        << text;
  }
  std::vector<std::string> perFile;
  for (const fs::directory_entry& entry : fs::directory_iterator(hud))
    perFile.push_back(entry.path().filename().string());
  const std::string self = fs::absolute(fs::path(argv[0])).string();
  std::vector<double> one, floor, each, ratio;
  for (int round = 0; round <= kRounds; ++round) {
    freshCopy(hud, output);
    const double oneRun =
        runProcess({program.string(), output.string()}).seconds;
    freshCopy(hud, output);
    const double floorTime =
        runProcess({self, "--floor", output.string()}).seconds;
    freshCopy(hud, output);
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& name : perFile)
      runProcess({program.string(), (output / name).string()});
    const std::chrono::duration<double> eachRun =
        std::chrono::steady_clock::now() - start;
    if (round == 0) continue;
    one.push_back(oneRun);
    floor.push_back(floorTime);
    each.push_back(eachRun.count());
    ratio.push_back(oneRun / floorTime);
  }
  std::printf(
      "%d files, %.1f MB: one run %.4f s, durable floor %.4f s "
      "(ratio %.2f), one run per file %.4f s\n",
      count, static_cast<double>(total) / (1 << 20), median(one), median(floor),
      median(ratio), median(each));
  fs::remove_all(output);
  fs::remove_all(hud);
  return 0;
}
