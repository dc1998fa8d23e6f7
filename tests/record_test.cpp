// What hudconv keeps of what it wrote: the hash that knows a file again,
// the record that is trusted whole or not at all, and the judgement of a
// file that is neither its original nor that converted.

#include "driver/record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line_fixture.h"
#include "convert/drift.h"

namespace {

Digest digestOf(const std::string& text, std::size_t piece) {
  ContentHash hash;
  for (std::size_t at = 0; at < text.size(); at += piece)
    hash.feed(text.data() + at, std::min(piece, text.size() - at));
  return hash.digest();
}

// An entry of an earlier version: the older hash alone.
Digest older(std::uint64_t size, std::uint64_t hash) {
  return {.size = size, .sha256 = std::nullopt, .older = hash};
}

// An entry of this version, its SHA-256 all `byte`.
Digest secure(std::uint64_t size, unsigned char byte) {
  Sha256::Value value;
  value.fill(byte);
  return {.size = size, .sha256 = value, .older = 0};
}

TEST(ContentHashTest, IsSha256AndTheOlderHashInPiecesOfAnySize) {
  std::string text;
  for (int i = 0; text.size() < 1000; ++i)
    text += "<Property Label=\"LEFT\" Value=\"" + std::to_string(i) + "\" />\n";
  const Digest whole = digestOf(text, text.size());
  EXPECT_EQ(whole.size, text.size());
  for (const std::size_t piece : {1, 7, 63, 64, 65, 200, 256, 257}) {
    const Digest pieces = digestOf(text, piece);
    EXPECT_EQ(pieces.sha256, whole.sha256) << piece;
    EXPECT_EQ(pieces.older, whole.older) << piece;
  }
  // SHA-256 itself, and the older hash as the records of earlier versions
  // hold it.
  EXPECT_EQ(hashText(digestOf("abc", 1)),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hashText(digestOf("", 1)),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hashText(older(3, digestOf("abc", 1).older)), "fb2ecfe65cc34747");
  // Two digests agree by SHA-256 where both hold it, else by the older hash.
  Digest other = whole;
  other.older ^= 1;
  EXPECT_EQ(other, whole);
  EXPECT_NE(older(whole.size, other.older), whole);
  EXPECT_EQ(older(whole.size, whole.older), whole);
  (*other.sha256)[31] ^= 1;
  EXPECT_NE(other, older(whole.size, other.older ^ 1));
  EXPECT_NE(other, whole);
}

// `text`, a record's lines, with the end line that vouches for them.
std::string resealed(const std::string& text) {
  return text + "end " + hashText(older(0, digestOf(text, 1).older)) + "\n";
}

TEST(RecordTest, IsTrustedWholeOrNotAtAll) {
  const std::vector<RecordEntry> entries = {
      {"map_p.gui.xml", secure(1204, 0xA9), secure(1206, 7)},
      {"карта 日本.gui.xml", secure(0, 0), secure(18446744073709551615u, 1)},
      // Every name is kept, also one that holds what breaks a line; an
      // entry of an earlier version stays as it was.
      {"x\ny\r_%0A%_p.gui.xml", older(3, 3), older(4, 0xFFFFFFFFFFFFFFFFu)},
  };
  const std::string text = recordText(entries);
  std::vector<RecordEntry> read;
  ASSERT_TRUE(parseRecord(text, read));
  ASSERT_EQ(read.size(), entries.size());
  for (std::size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].name, entries[i].name);
    EXPECT_EQ(read[i].written.sha256, entries[i].written.sha256);
    EXPECT_EQ(read[i].original.sha256, entries[i].original.sha256);
    EXPECT_EQ(read[i].written, entries[i].written);
    EXPECT_EQ(read[i].original, entries[i].original);
  }
  EXPECT_TRUE(parseRecord(recordText({}), read));
  EXPECT_TRUE(read.empty());
  // Cut short anywhere, one byte changed anywhere, of another version, or
  // not a record at all: nothing of it is taken.
  for (std::size_t size = 0; size < text.size(); ++size)
    EXPECT_FALSE(parseRecord(text.substr(0, size), read)) << size;
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::string changed = text;
    changed[at] = changed[at] == 'x' ? 'y' : 'x';
    EXPECT_FALSE(parseRecord(changed, read)) << at;
    EXPECT_TRUE(read.empty()) << at;
  }
  std::string other = text;
  other.replace(0, 16, "hudconv record 5");
  EXPECT_FALSE(parseRecord(other, read));
  // The records of the versions before, whose names stood as they are in
  // the first, are read as they were written.
  std::vector<RecordEntry> old;
  ASSERT_TRUE(
      parseRecord(resealed("hudconv record 1\n1 a 2 b 100%_p.gui.xml\n"), old));
  ASSERT_EQ(old.size(), 1u);
  EXPECT_EQ(old[0].name, "100%_p.gui.xml");
  EXPECT_EQ(old[0].written, older(1, 0xa));
  EXPECT_FALSE(old[0].written.sha256);
  ASSERT_TRUE(parseRecord(
      resealed("hudconv record 2\n1 a 2 b 100%25_p.gui.xml\n"), old));
  EXPECT_EQ(old[0].name, "100%_p.gui.xml");
  // A mark that stands for nothing is no record of this version; nor is one
  // sealed with the older hash.
  EXPECT_FALSE(parseRecord(
      resealed("hudconv record 2\n1 a 2 b 100%_p.gui.xml\n"), read));
  std::string olderSeal = text.substr(0, text.rfind("end "));
  EXPECT_FALSE(parseRecord(resealed(olderSeal), read));
  EXPECT_FALSE(parseRecord("<GuiScreen>\r\n", read));
}

