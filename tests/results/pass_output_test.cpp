#include "results/pass_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const std::string kHeader = std::string(kAscQuoteHeader) + "\r\n";

class PassOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty()) << "no temporary directory";
        names_ = WorkingFileNames::In(dir_.Path());
        // Every symbol committed at once, as a second apart.
        files_.CommitInterval = {};
    }
    // The output files are closed before the directory goes.
    void TearDown() override { files_.CloseOutputFiles(); }

    static void Write(const std::string& name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }
    // The content of a file, or "<missing>".
    static std::string Read(const std::string& name) {
        return ReadWholeFile(name).value_or("<missing>");
    }

    // Pending texts that name their file, so a mix-up shows.
    static PendingOutput OneSymbol(const std::string& tag) {
        PendingOutput p;
        p.PendingGoodSym = "good " + tag + "\r\n";
        p.PendingBadSym = "bad " + tag + "\r\n";
        p.PendingUpSym = "up " + tag + "\r\n";
        p.PendingDownSym = "down " + tag + "\r\n";
        p.PendingQuote = "quote " + tag + "\r\n";
        p.PendingAscQuote = "asc " + tag + "\r\n";
        p.PendingSavedSym = "saved " + tag + "\r\n";
        p.PendingResults = "results " + tag + "\r\n\f\r\n";
        p.PendingProgress = "1 " + tag;
        return p;
    }

    TempDir dir_;
    WorkingFileNames names_;
    PassOutputFiles files_;
};

TEST_F(PassOutput, ServerModeCreatesFilesAndHeaderOnce) {
    PendingOutput p = OneSymbol("A");
    files_.FlushPendingOutput(p, names_, false);
    EXPECT_TRUE(files_.IsOpen());
    EXPECT_TRUE(p.Empty());
    p = OneSymbol("B");
    files_.FlushPendingOutput(p, names_, false);
    files_.CloseOutputFiles();
    EXPECT_FALSE(files_.IsOpen());

    // Appended after closing: no second header.
    p = OneSymbol("C");
    files_.FlushPendingOutput(p, names_, false);
    files_.CloseOutputFiles();

    EXPECT_EQ(Read(names_.GoodSymFile), "good A\r\ngood B\r\ngood C\r\n");
    EXPECT_EQ(Read(names_.BadSymFile), "bad A\r\nbad B\r\nbad C\r\n");
    EXPECT_EQ(Read(names_.UpSymFile), "up A\r\nup B\r\nup C\r\n");
    EXPECT_EQ(Read(names_.DownSymFile), "down A\r\ndown B\r\ndown C\r\n");
    EXPECT_EQ(Read(names_.QuoteFile), "quote A\r\nquote B\r\nquote C\r\n");
    EXPECT_EQ(Read(names_.AscQuoteFile), kHeader + "asc A\r\nasc B\r\nasc C\r\n");
    EXPECT_EQ(Read(names_.SavedSymFile), "saved A\r\nsaved B\r\nsaved C\r\n");
    EXPECT_EQ(Read(names_.ResultsFile),
              "results A\r\n\f\r\nresults B\r\n\f\r\nresults C\r\n\f\r\n");
    EXPECT_EQ(Read(names_.ProgressFile), "1 C");
}

TEST_F(PassOutput, OpeningKeepsTheResumePointAndAppendsWithoutHeader) {
    Write(names_.AscQuoteFile, "old\r\n");
    Write(names_.ResultsFile, "old\r\n");
    Write(names_.ProgressFile, "9 99");
    PendingOutput p;
    p.PendingAscQuote = "new\r\n";
    EXPECT_FALSE(files_.FlushPendingOutput(p, names_, false));
    // A symbol without a resume point of its own leaves the last one.
    EXPECT_EQ(Read(names_.ProgressFile), "9 99");
    files_.CloseOutputFiles();
    EXPECT_EQ(Read(names_.AscQuoteFile), "old\r\nnew\r\n");
    EXPECT_EQ(Read(names_.ResultsFile), "old\r\n");
}

