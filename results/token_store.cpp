#include "results/token_store.h"

#include "platform/files.h"

namespace quillon {

bool TokenCanBeKept(const std::string& token) {
    if (token.empty() || token.size() > kMaxTokenBytes) return false;
    for (const char c : token) {
        if (c <= ' ' || c > '~') return false;
    }
    return true;
}

std::optional<std::string> LoadToken(const WorkingFileNames& files) {
    std::optional<std::string> text = ReadWholeFile(files.TokenFile);
    if (!text) return std::nullopt;
    // One line; its end (CR LF or LF) is not part of the token.
    std::string token = text->substr(0, text->find_first_of("\r\n"));
    if (!TokenCanBeKept(token)) return std::nullopt;
    return token;
}

bool SaveToken(const WorkingFileNames& files, const std::string& token) {
    return ReplaceFileAtomically(files.TokenFile, token + "\r\n", true);
}

}  // namespace quillon