// One entry a file, files told apart as the system tells them: names that
// differ in letter case alone are one file on Windows, two elsewhere.
TEST(RecordTest, KeepsTheLastEntryOfEachFile) {
  Record record;
  record.put({"map_p.gui.xml", secure(1, 1), secure(2, 2)});
  record.put({"pause_p.gui.xml", secure(3, 3), secure(4, 4)});
  record.put({"MAP_P.gui.xml", secure(5, 5), secure(6, 6)});
  record.put({"pause_p.gui.xml", secure(7, 7), secure(8, 8)});
  const RecordEntry* entry = record.find("map_p.gui.xml");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->written, kOnWindows ? secure(5, 5) : secure(1, 1));
  std::vector<RecordEntry> read;
  ASSERT_TRUE(parseRecord(record.text(), read));
  ASSERT_EQ(read.size(), kOnWindows ? 2u : 3u);
  EXPECT_EQ(read[1].name, "pause_p.gui.xml");
  EXPECT_EQ(read[1].written, secure(7, 7));
}

// A record that is there but cannot be read is not taken for none: the run
// says that it is ignored.
class RecordFileTest : public ScratchTest {};

TEST_F(RecordFileTest, OneThatCannotBeOpenedIsIgnored) {
  const std::string folder = utf8(root_);
  const fs::path path = root_ / kRecordName;
  EXPECT_EQ(Record::read(folder).state(), Record::State::kNone);
  writeBytes(path, recordText({{"map_p.gui.xml", secure(1, 1), secure(2, 2)}}));
  EXPECT_EQ(Record::read(folder).state(), Record::State::kRead);
  fs::rename(path, root_ / "elsewhere.txt");
  fs::create_directory(path);
  EXPECT_EQ(Record::read(folder).state(), Record::State::kIgnored);
  if (kOnWindows) return;
  fs::remove(path);
  fs::create_symlink("elsewhere.txt", path);
  EXPECT_EQ(Record::read(folder).state(), Record::State::kIgnored);
}

