#pragma once

#include <cstdint>
#include <string>

// A layout of at least `bytes` bytes with CR LF line ends, written for the
// benchmarks: control blocks of the kinds a HUD file holds (TAG, LEFT, TOP,
// WIDTH, HEIGHT), every seventh with a width of 800, and under the name
// "pwrlvlup_p.gui.xml" every sixth a control with exceptions (LB_POWERS).
inline std::string syntheticLayout(std::uint64_t bytes) {
  static const char* const kTags[] = {"LB_POWERS", "LBL_TITLE",   "BTN_OK",
                                      "PNL_Frame", "LBL_MESSAGE", "SCROLLBAR"};
  std::string text =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<GuiScreen>\r\n";
  text.reserve(bytes + 4096);
  std::uint32_t random = 12345;
  for (std::uint64_t control = 0; text.size() < bytes; ++control) {
    random = random * 1103515245u + 12345u;
    const unsigned left = (random >> 8) % 2400;
    const unsigned width = control % 7 == 0 ? 800 : 40 + (random >> 4) % 1800;
    // Appended piece by piece: GCC 12 warns, wrongly, of an overlap in
    // "literal" + std::string in C++20.
    text +=
        "  <Control Type=\"TGuiLabel\">\r\n"
        "    <Property Label=\"TAG\" Value=\"";
    text += kTags[control % 6];
    text += '_';
    text += std::to_string(control);
    text += "\" />\r\n    <Property Label=\"LEFT\" Value=\"";
    text += std::to_string(left);
    text += "\" />\r\n    <Property Label=\"TOP\" Value=\"";
    text += std::to_string(random % 600);
    text += "\" />\r\n    <Property Label=\"WIDTH\" Value=\"";
    text += std::to_string(width);
    text +=
        "\" />\r\n"
        "    <Property Label=\"HEIGHT\" Value=\"32\" />\r\n"
        "  </Control>\r\n";
  }
  return text + "</GuiScreen>\r\n";
}
