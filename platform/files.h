#pragma once
// File services of the working directory. Every operation is quiet: a failure
// is reported through the result, never thrown.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace quillon {

// Opens a file of a fixed name in the working directory without following a
// symbolic link in its place: a link planted there would send the write to
// whatever file it names. O_NOFOLLOW is added to `flags`. The descriptor, or
// -1 with errno set (ELOOP for a link).
int OpenWorkingFile(const std::string& name, int flags, mode_t mode = 0666);

// The system's words for `error`, an open of `name` failed with; a symbolic
// link that OpenWorkingFile refused is said as such, with what to do.
std::string OpenErrorText(const std::string& name, int error);

// Size in bytes of the named file (or directory entry), or -1 when nothing by
// that name exists.
std::int64_t QueryFileSize(const std::string& name);

bool FileExists(const std::string& name);

// Deletes a file; a missing file is not an error. Returns true when the file
// is gone afterwards.
bool DeleteFileQuietly(const std::string& name);

// Renames a file, replacing nothing: when `from` is missing or `to` exists the
// rename fails and both stay as they were.
bool RenameFileQuietly(const std::string& from, const std::string& to);

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& name);
// At most the first `limit` bytes of a file, or nothing when it cannot be read.
std::optional<std::string> ReadFileStart(const std::string& name, std::size_t limit);

// Replaces `name` with `content` atomically: the bytes go to a temporary file
// of this call's own in the same directory (`name` + ".new-" + six random
// letters and digits), are flushed to disk, and the temporary file is then
// renamed over `name`. With `ownerOnly` the file is created readable and
// writable by its owner only. On any failure the temporary file is removed,
// the old file is left untouched and false is returned.
bool ReplaceFileAtomically(const std::string& name, const std::string& content, bool ownerOnly);

// The same for a file written piece by piece: the pieces go to a temporary
// file of its own beside `name`, and Commit flushes it, renames it over
// `name` and flushes the directory. Until then `name` is untouched; a
// replacement dropped without a Commit removes its temporary file. Error()
// is the errno value of the first failure (0 while there is none).
class FileReplacement {
  public:
    explicit FileReplacement(const std::string& name, bool ownerOnly = false);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // False (the replacement failed) when the temporary file could not be
    // made.
    bool IsOpen() const { return fd_ >= 0; }
    bool Write(std::string_view bytes);
    // What `write` writes through a stream of its own on the temporary file;
    // false when it answers false or the stream fails.
    bool WriteWith(const std::function<bool(std::FILE*)>& write);
    // The temporary file flushed to the disk; Commit does it too. Several
    // files replaced together are all synced before the first is renamed.
    bool Sync();
    bool Commit();
    int Error() const { return error_; }

  private:
    bool Fail();
    std::string name_;
    std::string temp_;
    int fd_ = -1;
    int error_ = 0;
    bool synced_ = false;
};

// Removes the temporary files that replacements of `name` left behind when
// they were killed (also the fixed name `name` + ".new" of earlier builds),
// sparing those whose modification time is less than `minimumAge` from now,
// as they may belong to a replacement in progress. Returns how many went.
int RemoveLeftoverTemporaries(const std::string& name, std::chrono::seconds minimumAge);

// Makes the directory's entries (files created, renamed or removed in it)
// durable; false when that cannot be done.
bool SyncDirectory(const std::string& directory);

// The process's current directory, without a trailing "/".
std::string CurrentDirectory();

}  // namespace quillon