// A run holds the record it wrote from one batch to the next, but takes
// another run's record for its own never: what that one wrote is kept.
TEST_F(RecordFileTest, OneHeldIsReadAgainOnceAnotherRunWroteIt) {
  const std::string folder = utf8(root_);
  std::optional<Record> held = Record::read(folder);
  const auto update = [&](const char* name, std::optional<Record>* from) {
    RecordUpdate step;
    if (from) step.startFrom(*from);
    EXPECT_FALSE(step.begin(folder, {{name, secure(1, 1), secure(2, 2)}}));
    EXPECT_FALSE(step.finish());
  };
  // Another run makes the record, then replaces it.
  update("b", nullptr);
  update("a", &held);
  ASSERT_TRUE(held);
  update("x", nullptr);
  update("c", &held);
  Record record = Record::read(folder);
  for (const char* name : {"a", "b", "c", "x"})
    EXPECT_NE(record.find(name), nullptr) << name;
  EXPECT_EQ(held->entries().size(), 4u);
}

std::string numbered(const char* stem, int number) {
  std::string name = stem;
  name += std::to_string(number);
  return name;
}

// A record grows by additions in place, each sealed behind the one before:
// the last word on a file is its last entry or drop, and an addition that
// a crash cut short is not part of it.
TEST_F(RecordFileTest, GrowsInPlaceAndTakesOnlyWholeAdditions) {
  const std::string folder = utf8(root_);
  const fs::path path = root_ / kRecordName;
  const auto update = [&](const std::vector<RecordEntry>& entries,
                          const std::vector<std::string>& dropped = {}) {
    EXPECT_FALSE(updateRecord(folder, entries, dropped));
  };
  update(
      {{"a", secure(1, 1), secure(2, 2)}, {"b", secure(3, 3), secure(4, 4)}});
  const std::string whole = readBytes(path);
  FileVersion first;
  ASSERT_FALSE(readVersion(utf8(path), first));
  update({{"a", secure(5, 5), secure(6, 6)}}, {"b"});
  update({{"c", secure(7, 7), secure(8, 8)}});
  const std::string grown = readBytes(path);
  FileVersion now;
  ASSERT_FALSE(readVersion(utf8(path), now));
  EXPECT_TRUE(now.sameFile(first));
  ASSERT_EQ(grown.substr(0, whole.size()), whole);
  std::vector<RecordEntry> read;
  ASSERT_TRUE(parseRecord(grown, read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].name, "a");
  EXPECT_EQ(read[0].written, secure(5, 5));
  EXPECT_EQ(read[1].name, "c");
  // Cut short within an addition: the record as it was before it. Changed
  // anywhere before the last addition: not taken at all.
  const std::size_t second =
      grown.find('\n', grown.find("\nend ", whole.size()) + 1) + 1;
  for (std::size_t size = whole.size(); size < grown.size(); ++size) {
    ASSERT_TRUE(parseRecord(grown.substr(0, size), read)) << size;
    EXPECT_EQ(read.size(), size < second ? 2u : 1u) << size;
  }
  for (std::size_t at = 0; at < grown.size() - 1; ++at) {
    std::string changed = grown;
    changed[at] = changed[at] == 'x' ? 'y' : 'x';
    if (changed.find('\n', at) < grown.rfind('\n', grown.size() - 2)) {
      EXPECT_FALSE(parseRecord(changed, read)) << at;
    }
  }
  // A run that added to it takes up after a crash that cut one short.
  writeBytes(path, grown + "9 " + std::string(400, 'a'));
  update({{"d", secure(9, 9), secure(9, 9)}});
  const std::string mended = readBytes(path);
  ASSERT_TRUE(parseRecord(mended, read));
  EXPECT_EQ(read.size(), 3u);
  EXPECT_EQ(mended.find("aaaa"), std::string::npos);
  EXPECT_EQ(Record::read(folder).find("d") != nullptr, true);
}