TEST_F(PassOutput, NothingPendingOpensNothing) {
    PendingOutput none;
    EXPECT_FALSE(files_.FlushPendingOutput(none, names_, true));
    EXPECT_FALSE(files_.IsOpen());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 0);
}

TEST_F(PassOutput, LocalModeLeavesTheArchiveAlone) {
    PendingOutput p;
    p.PendingProgress = "0 1";
    files_.FlushPendingOutput(p, names_, true);
    files_.CloseOutputFiles();
    EXPECT_EQ(Read(names_.GoodSymFile), "");
    EXPECT_EQ(Read(names_.BadSymFile), "");
    EXPECT_EQ(Read(names_.ResultsFile), "");
    EXPECT_FALSE(FileExists(names_.QuoteFile));
    EXPECT_FALSE(FileExists(names_.AscQuoteFile));
}

TEST_F(PassOutput, ProgressHoldsOnlyTheLatestResumePoint) {
    for (const char* point : {"3 7", "12 103", "4 8"}) {
        PendingOutput p;
        p.PendingProgress = point;
        files_.FlushPendingOutput(p, names_, true);
        EXPECT_EQ(Read(names_.ProgressFile), point);
        EXPECT_TRUE(p.PendingProgress.empty());
    }
    // Nothing pending: the file keeps the last point.
    PendingOutput none;
    files_.FlushPendingOutput(none, names_, true);
    EXPECT_EQ(Read(names_.ProgressFile), "4 8");
}

TEST_F(PassOutput, EndOfPassLeavesAPointThatStartsTheNextPass) {
    PendingOutput p;
    p.PendingProgress = "5 120";
    files_.FlushPendingOutput(p, names_, true);
    EXPECT_FALSE(files_.EndPass(names_, 5));
    EXPECT_FALSE(files_.IsOpen());
    EXPECT_EQ(Read(names_.ProgressFile), "5 0");
}

// A finished pass whose resume point reads as the one it started from (one
// symbol, none saved: "0 0" at both ends) keeps its output when the scan is
// opened again.
TEST_F(PassOutput, AFinishedPassKeepsItsOutputWhenOpenedAgain) {
    files_.StartPass();
    PendingOutput p = OneSymbol("A");
    p.PendingProgress = "0 1";
    ASSERT_FALSE(files_.FlushPendingOutput(p, names_, false));
    ASSERT_FALSE(files_.EndPass(names_, 0));
    ASSERT_EQ(Read(names_.ProgressFile), "0 0");
    files_.Recover(names_);
    EXPECT_EQ(Read(names_.ResultsFile), "results A\r\n\f\r\n");
    EXPECT_EQ(Read(names_.QuoteFile), "quote A\r\n");
}

// Points written within the commit interval wait for the next commit: the
// files hold the symbols at once, the journal and Progress.--- only once the
// files are on the disk.
TEST_F(PassOutput, ResumePointsMoveOnInGroupCommits) {
    files_.CommitInterval = std::chrono::hours(1);
    Write(names_.ProgressFile, "0 0");
    for (const char* tag : {"1", "2"}) {
        PendingOutput p = OneSymbol(tag);
        ASSERT_FALSE(files_.FlushPendingOutput(p, names_, true));
    }
    EXPECT_EQ(Read(names_.ResultsFile), "results 1\r\n\f\r\nresults 2\r\n\f\r\n");
    EXPECT_EQ(Read(names_.ProgressFile), "0 0");
    std::optional<JournalRecord> record =
        RecordForProgress(ParseJournal(Read(JournalFileName(names_))), "0 0");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Lengths[Results], 0);

    ASSERT_FALSE(files_.Commit());
    EXPECT_EQ(Read(names_.ProgressFile), "1 2");
    record = RecordForProgress(ParseJournal(Read(JournalFileName(names_))), "1 2");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Lengths[Results], 28);
    EXPECT_EQ(record->ProgressText, "1 2");

    // Closing commits too.
    PendingOutput p = OneSymbol("3");
    ASSERT_FALSE(files_.FlushPendingOutput(p, names_, true));
    files_.CloseOutputFiles();
    EXPECT_EQ(Read(names_.ProgressFile), "1 3");
}

