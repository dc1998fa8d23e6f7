#pragma once

#include <string>
#include <vector>

// What a player reads: the report on standard output, each line there
// before the work it announces starts, and failures on standard error, each
// on a line of its own behind "hudconv: error: ".
void say(const std::string& line);
void sayError(const std::string& message);
// A warning on standard error, behind "hudconv: warning: ".
void sayWarning(const std::string& message);

// Lines said while one of these is holding wait in it, in order, until it
// tells them: the files converted together are each told whole, in turn,
// once they are on disk.
class HeldLines {
 public:
  HeldLines() = default;
  ~HeldLines() { tell(); }
  HeldLines(const HeldLines&) = delete;
  HeldLines& operator=(const HeldLines&) = delete;

  // From now until stop(), what is said waits here.
  void hold();
  void stop();
  // Writes out, and forgets, what waits.
  void tell();

  struct Line {
    bool toErrors;
    std::string text;
  };

 private:
  std::vector<Line> lines_;
  bool holding_ = false;
};