// A record that another name also stands for is written anew, not added
// to: what the other name holds stays as it was. One that additions have
// grown past what it held is written whole again, and so stays small.
TEST_F(RecordFileTest, IsWrittenAnewWhereAddingWouldHarmOrGrowIt) {
  const std::string folder = utf8(root_);
  const fs::path path = root_ / kRecordName;
  ASSERT_FALSE(updateRecord(folder, {{"a", secure(1, 1), secure(2, 2)}}));
  if (!kOnWindows) {
    fs::create_hard_link(path, root_ / "other.txt");
    const std::string before = readBytes(root_ / "other.txt");
    ASSERT_FALSE(updateRecord(folder, {{"b", secure(3, 3), secure(4, 4)}}));
    EXPECT_EQ(readBytes(root_ / "other.txt"), before);
    EXPECT_NE(Record::read(folder).find("b"), nullptr);
  }
  std::uintmax_t largest = 0;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_FALSE(updateRecord(
        folder, {{numbered("x", i % 10), secure(i, 1), secure(i, 2)}}));
    largest = std::max(largest, fs::file_size(path));
  }
  // Ten entries or so, and at most the bytes that may be added.
  EXPECT_LT(largest, (std::uintmax_t{64} << 10) + 4096);
  Record record = Record::read(folder);
  ASSERT_NE(record.find("x3"), nullptr);
  EXPECT_EQ(record.find("x3")->written, secure(1993, 1));
}

// A run reads of a record of thousands of files the entries it wants; a
// name it did not expect has the record read whole.
TEST_F(RecordFileTest, KeepsTheEntriesWantedAndFindsTheOthersToo) {
  const std::string folder = utf8(root_);
  std::vector<RecordEntry> entries;
  entries.reserve(100);
  for (int i = 0; i < 100; ++i)
    entries.push_back({numbered("f", i), secure(i, 1), secure(i, 2)});
  ASSERT_FALSE(updateRecord(folder, entries));
  Record record =
      Record::read(folder, [](std::string_view name) { return name == "f7"; });
  EXPECT_EQ(record.entries().size(), 1u);
  ASSERT_NE(record.find("f7"), nullptr);
  EXPECT_EQ(record.find("none"), nullptr);
  EXPECT_EQ(record.entries().size(), 1u);
  ASSERT_NE(record.find("f42"), nullptr);
  EXPECT_EQ(record.find("f42")->written, secure(42, 1));
  EXPECT_EQ(record.entries().size(), 100u);
  // The entries asked for before are still told as asked for.
  const std::vector<std::string> unasked = record.notAskedFor();
  EXPECT_EQ(unasked.size(), 98u);
  EXPECT_EQ(std::count(unasked.begin(), unasked.end(), "f7"), 0);
}

// A converted layout: the LEFT values move, the rest stays.
const std::string kOriginal =
    "<GuiScreen>\r\n"
    "  <Property Label=\"TAG\" Value=\"LBL_Map\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"300\" />\r\n"
    "  <Property Label=\"TOP\" Value=\"40\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"900\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"1200\" />\r\n"
    "</GuiScreen>\r\n";
const std::string kConvertedLayout =
    "<GuiScreen>\r\n"
    "  <Property Label=\"TAG\" Value=\"LBL_Map\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"160\" />\r\n"
    "  <Property Label=\"TOP\" Value=\"40\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"560\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"760\" />\r\n"
    "</GuiScreen>\r\n";

// A layout whose conversion moves nothing.
const std::string kUnmoved =
    "<GuiScreen>\r\n"
    "  <Property Label=\"TOP\" Value=\"40\" />\r\n"
    "</GuiScreen>\r\n";

