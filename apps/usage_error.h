#pragma once
// What a command-line program prints on standard error for a usage error:
// the problem, the usage lines that open its --help (up to the first empty
// line) and one hint, so that the problem stays in view instead of scrolling
// away above the whole help.

#include <cstdio>
#include <string>
#include <string_view>

namespace quillon {

// "quillon-scan: unknown argument '--bogus'\n"
// "Usage: quillon-scan [OPTION]...\n"
// "Try 'quillon-scan --help' for more.\n"
// No problem line when `problem` is empty.
inline std::string UsageErrorText(std::string_view program, std::string_view problem,
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

inline void PrintUsageError(std::string_view program, std::string_view problem,
                            std::string_view help) {
    std::fputs(UsageErrorText(program, problem, help).c_str(), stderr);
}

}  // namespace quillon
