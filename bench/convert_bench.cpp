// Times whole runs of hudconv on synthetic layout files against the floor of
// `dd ... conv=fsync`, which reads the same bytes, writes them and flushes
// them to disk: the converter's work without the conversion.
//
//   convert_bench HUDCONV WORKDIR [SIZE ...]
//
// A SIZE is a number of megabytes, or of kilobytes with K (20K); "line:" in
// front makes the file one line, its line breaks bare CRs, behind a LEFT
// label. The default is 20K 4 40 400 line:56.
//
// For each size: one warm-up run of each, then ROUNDS (5) rounds that
// alternate hudconv on a fresh copy of the file and dd. Prints the medians,
// their ratio, hudconv's peak resident memory, and the time per megabyte,
// also net of the fixed cost of a run; last the median of a second run on
// the converted file, which compares it with its backup and writes nothing.

#include <unistd.h>

#include <algorithm>
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

const int kRounds = 5;
const char kFileName[] = "pwrlvlup_p.gui.xml";  // one the exceptions list

struct Size {
  std::uint64_t bytes;
  bool oneLine;
};

Size parseSize(std::string text) {
  Size size{0, text.rfind("line:", 0) == 0};
  if (size.oneLine) text.erase(0, 5);
  char* end = nullptr;
  const std::uint64_t number = std::strtoull(text.c_str(), &end, 10);
  size.bytes = *end == 'K' ? number << 10 : number << 20;
  return size;
}

void writeLayout(const fs::path& path, const Size& size) {
  std::string text = syntheticLayout(size.bytes);
  if (size.oneLine) {
    // One LEFT property whose value text is the whole rest of the file: the
    // line is held whole, and rewritten whole.
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    text.insert(0, "<Property Label=\"LEFT\" Value=\"120\" />\r");
  }
  std::ofstream(path, std::ios::binary) << text;
}

// Highest over lowest, less one.
double spread(const std::vector<double>& values) {
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  return *high / *low - 1;
}

struct Timings {
  std::vector<double> convert, dd, again;
  long peakKilobytes = 0;
};

// One warm-up run of each, then kRounds rounds that alternate hudconv on a
// fresh copy of the file (a first conversion: no backup yet, nor a record of
// an earlier one), dd, and
// hudconv once more on the converted file, which it only reads.
Timings timeBoth(const fs::path& original, const fs::path& target,
                 const std::vector<std::string>& convert,
                 const std::vector<std::string>& dd) {
  Timings timings;
  fs::path backup = target;
  backup += ".bak";
  const fs::path record = target.parent_path() / ".hudconv.record";
  for (int round = 0; round <= kRounds; ++round) {
    fs::remove(backup);
    fs::remove(record);
    fs::copy_file(original, target, fs::copy_options::overwrite_existing);
    // Neither run may pay for the write-back of what came before it.
    ::sync();
    const Run converted = runProcess(convert);
    ::sync();
    const Run copied = runProcess(dd);
    const Run again = runProcess(convert);
    if (round == 0) continue;
    timings.convert.push_back(converted.seconds);
    timings.dd.push_back(copied.seconds);
    timings.again.push_back(again.seconds);
    timings.peakKilobytes = std::max(
        {timings.peakKilobytes, converted.peakKilobytes, again.peakKilobytes});
  }
  return timings;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s HUDCONV WORKDIR [SIZE ...]\n", argv[0]);
    return 2;
  }
  const fs::path work = fs::absolute(argv[2]);
  std::vector<std::string> names(argv + 3, argv + argc);
  if (names.empty()) names = {"20K", "4", "40", "400", "line:56"};

  fs::create_directories(work / "Output");
  const fs::path program = work / "hudconv";
  fs::copy_file(argv[1], program, fs::copy_options::overwrite_existing);
  const fs::path original = work / "original.gui.xml";
  const fs::path target = work / "Output" / kFileName;
  const fs::path ddCopy = work / "dd-copy.gui.xml";

  // What a run costs whatever the size: starting the process, the folders,
  // opening, flushing and renaming an empty file.
  const std::vector<std::string> convert = {program.string(), kFileName};
  const std::vector<std::string> dd = {"dd", "if=" + original.string(),
                                       "of=" + ddCopy.string(), "bs=1M",
                                       "conv=fsync"};
  std::ofstream(original, std::ios::binary | std::ios::trunc).flush();
  const Timings empty = timeBoth(original, target, convert, dd);
  std::printf("fixed cost per run (empty file): hudconv %.4f s, dd %.4f s\n\n",
              median(empty.convert), median(empty.dd));
  std::printf("%10s %9s %9s %6s %9s %9s %10s %10s %9s\n", "size", "hudconv s",
              "dd s", "ratio", "peak RSS", "RSS/file", "ms/MB", "net ms/MB",
              "2nd run s");
  // Flat from 40 MB up: below, the fixed cost of a run outweighs the rest.
  std::vector<double> netFrom40;
  for (const std::string& name : names) {
    const Size size = parseSize(name);
    writeLayout(original, size);
    const double fileMegabytes =
        static_cast<double>(fs::file_size(original)) / (1 << 20);
    const Timings timings = timeBoth(original, target, convert, dd);
    const double convertMedian = median(timings.convert);
    const double ddMedian = median(timings.dd);
    const double peakMegabytes =
        static_cast<double>(timings.peakKilobytes) / 1024;
    const double net =
        (convertMedian - median(empty.convert)) / fileMegabytes * 1000;
    if (size.bytes >= 40u << 20 && !size.oneLine) netFrom40.push_back(net);
    std::printf("%10s %9.4f %9.4f %6.2f %5.1f MiB %8.2fx %10.3f %10.3f %9.4f\n",
                name.c_str(), convertMedian, ddMedian, convertMedian / ddMedian,
                peakMegabytes, peakMegabytes / fileMegabytes,
                convertMedian / fileMegabytes * 1000, net,
                median(timings.again));
  }
  if (netFrom40.size() > 1)
    std::printf("\nnet ms/MB from 40 MB up, highest above lowest: %.1f%%\n",
                spread(netFrom40) * 100);
  fs::remove(original);
  fs::remove(target);
  fs::remove(fs::path(target) += ".bak");
  fs::remove(fs::path(target).parent_path() / ".hudconv.record");
  fs::remove(ddCopy);
  return 0;
}
