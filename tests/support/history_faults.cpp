// Fault points of the disk syncs and of History.db for the test build of
// quillon-scan: a file layer under SQLite forwards every call to the
// system's and, when told by the environment, kills the process at the Nth
// sync of a history file or of the pass output, counted together
// (QUILLON_TEST_KILL_AT_SYNC=N), or fails every write of History.db from the
// Nth on as a full disk does (QUILLON_TEST_HISTORY_FULL_AT_WRITE=N).

#include "tests/support/history_faults.h"

#include <sqlite3.h>

#include <csignal>
#include <cstdlib>

namespace quillon::testing {

namespace {

sqlite3_vfs* base = nullptr;
sqlite3_vfs faulty;
sqlite3_io_methods methods;
long killAtSync = 0;
long fullAtWrite = 0;
long syncs = 0;
long writes = 0;

// The layer's file: its own methods, then the system's file behind it.
struct FaultFile {
    sqlite3_file file;
    sqlite3_file* real;
};

sqlite3_file* Real(sqlite3_file* file) {
    return reinterpret_cast<FaultFile*>(file)->real;
}

int Close(sqlite3_file* f) {
    return Real(f)->pMethods->xClose(Real(f));
}
int Read(sqlite3_file* f, void* data, int n, sqlite3_int64 at) {
    return Real(f)->pMethods->xRead(Real(f), data, n, at);
}
int Write(sqlite3_file* f, const void* data, int n, sqlite3_int64 at) {
    if (fullAtWrite > 0 && ++writes >= fullAtWrite) return SQLITE_FULL;
    return Real(f)->pMethods->xWrite(Real(f), data, n, at);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
    CountSync();
    return Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
    return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int level) {
    return Real(f)->pMethods->xLock(Real(f), level);
}
int Unlock(sqlite3_file* f, int level) {
    return Real(f)->pMethods->xUnlock(Real(f), level);
}
int CheckReservedLock(sqlite3_file* f, int* out) {
    return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
    return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) {
    return Real(f)->pMethods->xSectorSize(Real(f));
}
int DeviceCharacteristics(sqlite3_file* f) {
    return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) {
    Real(f)->pMethods->xShmBarrier(Real(f));
}
int ShmUnmap(sqlite3_file* f, int deleteFlag) {
    return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
}
int Fetch(sqlite3_file* f, sqlite3_int64 at, int n, void** out) {
    return Real(f)->pMethods->xFetch(Real(f), at, n, out);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 at, void* p) {
    return Real(f)->pMethods->xUnfetch(Real(f), at, p);
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    auto* own = reinterpret_cast<FaultFile*>(file);
    own->real = reinterpret_cast<sqlite3_file*>(own + 1);
    own->file.pMethods = nullptr;
    const int rc = base->xOpen(base, name, own->real, flags, outFlags);
    if (own->real->pMethods != nullptr) {
        methods.iVersion = own->real->pMethods->iVersion;
        own->file.pMethods = &methods;
    }
    return rc;
}

long Setting(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::atol(value) : 0;
}

}  // namespace

void CountSync() {
    if (killAtSync > 0 && ++syncs == killAtSync) std::raise(SIGKILL);
}

void InstallHistoryFaults() {
    killAtSync = Setting("QUILLON_TEST_KILL_AT_SYNC");
    fullAtWrite = Setting("QUILLON_TEST_HISTORY_FULL_AT_WRITE");
    if (killAtSync <= 0 && fullAtWrite <= 0) return;
    base = sqlite3_vfs_find(nullptr);
    if (base == nullptr) return;
    methods = {3,
               Close,
               Read,
               Write,
               Truncate,
               Sync,
               FileSize,
               Lock,
               Unlock,
               CheckReservedLock,
               FileControl,
               SectorSize,
               DeviceCharacteristics,
               ShmMap,
               ShmLock,
               ShmBarrier,
               ShmUnmap,
               Fetch,
               Unfetch};
    faulty = *base;
    faulty.zName = "quillon-faults";
    faulty.szOsFile = static_cast<int>(sizeof(FaultFile)) + base->szOsFile;
    faulty.xOpen = Open;
    sqlite3_vfs_register(&faulty, 1);
}

}  // namespace quillon::testing