std::string replaced(std::string text, const std::string& from,
                     const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

std::string withLf(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

TEST(DriftTest, TellsATunedFileFromANewOriginal) {
  const auto value = [](const char* number) {
    return std::string("Value=\"") + number + "\"";
  };
  const struct {
    const char* what;
    std::string file;
    Drift drift;
    std::size_t changedValues;
    std::string original = kOriginal;
    std::string converted = kConvertedLayout;
  } cases[] = {
      {"a converted value tuned",
       replaced(kConvertedLayout, value("560"), value("565")), Drift::kTuned,
       1},
      {"a value the conversion keeps, tuned",
       replaced(kConvertedLayout, value("40"), value("44")), Drift::kTuned, 1},
      {"one value put back as it was",
       replaced(kConvertedLayout, value("160"), value("300")), Drift::kTuned,
       1},
      {"a value tuned below zero",
       replaced(kConvertedLayout, value("560"), value("-20")), Drift::kTuned,
       1},
      {"a layout with nothing to move, a value tuned",
       replaced(kUnmoved, value("40"), value("44")), Drift::kTuned, 1, kUnmoved,
       kUnmoved},
      {"LF line breaks, a value tuned",
       withLf(replaced(kConvertedLayout, value("760"), value("750"))),
       Drift::kTuned, 1},
      // A game update: the values unconverted, another line new.
      {"the original with a line changed",
       replaced(kOriginal, value("40"), value("48")), Drift::kNewOriginal, 0},
      {"the original with a control added",
       kOriginal + "  <Property Label=\"LEFT\" Value=\"50\" />\r\n",
       Drift::kNewOriginal, 0},
      {"another layout altogether",
       "<Other>\r\n  <A/>\r\n  <B/>\r\n</Other>\r\n", Drift::kNewOriginal, 0},
      // Edited in other ways: never taken for either.
      {"a line added to the converted file",
       kConvertedLayout + "<!-- moved by hand -->\r\n", Drift::kChanged, 0},
      {"a line removed from the converted file",
       replaced(kConvertedLayout,
                "  <Property Label=\"TOP\" Value=\"40\" />\r\n", ""),
       Drift::kChanged, 0},
      {"text added behind a value",
       replaced(kConvertedLayout, value("560") + " />",
                value("560") + " /><Property Label=\"TOP\" Value=\"5\" />"),
       Drift::kChanged, 0},
      // No value that hudconv wrote is left, whatever else became of it.
      {"half of it other lines",
       "<GuiScreen>\r\n  <Property Label=\"TAG\" Value=\"LBL_Map\" />\r\n"
       "  <Hand made=\"1\" />\r\n  <Hand made=\"2\" />\r\n",
       Drift::kNewOriginal, 0},
      {"the original with new values and a control added",
       replaced(replaced(kOriginal, value("300"), value("310")), "</GuiScreen>",
                "  <Property Label=\"TAG\" Value=\"LBL_New\" />\r\n"
                "  <Property Label=\"LEFT\" Value=\"160\" />\r\n"
                "</GuiScreen>"),
       Drift::kNewOriginal, 0},
      // A value hudconv wrote still stands: never a new original.
      {"the original with a control added, a value still converted",
       replaced(kOriginal + "  <Property Label=\"LEFT\" Value=\"50\" />\r\n",
                value("300"), value("160")),
       Drift::kChanged, 0},
      {"two of three values put back, the third still converted",
       replaced(replaced(kConvertedLayout, value("160"), value("300")),
                value("560"), value("900")),
       Drift::kTuned, 2},
      {"a line of the converted file rewritten",
       replaced(kConvertedLayout, "LBL_Map", "LBL_Other"), Drift::kChanged, 0},
      {"every moved value tuned",
       replaced(replaced(replaced(kConvertedLayout, value("160"), value("1")),
                         value("560"), value("2")),
                value("760"), value("3")),
       Drift::kTuned, 3},
      {"as many values converted as not",
       replaced(replaced(kConvertedLayout, value("160"), value("300")),
                value("560"), value("555")),
       Drift::kTuned, 2},
  };
  for (const auto& c : cases) {
    const DriftReport report = judgeDrift(c.file, c.original, c.converted);
    EXPECT_EQ(report.drift, c.drift) << c.what;
    EXPECT_EQ(report.changedValues, c.changedValues) << c.what;
  }
}

}  // namespace