// A pass begun again after its resume point was removed (another symbol
// file chosen), whose first write fails at the rotation: the records of the
// earlier pass are gone with the new pass's start, and never cut its files.
TEST_F(PassOutput, AnEarlierPassRecordNeverCutsTheFiles) {
    files_.StartPass();
    PendingOutput a = OneSymbol("A");
    a.PendingProgress = "0 1";
    ASSERT_FALSE(files_.FlushPendingOutput(a, names_, false));
    files_.CloseOutputFiles();
    ASSERT_TRUE(DeleteFileQuietly(names_.ProgressFile));

    files_.Recover(names_);
    files_.StartPass();
    files_.BeforeWrite = [&](const std::string& name) {
        return name == names_.ResultsFile ? EXDEV : 0;
    };
    PendingOutput b = OneSymbol("B");
    b.PendingProgress = "0 1";
    ASSERT_TRUE(files_.FlushPendingOutput(b, names_, false));
    EXPECT_EQ(Read(names_.ProgressFile), "0 0");
    files_.Recover(names_);  // the pause opens the scan again
    EXPECT_EQ(Read(names_.ResultsFile), "results A\r\n\f\r\n");
    EXPECT_EQ(Read(names_.SavedSymFile), "saved A\r\n");

    files_.BeforeWrite = nullptr;
    files_.StartPass();
    b = OneSymbol("B");
    b.PendingProgress = "0 1";
    ASSERT_FALSE(files_.FlushPendingOutput(b, names_, false));
    EXPECT_EQ(Read(names_.ResultsBackup), "results A\r\n\f\r\n");
    EXPECT_EQ(Read(names_.ResultsFile), "results B\r\n\f\r\n");
}

TEST_F(PassOutput, AFileThatCannotBeOpenedIsReported) {
    fs::create_directory(names_.ResultsFile);
    Write(names_.ProgressFile, "0 3");
    PendingOutput p = OneSymbol("A");
    std::optional<OutputFailure> failure = files_.FlushPendingOutput(p, names_, false);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->File, names_.ResultsFile);
    EXPECT_EQ(failure->Message(), "Cannot write " + names_.ResultsFile + ": Is a directory");
    EXPECT_TRUE(p.Empty());
    EXPECT_FALSE(files_.IsOpen());
    EXPECT_EQ(Read(names_.ProgressFile), "0 3");
    EXPECT_EQ(Read(names_.SavedSymFile), "");
}

