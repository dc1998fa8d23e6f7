// The conversion in memory, without the process and the disk:
// - nanoseconds per line for the three kinds of line that make up a layout,
//   through rewriteLine, which returns a new string, and through
//   rewriteLineInto, which reuses one;
// - whole synthetic files of 4, 40 and 400 MB fed to LayoutConverter in the
//   blocks the program reads, into a sink that only counts, to show that the
//   cost per byte does not grow with the file.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>

#include "convert/layout_converter.h"
#include "convert/line_rewriter.h"
#include "convert/rule_table.h"
#include "synthetic_layout.h"

namespace {

const char kUnlisted[] = "unlisted_p.gui.xml";
const char kListed[] = "pwrlvlup_p.gui.xml";
const char kNoMarkers[] = "    <Property Label=\"HEIGHT\" Value=\"32\" />";
const char kLeft[] = "    <Property Label=\"LEFT\" Value=\"1234\" />";
const char kWidth[] = "    <Property Label=\"WIDTH\" Value=\"1500\" />";

void rewrite(benchmark::State& state, bool reuse, const char* fileName,
             const char* tag, const char* text) {
  buildRuleTable();
  inputFileName = fileName;
  currentTagText = tag;
  const std::string line = text;
  if (reuse) {
    std::string rewritten;
    for (auto _ : state)
      benchmark::DoNotOptimize(rewriteLineInto(line, rewritten));
  } else {
    for (auto _ : state) benchmark::DoNotOptimize(rewriteLine(line));
  }
  state.SetItemsProcessed(state.iterations());
}

// Takes the converted bytes as a write to a file would, without the disk.
class CountingSink final : public BufferedSink {
 public:
  CountingSink() : BufferedSink(LayoutConverter::kBlockSize) {}
  std::size_t bytes = 0;

 private:
  void write(const char* data, std::size_t size) override {
    benchmark::DoNotOptimize(data);
    bytes += size;
  }
};

void convertFile(benchmark::State& state) {
  static std::map<std::int64_t, std::string> files;
  std::string& text = files[state.range(0)];
  if (text.empty())
    text = syntheticLayout(static_cast<std::uint64_t>(state.range(0)) << 20);
  buildRuleTable();
  inputFileName = kListed;
  for (auto _ : state) {
    CountingSink sink;
    LayoutConverter converter(sink);
    for (std::size_t at = 0; at < text.size();
         at += LayoutConverter::kBlockSize)
      converter.feed(text.data() + at,
                     std::min(LayoutConverter::kBlockSize, text.size() - at));
    converter.finish();
    benchmark::DoNotOptimize(sink.bytes);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(text.size()));
}

}  // namespace

BENCHMARK_CAPTURE(rewrite, no_markers, false, kUnlisted, "LBL_TITLE\" />",
                  kNoMarkers);
BENCHMARK_CAPTURE(rewrite, left, false, kUnlisted, "LBL_TITLE\" />", kLeft);
BENCHMARK_CAPTURE(rewrite, width_exception, false, kListed, "LB_POWERS\" />",
                  kWidth);
BENCHMARK_CAPTURE(rewrite, no_markers_reused, true, kUnlisted, "LBL_TITLE\" />",
                  kNoMarkers);
BENCHMARK_CAPTURE(rewrite, left_reused, true, kUnlisted, "LBL_TITLE\" />",
                  kLeft);
BENCHMARK_CAPTURE(rewrite, width_exception_reused, true, kListed,
                  "LB_POWERS\" />", kWidth);
BENCHMARK(convertFile)
    ->Arg(4)
    ->Arg(40)
    ->Arg(400)
    ->ArgName("MB")
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
