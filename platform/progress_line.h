#pragma once

#include <string>
#include <string_view>

namespace quillon {

// The progress of long work on standard error, one line redrawn in place:
// "program: 120 of 250 days read". Only on a terminal and when not asked to be
// quiet, so that a log or a pipe gets none of it.
class ProgressLine {
  public:
    ProgressLine(std::string_view program, bool quiet);
    ~ProgressLine() { End(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool On() const { return on_; }
    // Redraws the line with `text` after the program's name.
    void Show(std::string_view text);
    // Ends the line, so that what follows starts on its own.
    void End();

  private:
    std::string program_;
    bool on_;
    bool open_ = false;
};

}  // namespace quillon