// A commit puts each output file on the disk before the journal record that
// counts it, and the journal before the resume point it names: a power cut
// never leaves a record ahead of the data, nor a point ahead of its record.
TEST_F(PassOutput, ACommitSyncsTheFilesBeforeTheRecordAndTheRecordBeforeThePoint) {
    struct Case {
        const char* what;
        bool localMode;
        std::vector<std::string> points;
    };
    const Case cases[] = {
        {"server pass", false, {"1 1", "2 2"}},
        {"local pass", true, {"1 1", "2 2"}},
        {"a shorter point renamed into place", false, {"12 103", "4 8"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const WorkingFileNames names = WorkingFileNames::In(dir.Path());
        const std::string journal = JournalFileName(names);
        PassOutputFiles files;
        files.CommitInterval = {};
        std::set<std::string> unsynced;  // output files written since their sync
        bool journalUnsynced = false;
        int records = 0, points = 0;
        files.BeforeWrite = [&](const std::string& name) {
            if (name == journal) {
                EXPECT_EQ(unsynced, std::set<std::string>{}) << "a record before its data";
                journalUnsynced = true;
                ++records;
            } else if (name == names.ProgressFile) {
                EXPECT_FALSE(journalUnsynced) << "a resume point before its record";
                ++points;
            } else {
                unsynced.insert(name);
            }
            return 0;
        };
        files.SyncData = [&](const std::string& name, int fd) {
            unsynced.erase(name);
            if (name == journal) journalUnsynced = false;
            return ::fdatasync(fd);
        };
        for (const std::string& point : c.points) {
            PendingOutput p = OneSymbol(point);
            p.PendingProgress = point;
            ASSERT_FALSE(files.FlushPendingOutput(p, names, c.localMode));
        }
        files.CloseOutputFiles();
        // The opening's record, then one per symbol with its point.
        EXPECT_EQ(records, 1 + static_cast<int>(c.points.size()));
        EXPECT_EQ(points, static_cast<int>(c.points.size()));
        EXPECT_EQ(Read(names.ProgressFile), c.points.back());
    }
}

// A symbolic link planted in the place of a working file of the pass, to a
// file of the user's: recovery does not cut its target, and the next write is
// refused in words naming the file. The target keeps every byte.
TEST_F(PassOutput, ASymbolicLinkInThePlaceOfAWorkingFileIsRefused) {
    const std::string victim = "a file of the user's, longer than the files of the pass\r\n";
    for (const char* file :
         {"Results.txt", "SavedSym.txt", "GoodSym.txt", "BadSym.txt", "UpSym.txt", "DownSym.txt",
          "Quote.txt", "AscQuote.txt", "Progress.---", "Progress.jnl"}) {
        SCOPED_TRACE(file);
        TempDir dir;
        const WorkingFileNames names = WorkingFileNames::In(dir.Path());
        PassOutputFiles files;
        files.CommitInterval = {};
        PendingOutput a = OneSymbol("A");
        ASSERT_FALSE(files.FlushPendingOutput(a, names, false));
        files.CloseOutputFiles();
        dir.Write("victim", victim);
        fs::remove(dir.File(file));
        fs::create_symlink(dir.File("victim"), dir.File(file));

        files.Recover(names);
        PendingOutput b = OneSymbol("B");
        std::optional<OutputFailure> failure = files.FlushPendingOutput(b, names, false);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->Message(), "Cannot write " + dir.File(file) +
                                          ": it is a symbolic link; refused: remove it and try "
                                          "again");
        EXPECT_EQ(dir.Read("victim"), victim);
        EXPECT_TRUE(fs::is_symlink(dir.File(file)));
    }
}

// Every file a flush touches, by name.
std::vector<std::string> FlushedFiles(const WorkingFileNames& n) {
    return {n.GoodSymFile,  n.BadSymFile,   n.UpSymFile,   n.DownSymFile, n.QuoteFile,
            n.AscQuoteFile, n.SavedSymFile, n.ResultsFile, n.ProgressFile};
}

std::vector<std::string> Contents(const WorkingFileNames& n) {
    std::vector<std::string> all;
    for (const std::string& name : FlushedFiles(n))
        all.push_back(ReadWholeFile(name).value_or("<missing>"));
    return all;
}

// A write that fails at any point of a symbol's flush (a full disk) leaves
// every file as it was before the symbol; the symbol written again later
// gives the files an uninterrupted pass gives.
TEST_F(PassOutput, AFailedWriteLeavesTheSymbolOutWhole) {
    // Writes of one flush: the journal record when opening, eight texts, the
    // journal record after them, the resume point.
    for (int failAt = 1; failAt <= 11; ++failAt) {
        SCOPED_TRACE(failAt);
        TempDir dir;
        const WorkingFileNames names = WorkingFileNames::In(dir.Path());
        PassOutputFiles files;
        files.CommitInterval = {};
        PendingOutput a = OneSymbol("A");
        ASSERT_FALSE(files.FlushPendingOutput(a, names, false));
        files.CloseOutputFiles();
        const std::vector<std::string> before = Contents(names);

        int writes = 0;
        files.BeforeWrite = [&](const std::string&) { return ++writes == failAt ? ENOSPC : 0; };
        PendingOutput b = OneSymbol("B");
        std::optional<OutputFailure> failure = files.FlushPendingOutput(b, names, false);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->Cause, "No space left on device");
        EXPECT_EQ(Contents(names), before);
        EXPECT_TRUE(b.Empty());

        // Room again: the symbol is written as if nothing had happened.
        files.BeforeWrite = nullptr;
        b = OneSymbol("B");
        ASSERT_FALSE(files.FlushPendingOutput(b, names, false));
        files.CloseOutputFiles();
        EXPECT_EQ(Read(names.ResultsFile), "results A\r\n\f\r\nresults B\r\n\f\r\n");
        EXPECT_EQ(Read(names.AscQuoteFile), kHeader + "asc A\r\nasc B\r\n");
        EXPECT_EQ(Read(names.ProgressFile), "1 B");
    }
}

