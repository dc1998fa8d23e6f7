// The conversion in memory of the 4 MB synthetic layout, for counting its
// instructions under callgrind (bench/instructions.sh), where a wall time
// would drift with the machine's load:
//   instructions MODE [plain]
// MODE "setup" builds the file and stops; "floor" finds each line end with
// memchr and copies each line into the sink, the least a conversion must
// do; "convert" converts it. What a mode costs beyond "setup", divided by
// the file's size, is its count per byte. With "plain", every `Label="` of
// the file is `Lab_l="`: a file of the same size in which no line changes.

#include <cstdio>
#include <cstring>
#include <string>

#include "convert/layout_converter.h"
#include "convert/line_rewriter.h"
#include "convert/rule_table.h"
#include "synthetic_layout.h"

namespace {

// Takes the converted bytes as a write to a file would, without the disk.
class CountingSink final : public BufferedSink {
 public:
  CountingSink() : BufferedSink(LayoutConverter::kBlockSize) {}
  std::size_t bytes = 0;
  unsigned char check = 0;

 private:
  void write(const char* data, std::size_t size) override {
    bytes += size;
    if (size > 0) check = static_cast<unsigned char>(check ^ data[size - 1]);
  }
};

// Every line copied into blocks of the sink, as they are read in blocks.
std::size_t floorOf(const std::string& text) {
  CountingSink sink;
  std::size_t size = 0;
  std::size_t used = 0;
  char* buffer = nullptr;
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at != end) {
    const void* found =
        std::memchr(at, '\n', static_cast<std::size_t>(end - at));
    const char* const lineEnd =
        found ? static_cast<const char*>(found) + 1 : end;
    const std::size_t length = static_cast<std::size_t>(lineEnd - at);
    if (!buffer || size - used < length) {
      if (buffer) sink.take(used);
      buffer = sink.lend(size);
      used = 0;
    }
    std::memcpy(buffer + used, at, length);
    used += length;
    at = lineEnd;
  }
  if (buffer) sink.take(used);
  return sink.bytes + sink.check;
}

std::size_t convert(const std::string& text) {
  CountingSink sink;
  LayoutConverter converter(sink);
  for (std::size_t at = 0; at < text.size(); at += LayoutConverter::kBlockSize)
    converter.feed(text.data() + at,
                   std::min(LayoutConverter::kBlockSize, text.size() - at));
  converter.finish();
  return sink.bytes + sink.check;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const bool plain = argc > 2 && std::string(argv[2]) == "plain";
  if (mode != "setup" && mode != "floor" && mode != "convert") {
    std::fprintf(stderr, "usage: instructions setup|floor|convert [plain]\n");
    return 2;
  }
  std::string text = syntheticLayout(std::uint64_t{4} << 20);
  for (std::size_t at = 0;
       plain && (at = text.find("Label=", at)) != std::string::npos;)
    text[at + 3] = '_';
  buildRuleTable();
  inputFileName = "pwrlvlup_p.gui.xml";
  std::size_t result = text.size();
  if (mode == "floor") result = floorOf(text);
  if (mode == "convert") result = convert(text);
  std::printf("%zu bytes, result %zu\n", text.size(), result);
  return 0;
}
