#pragma once
// Where a program keeps its working files: the current directory by default,
// a directory named on the command line, or the per-user data directory that
// the desktop entry asks for.

#include <string>

namespace quillon {

// The options every program that works in a working directory accepts.
inline constexpr const char* kWorkdirOption = "--workdir";
inline constexpr const char* kUserWorkdirOption = "--user-workdir";

// The per-user data directory: $XDG_DATA_HOME/quillon, or
// $HOME/.local/share/quillon when XDG_DATA_HOME is unset, empty or not an
// absolute path (such a value is to be ignored). Empty when neither gives an
// absolute directory. Either argument may be null (unset).
std::string UserDataDirectory(const char* xdgDataHome, const char* home);

// What the command line chose.
struct WorkdirChoice {
    std::string Directory;  // empty: stay in the current directory
    std::string Error;      // a bad use of the options, said to the user
};

// Takes `--workdir DIR`, `--workdir=DIR` and `--user-workdir` out of argv
// (argc shrinks; the other arguments keep their order). The last one given
// wins. The environment is read for --user-workdir.
WorkdirChoice TakeWorkdirOptions(int& argc, char** argv);

// Creates `directory` and its missing parents (new ones readable by the user
// alone, as the data of one user) and makes it the current directory. Empty
// on success, otherwise why it failed, in words: "cannot create DIR: reason".
std::string EnterWorkingDirectory(const std::string& directory);

// The same without entering it: for programs that write into a directory
// they are given but keep the current one (their file arguments are relative
// to it).
std::string MakeWorkingDirectory(const std::string& directory);

}  // namespace quillon
