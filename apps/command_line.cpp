#include "apps/command_line.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/workdir.h"

namespace quillon {

std::string UsageErrorText(std::string_view program, std::string_view problem,
                           std::string_view help) {
    std::string text;
    if (!problem.empty()) {
        text.append(program).append(": ").append(problem).append("\n");
    }
    const std::size_t end = help.find("\n\n");
    text.append(help.substr(0, end == std::string_view::npos ? help.size() : end));
    if (!text.empty() && text.back() != '\n') text += '\n';
    text.append("Try '").append(program).append(" --help' for more.\n");
    return text;
}

std::optional<CivilDay> DateArgument(std::string_view text) {
    const std::optional<CivilDay> day = ReadIsoDigits(text);
    if (!day || day->Year < 1900 || !day->Valid()) return std::nullopt;
    return day;
}

std::string HelpAndVersionLines(int column) {
    const auto line = [column](std::string_view option, std::string_view text) {
        std::string out = "  ";
        out.append(option);
        out.append(
            static_cast<std::size_t>(std::max(1, column - 2 - static_cast<int>(option.size()))),
            ' ');
        return out.append(text).append("\n");
    };
    return line("--help", "show this text") +
           line("--version", "show the program's name and version");
}

CommandLine::CommandLine(std::string_view program, int argc, char** argv, std::string help)
    : program_(program), help_(std::move(help)), argc_(argc), argv_(argv) {}

void CommandLine::TakeWorkdir() {
    WorkdirChoice choice = TakeWorkdirOptions(argc_, argv_);
    workdir_ = std::move(choice.Directory);
    workdirError_ = std::move(choice.Error);
}

bool CommandLine::Next() {
    if (answered_ || next_ >= argc_) return false;
    arg_ = argv_[next_++];
    if (arg_ == "--help" || arg_ == "-h") {
        std::fwrite(help_.data(), 1, help_.size(), stdout);
        answered_ = kExitDone;
        return false;
    }
    if (arg_ == "--version") {
        std::printf("%s %s\n", program_.c_str(), QUILLON_VERSION);
        answered_ = kExitDone;
        return false;
    }
    return true;
}

std::optional<std::string> CommandLine::Value() {
    if (next_ >= argc_) return std::nullopt;
    return std::string(argv_[next_++]);
}

std::optional<std::string_view> CommandLine::Peek() const {
    if (next_ >= argc_) return std::nullopt;
    return std::string_view(argv_[next_]);
}

std::optional<int> CommandLine::End() const {
    if (answered_) return answered_;
    if (!workdirError_.empty()) return Usage(workdirError_);
    return std::nullopt;
}

int CommandLine::Usage(std::string_view problem) const {
    std::fputs(UsageErrorText(program_, problem, help_).c_str(), stderr);
    return kExitUsage;
}

int CommandLine::MissingValue() const {
    return Usage(std::string(arg_) + " needs a value");
}

int CommandLine::Fail(std::string_view problem, int status) const {
    Say(problem);
    return status;
}

void CommandLine::Say(std::string_view text) const {
    std::fprintf(stderr, "%s: %.*s\n", program_.c_str(), static_cast<int>(text.size()),
                 text.data());
}

}  // namespace quillon