// A scan killed at any write of a symbol's flush: the files as the kill left
// them, once recovered, hold the symbols before it whole, or those and this
// one, and the resume point says which.
TEST_F(PassOutput, RecoveryAfterAKillAtAnyWrite) {
    for (int killAt = 1; killAt <= 10; ++killAt) {
        SCOPED_TRACE(killAt);
        TempDir dir;
        TempDir disk;  // what the disk holds at the moment of the kill
        const WorkingFileNames names = WorkingFileNames::In(dir.Path());
        const WorkingFileNames left = WorkingFileNames::In(disk.Path());
        PassOutputFiles files;
        files.CommitInterval = {};
        PendingOutput a = OneSymbol("A");
        a.PendingProgress = "1 1";
        ASSERT_FALSE(files.FlushPendingOutput(a, names, false));
        const std::vector<std::string> afterA = Contents(names);

        int writes = 0;
        files.BeforeWrite = [&](const std::string&) {
            if (++writes == killAt) {
                for (const auto& entry : fs::directory_iterator(dir.Path()))
                    fs::copy_file(entry.path(), disk.Path() / entry.path().filename());
            }
            return 0;
        };
        PendingOutput b = OneSymbol("B");
        b.PendingProgress = "2 2";
        ASSERT_FALSE(files.FlushPendingOutput(b, names, false));
        files.CloseOutputFiles();
        const std::vector<std::string> afterB = Contents(names);

        // Torn: half of the next text had reached Results.txt as well.
        std::ofstream(left.ResultsFile, std::ios::app | std::ios::binary) << "resu";
        RecoverInterruptedOutput(left);
        const std::vector<std::string> recovered = Contents(left);
        const std::string progress = Read(left.ProgressFile);
        if (progress == "1 1") {
            EXPECT_EQ(recovered, afterA);
        } else {
            EXPECT_EQ(progress, "2 2");
            EXPECT_EQ(recovered, afterB);
        }
    }
}

