#pragma once
// What every program's command line shares: --help and --version, the working
// directory options, a usage error that keeps the problem in view, and
// messages on standard error under the program's name with the status they
// end with. The progress line of long work is platform/progress_line.h.
//
//   CommandLine line("quillon-thing", argc, argv, kHelp);
//   line.TakeWorkdir();
//   while (line.Next()) {
//       if (line.Is("--out")) {
//           const std::optional<std::string> value = line.Value();
//           if (!value) return line.MissingValue();
//           ...
//       } else {
//           return line.Usage("unknown option '" + std::string(line.Arg()) + "'");
//       }
//   }
//   if (const std::optional<int> status = line.End()) return *status;

#include <optional>
#include <string>
#include <string_view>

#include "platform/civil_day.h"
#include "platform/exit_status.h"

namespace quillon {

// "quillon-scan: unknown option '--bogus'\n"
// "Usage: quillon-scan [OPTION]...\n"
// "Try 'quillon-scan --help' for more.\n"
// The usage lines are those that open `help`, up to its first empty line; no
// problem line when `problem` is empty.
std::string UsageErrorText(std::string_view program, std::string_view problem,
                           std::string_view help);

// A date a command line gives: exactly YYYY-MM-DD, so that no day and month
// are swapped, of a day that exists from 1900 on; nothing otherwise.
std::optional<CivilDay> DateArgument(std::string_view text);

// The lines of --help for --help and --version, their texts starting at
// `column`.
std::string HelpAndVersionLines(int column);

class CommandLine {
  public:
    // `help` is the text of --help.
    CommandLine(std::string_view program, int argc, char** argv, std::string help);

    // Takes --workdir DIR, --workdir=DIR and --user-workdir out of the
    // arguments, wherever they stand; the last one wins. Call it first.
    void TakeWorkdir();
    // The directory they named; empty for the current one.
    const std::string& Workdir() const { return workdir_; }

    // Steps to the next argument. False at the end, and at --help, -h or
    // --version, which are answered here (End() then says 0).
    bool Next();
    std::string_view Arg() const { return arg_; }
    bool Is(std::string_view option) const { return arg_ == option; }
    // Takes the argument after the current option as its value; nothing when
    // none is left.
    std::optional<std::string> Value();
    // The argument after the current one, left in place; nothing at the end.
    std::optional<std::string_view> Peek() const;
    // After the arguments: 0 when --help or --version was answered, 64 for a
    // bad use of the working directory options (said), else nothing: go on.
    std::optional<int> End() const;

    // A usage error said; the status 64.
    int Usage(std::string_view problem) const;
    // "OPTION needs a value" as a usage error, for the current option.
    int MissingValue() const;
    // "program: problem" on standard error; `status`.
    int Fail(std::string_view problem, int status = kExitFailed) const;
    // "program: text" on standard error.
    void Say(std::string_view text) const;
    const std::string& Program() const { return program_; }

  private:
    std::string program_;
    std::string help_;
    int argc_;
    char** argv_;
    int next_ = 1;
    std::string_view arg_;
    std::optional<int> answered_;
    std::string workdir_;
    std::string workdirError_;
};

}  // namespace quillon
