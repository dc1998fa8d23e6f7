// Times a run over a few new files in a folder whose record knows
// thousands, against the same run alone in a folder of its own: what the
// record costs should grow with the run, not with the record.
//
//   record_bench HUDCONV WORKDIR [RECORDED [NEW]]
//
// WORKDIR/big/Output holds RECORDED (20,000) layout files converted by
// HUDCONV, with their backups and record; WORKDIR/alone/Output nothing.
// Each round puts NEW (100) fresh layout files in each and converts them,
// named one by one and as a pattern, in one run: beside the recorded files,
// beside them with the record moved away (what the folder's size costs
// alone), and alone. Then the new files and their backups are removed and
// the record is put back as it was. After one warm-up round, ROUNDS (9)
// rounds alternate them; prints the medians, the median of the ratios of
// each round, and the peak memory of the run beside the record. The player's
// memory is one of its own, in WORKDIR/state.

#include <algorithm>
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

std::string newName(int i) { return "new" + std::to_string(i) + "_p.gui.xml"; }

struct Times {
  std::vector<double> alone, unrecorded, recorded, ratio, toFolder;
  long peak = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s HUDCONV WORKDIR [RECORDED [NEW]]\n",
                 argv[0]);
    return 2;
  }
  const fs::path work = fs::absolute(argv[2]);
  const int recorded = argc > 3 ? std::atoi(argv[3]) : 20000;
  const int fresh = argc > 4 ? std::atoi(argv[4]) : 100;
  fs::remove_all(work / "big");
  fs::remove_all(work / "alone");
  fs::remove_all(work / "state");
  const fs::path big = work / "big" / "Output";
  const fs::path alone = work / "alone" / "Output";
  fs::create_directories(big);
  fs::create_directories(alone);
  ::setenv("XDG_STATE_HOME", (work / "state").c_str(), 1);
  const fs::path program = work / "hudconv";
  fs::copy_file(argv[1], program, fs::copy_options::overwrite_existing);
  const std::string layout = syntheticLayout(4u << 10);
  for (int i = 0; i < recorded; ++i)
    std::ofstream(big / ("old" + std::to_string(i) + "_p.gui.xml"),
                  std::ios::binary)
        << layout;
  runProcess({program.string(), big.string()});
  const fs::path record = big / ".hudconv.record";
  const fs::path kept = work / "record.kept";
  fs::copy_file(record, kept, fs::copy_options::overwrite_existing);
  const auto place = [&](const fs::path& folder) {
    for (int i = 0; i < fresh; ++i)
      std::ofstream(folder / newName(i), std::ios::binary) << layout;
  };
  const auto clear = [&](const fs::path& folder) {
    for (int i = 0; i < fresh; ++i) {
      fs::remove(folder / newName(i));
      fs::remove(folder / (newName(i) + ".bak"));
    }
  };
  const auto runIn = [&](const fs::path& folder, bool pattern) {
    std::vector<std::string> args = {program.string()};
    if (pattern) {
      args.push_back((folder / "new*_p.gui.xml").string());
    } else {
      for (int i = 0; i < fresh; ++i)
        args.push_back((folder / newName(i)).string());
    }
    place(folder);
    ::sync();
    const Run run = runProcess(args);
    clear(folder);
    return run;
  };
  Times named, pattern;
  for (int round = 0; round <= kRounds; ++round) {
    for (const bool asPattern : {false, true}) {
      Times& times = asPattern ? pattern : named;
      fs::copy_file(kept, record, fs::copy_options::overwrite_existing);
      const Run beside = runIn(big, asPattern);
      fs::remove(record);
      const Run unrecorded = runIn(big, asPattern);
      fs::remove(alone / ".hudconv.record");
      const Run by = runIn(alone, asPattern);
      if (round == 0) continue;
      times.recorded.push_back(beside.seconds);
      times.unrecorded.push_back(unrecorded.seconds);
      times.alone.push_back(by.seconds);
      times.ratio.push_back(beside.seconds / by.seconds);
      times.toFolder.push_back(beside.seconds / unrecorded.seconds);
      times.peak = std::max(times.peak, beside.peakKilobytes);
    }
  }
  fs::copy_file(kept, record, fs::copy_options::overwrite_existing);
  std::printf("%d new files beside %d recorded (a record of %.2f MB):\n", fresh,
              recorded, static_cast<double>(fs::file_size(kept)) / (1 << 20));
  for (const bool asPattern : {false, true}) {
    const Times& t = asPattern ? pattern : named;
    std::printf(
        "  %-8s beside the record %.4f s, beside the files without it "
        "%.4f s, alone %.4f s: %.2fx alone, %.2fx without the record; "
        "peak %ld KB\n",
        asPattern ? "pattern" : "named", median(t.recorded),
        median(t.unrecorded), median(t.alone), median(t.ratio),
        median(t.toFolder), t.peak);
  }
  fs::remove_all(work / "big");
  fs::remove_all(work / "alone");
  fs::remove_all(work / "state");
  fs::remove(kept);
  return 0;
}
