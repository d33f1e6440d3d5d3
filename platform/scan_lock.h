#pragma once
// One scan per working directory. The scan window and quillon-scan hold an
// exclusive lock on a file of the working directory, Scan.lock, from before
// they touch a working file until the scan window closes or the run ends.
// The lock is the kernel's (flock): it goes with the process, so a scan that
// is killed never leaves the directory locked. The file itself stays; it
// names the program and process that hold it, for the refusal of the next
// comer.

#include <string>
#include <string_view>

namespace quillon {

inline constexpr const char* kScanLockFile = "Scan.lock";

// Who holds a working directory, as Scan.lock names it.
struct ScanLockHolder {
    std::string Program;  // empty when the file names no one
    long ProcessId = 0;

    // "quillon-scan (process 4711)", or "another program" when unknown.
    std::string Text() const;
};

// The holder a lock file's text names: "PROGRAM PID" and a line end. Any
// other text names no one.
ScanLockHolder ParseScanLockHolder(std::string_view text);

class ScanLock {
  public:
    enum class Outcome {
        Taken,   // the directory is this process's until Release
        Busy,    // another process holds it: see Holder()
        Failed,  // the lock file cannot be opened or locked: see Error()
    };

    ScanLock() = default;
    ScanLock(const ScanLock&) = delete;
    ScanLock& operator=(const ScanLock&) = delete;
    ~ScanLock() { Release(); }

    // Takes the lock of `directory` for `program` (this process's name, as
    // the refusal of the next comer gives it). With `wait` it waits for the
    // holder to finish instead of answering Busy; `waiting` is called once
    // before the wait begins, with the holder. Taking a lock this object
    // already holds is Taken at once.
    Outcome Take(const std::string& directory, const std::string& program, bool wait = false,
                 void (*waiting)(const ScanLockHolder&) = nullptr);
    // Gives the directory free; nothing when it is not held.
    void Release();

    bool Held() const { return fd_ >= 0; }
    // After Busy: who holds the directory.
    const ScanLockHolder& Holder() const { return holder_; }
    // After Failed: why, in words ("cannot lock DIR/Scan.lock: reason").
    const std::string& Error() const { return error_; }

  private:
    int fd_ = -1;
    ScanLockHolder holder_;
    std::string error_;
};

// The refusal said to the second comer: "The working directory DIR is in use
// by quillon-scan (process 4711): one scan at a time works in a directory."
std::string ScanLockRefusal(const std::string& directory, const ScanLockHolder& holder);

}  // namespace quillon