// A power cut drops what had not reached the disk: a file may end up shorter
// than the newest record says. Recovery then goes back to the record the
// files do hold, with its resume point, and the symbols after it written
// again give the uninterrupted files; with no such record the pass starts
// again.
TEST_F(PassOutput, AFileShorterThanItsRecordStepsBackToTheRecordItHolds) {
    struct Case {
        const char* file;  // the file the power cut shortened
        std::size_t keep;  // the bytes of it that stayed
        Recovery recovery;
        const char* point;  // the resume point afterwards
    };
    const Case cases[] = {
        {"Results.txt", 20, Recovery::SteppedBack, "1 1"},
        {"SavedSym.txt", 10, Recovery::SteppedBack, "1 1"},
        {"Results.txt", 14, Recovery::SteppedBack, "1 1"},
        {"Results.txt", 3, Recovery::PassAgain, "0 0"},
        {"Results.txt", 28, Recovery::Nothing, "2 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.keep));
        TempDir dir;
        const WorkingFileNames names = WorkingFileNames::In(dir.Path());
        PassOutputFiles files;
        files.CommitInterval = {};
        for (const char* point : {"1 1", "2 2"}) {
            PendingOutput p = OneSymbol(std::string(1, point[0]));
            p.PendingProgress = point;
            ASSERT_FALSE(files.FlushPendingOutput(p, names, false));
            if (point[0] == '1') files.CloseOutputFiles();
        }
        const std::vector<std::string> whole = Contents(names);
        files.CloseOutputFiles();
        ASSERT_EQ(::truncate(dir.File(c.file).c_str(), static_cast<off_t>(c.keep)), 0);

        EXPECT_EQ(files.Recover(names), c.recovery);
        EXPECT_EQ(Read(names.ProgressFile), c.point);
        if (c.recovery != Recovery::SteppedBack) continue;
        EXPECT_EQ(Read(names.ResultsFile), "results 1\r\n\f\r\n");
        PendingOutput again = OneSymbol("2");
        again.PendingProgress = "2 2";
        ASSERT_FALSE(files.FlushPendingOutput(again, names, false));
        files.CloseOutputFiles();
        EXPECT_EQ(Contents(names), whole);
    }
}

// Fills every working file of a pass with a text naming it.
void FillAll(const WorkingFileNames& n) {
    for (const std::string* name :
         {&n.ResultsFile, &n.ResultsBackup, &n.SavedSymFile, &n.SavedSymBackup, &n.GoodSymFile,
          &n.BadSymFile, &n.UpSymFile, &n.DownSymFile, &n.QuoteFile, &n.QuoteBackup,
          &n.AscQuoteFile, &n.AscQuoteBackup}) {
        std::ofstream(*name, std::ios::binary) << fs::path(*name).filename().string();
    }
}

TEST_F(PassOutput, RotationForAServerPass) {
    FillAll(names_);
    Write(names_.AscQuoteFile, kHeader + "IBM,D,20261201\r\n");
    EXPECT_FALSE(RotatePassFiles(names_, false));
    EXPECT_EQ(Read(names_.ResultsBackup), "Results.txt");
    EXPECT_EQ(Read(names_.SavedSymBackup), "SavedSym.txt");
    EXPECT_EQ(Read(names_.QuoteBackup), "Quote.txt");
    EXPECT_EQ(Read(names_.AscQuoteBackup), kHeader + "IBM,D,20261201\r\n");
    for (const std::string* gone :
         {&names_.ResultsFile, &names_.SavedSymFile, &names_.GoodSymFile, &names_.BadSymFile,
          &names_.UpSymFile, &names_.DownSymFile, &names_.QuoteFile, &names_.AscQuoteFile}) {
        EXPECT_FALSE(FileExists(*gone)) << *gone;
    }
}

TEST_F(PassOutput, RotationForALocalPass) {
    FillAll(names_);
    EXPECT_FALSE(RotatePassFiles(names_, true));
    EXPECT_EQ(Read(names_.ResultsBackup), "Results.txt");
    EXPECT_EQ(Read(names_.SavedSymBackup), "SavedSym.txt");
    EXPECT_FALSE(FileExists(names_.ResultsFile));
    EXPECT_FALSE(FileExists(names_.UpSymFile));
    EXPECT_FALSE(FileExists(names_.DownSymFile));
    // The lists and the archive stay as they are.
    EXPECT_EQ(Read(names_.GoodSymFile), "GoodSym.txt");
    EXPECT_EQ(Read(names_.BadSymFile), "BadSym.txt");
    EXPECT_EQ(Read(names_.QuoteFile), "Quote.txt");
    EXPECT_EQ(Read(names_.QuoteBackup), "Quote.bak");
    EXPECT_EQ(Read(names_.AscQuoteFile), "AscQuote.txt");
    EXPECT_EQ(Read(names_.AscQuoteBackup), "AscQuote.bak");
}

// A backup is replaced only by a file with something of a pass in it: a
// missing, empty or header-only file leaves it, and rotating twice (a scan
// stopped in the middle of rotating) loses nothing.
TEST_F(PassOutput, RotationNeverReplacesABackupWithNothing) {
    FillAll(names_);
    Write(names_.ResultsFile, "");
    fs::remove(names_.SavedSymFile);
    Write(names_.AscQuoteFile, kHeader);
    EXPECT_FALSE(RotatePassFiles(names_, false));
    EXPECT_FALSE(RotatePassFiles(names_, false));
    EXPECT_EQ(Read(names_.ResultsBackup), "Results.bak");
    EXPECT_EQ(Read(names_.SavedSymBackup), "SavedSym.bak");
    EXPECT_EQ(Read(names_.AscQuoteBackup), "AscQuote.bak");
    EXPECT_EQ(Read(names_.QuoteBackup), "Quote.txt");
    for (const std::string* gone : {&names_.ResultsFile, &names_.AscQuoteFile, &names_.QuoteFile})
        EXPECT_FALSE(FileExists(*gone)) << *gone;
}

// A new pass moves the old pass's files at its first write, not before: a
// pass that writes nothing leaves them.
// The recorded date of Quote.txt follows Quote.txt at the start of a server
// pass, so that neither the new Quote.txt nor Quote.bak is left with the date
// of other quotes; a local pass leaves both alone.
TEST_F(PassOutput, RotationTakesTheRecordedDateWithQuoteTxt) {
    const std::string kMissing = "<missing>";
    struct Case {
        const char* name;
        bool localMode;
        std::string quote, date, dateBackup;  // "<missing>": no such file
        std::string dateAfter, dateBackupAfter;
    } cases[] = {
        {"dated archive moves aside", false, "Q", "D", "old", kMissing, "D"},
        {"undated archive drops a stale backup date", false, "Q", kMissing, "old", kMissing,
         kMissing},
        {"no archive: its date goes", false, kMissing, "D", "old", kMissing, "old"},
        {"empty archive: its date goes", false, "", "D", "old", kMissing, "old"},
        {"empty date file is no backup", false, "Q", "", "old", kMissing, kMissing},
        {"local pass keeps both", true, "Q", "D", "old", "D", "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const WorkingFileNames names = WorkingFileNames::In(dir.Path());
        const std::pair<const std::string*, std::string> files[] = {
            {&names.QuoteFile, c.quote},
            {&names.QuoteDateFile, c.date},
            {&names.QuoteDateBackup, c.dateBackup}};
        for (const auto& [file, content] : files) {
            if (content != kMissing) Write(*file, content);
        }
        EXPECT_FALSE(RotatePassFiles(names, c.localMode));
        EXPECT_EQ(Read(names.QuoteDateFile), c.dateAfter);
        EXPECT_EQ(Read(names.QuoteDateBackup), c.dateBackupAfter);
        // Done twice, as after a scan stopped while rotating: nothing more.
        EXPECT_FALSE(RotatePassFiles(names, c.localMode));
        EXPECT_EQ(Read(names.QuoteDateBackup), c.dateBackupAfter);
    }
}

// A server pass as of a date of its own records it beside the Quote.txt it
// writes; without one, or in a local pass, QuoteDate.txt is not written.
TEST_F(PassOutput, AServerPassRecordsItsDateBesideQuoteTxt) {
    struct Case {
        bool localMode;
        std::optional<DateTime> date;
        std::string written;
    } cases[] = {
        {false, DateTime{2025, 6, 17, 0, 0, 0}, "2025-06-17\r\n"},
        {false, std::nullopt, "<missing>"},
        {true, DateTime{2025, 6, 17, 0, 0, 0}, "<missing>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.localMode);
        TempDir dir;
        const WorkingFileNames names = WorkingFileNames::In(dir.Path());
        PassOutputFiles files;
        files.CommitInterval = {};
        files.ArchiveDate = c.date;
        files.StartPass();
        PendingOutput p = OneSymbol("A");
        EXPECT_FALSE(files.FlushPendingOutput(p, names, c.localMode));
        files.CloseOutputFiles();
        EXPECT_EQ(Read(names.QuoteDateFile), c.written);
    }
}

TEST_F(PassOutput, ANewPassRotatesAtItsFirstWrite) {
    FillAll(names_);
    Write(names_.ProgressFile, "4 17");
    files_.StartPass();
    PendingOutput none;
    EXPECT_FALSE(files_.FlushPendingOutput(none, names_, false));
    EXPECT_EQ(Read(names_.ResultsFile), "Results.txt");
    EXPECT_EQ(Read(names_.ResultsBackup), "Results.bak");
    EXPECT_EQ(Read(names_.ProgressFile), "4 17");

    PendingOutput p = OneSymbol("A");
    p.PendingProgress = "0 1";
    EXPECT_FALSE(files_.FlushPendingOutput(p, names_, false));
    EXPECT_FALSE(files_.RotationPending());
    EXPECT_EQ(Read(names_.ResultsBackup), "Results.txt");
    EXPECT_EQ(Read(names_.ResultsFile), "results A\r\n\f\r\n");
    EXPECT_EQ(Read(names_.GoodSymFile), "good A\r\n");
    EXPECT_EQ(Read(names_.ProgressFile), "0 1");

    // Opening the scan again forgets a rotation not yet done.
    files_.StartPass();
    files_.Recover(names_);
    EXPECT_FALSE(files_.RotationPending());
}

TEST(PassJournal, RecordsSurviveTheirTextAndDamageIsRefused) {
    JournalRecord record;
    record.Sequence = 18446744073709551615u;
    record.ProgressHash = TextHash("3 7");
    record.Lengths = {0, 12, kFileMissing, kFileUntracked, 4000000000000, 5, 6, 7};
    const std::string text = FormatJournalRecord(record);
    ASSERT_EQ(text.size(), kJournalSlotSize);
    EXPECT_EQ(ParseJournalRecord(text), record);

    JournalRecord missing;
    missing.Lengths.fill(kFileMissing);
    EXPECT_EQ(ParseJournalRecord(FormatJournalRecord(missing)), missing);

    for (std::size_t at : {std::size_t{0}, std::size_t{5}, std::size_t{20}, text.find(" -1") + 1}) {
        std::string damaged = text;
        damaged[at] = damaged[at] == '7' ? '8' : '7';
        EXPECT_FALSE(ParseJournalRecord(damaged)) << at;
    }
    EXPECT_FALSE(ParseJournalRecord(text.substr(0, 100)));
    EXPECT_FALSE(ParseJournalRecord(std::string(kJournalSlotSize, '\0')));

    // The resume point's own text, the longest one a record carries, goes
    // with its hash; a record of an earlier build has none.
    record.ProgressText = "2147483647 2147483647";
    record.ProgressHash = TextHash(*record.ProgressText);
    EXPECT_EQ(ParseJournalRecord(FormatJournalRecord(record)), record);
    const std::string earlier = "QJ1 4 - 1 2 3 4 5 6 7 8 " + [] {
        char sum[9];
        std::snprintf(sum, sizeof sum, "%08x", TextHash("QJ1 4 - 1 2 3 4 5 6 7 8"));
        return std::string(sum);
    }();
    std::optional<JournalRecord> old = ParseJournalRecord(
        earlier + std::string(kJournalSlotSize - 1 - earlier.size(), ' ') + "\n");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->Sequence, 4u);
    EXPECT_FALSE(old->ProgressText);
    // A text that is not the hashed one is damage.
    JournalRecord mismatched = record;
    mismatched.ProgressText = "1 1";
    EXPECT_FALSE(ParseJournalRecord(FormatJournalRecord(mismatched)));
}

TEST(PassJournal, TheNewestRecordOfTheResumePointIsTaken) {
    // Two commits that moved the files but not the resume point leave two
    // records of one point: the newer counts the longer files, whichever
    // slot holds it.
    auto make = [](std::uint64_t sequence, const char* point, std::int64_t results) {
        JournalRecord record;
        record.Sequence = sequence;
        record.ProgressHash = TextHash(point);
        record.Lengths[Results] = results;
        return record;
    };
    const JournalRecord older = make(6, "2 2", 10), newer = make(7, "2 2", 20);
    const JournalRecord other = make(8, "1 1", 30);
    struct Case {
        JournalRecord first, second;  // the two slots, in file order
        std::optional<std::string> progress;
        std::optional<JournalRecord> taken;
    };
    const Case cases[] = {
        {older, newer, "2 2", newer},        {newer, older, "2 2", newer},
        {newer, other, "2 2", newer},        {newer, other, "1 1", other},
        {older, newer, "3 3", std::nullopt}, {older, newer, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.progress.value_or("<missing>") + " from " +
                     std::to_string(c.first.Sequence) + "," + std::to_string(c.second.Sequence));
        const std::vector<JournalRecord> records =
            ParseJournal(FormatJournalRecord(c.first) + FormatJournalRecord(c.second));
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(RecordForProgress(records, c.progress), c.taken);
    }
}

}  // namespace
}  // namespace quillon
