#include "results/pass_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "market/line_reader.h"
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

TEST_F(PassOutput, ExistingFilesAreAppendedWithoutHeader) {
    Write(names_.AscQuoteFile, "old\r\n");
    Write(names_.ResultsFile, "old\r\n");
    Write(names_.ProgressFile, "9 99");
    PendingOutput p;
    p.PendingAscQuote = "new\r\n";
    files_.FlushPendingOutput(p, names_, false);
    // Progress.--- starts empty at opening, before any resume point is written.
    EXPECT_EQ(Read(names_.ProgressFile), "");
    files_.CloseOutputFiles();
    EXPECT_EQ(Read(names_.AscQuoteFile), "old\r\nnew\r\n");
    EXPECT_EQ(Read(names_.ResultsFile), "old\r\n");
}

TEST_F(PassOutput, LocalModeLeavesTheArchiveAlone) {
    PendingOutput p;  // nothing pending: opening alone creates the lists
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

TEST_F(PassOutput, UnwritableFilesAreSkippedQuietly) {
    fs::create_directory(names_.ResultsFile);
    fs::create_directory(names_.ProgressFile);
    PendingOutput p = OneSymbol("A");
    files_.FlushPendingOutput(p, names_, false);
    EXPECT_TRUE(p.Empty());
    files_.CloseOutputFiles();
    EXPECT_EQ(Read(names_.SavedSymFile), "saved A\r\n");
    EXPECT_TRUE(fs::is_directory(names_.ResultsFile));
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
    LineReader unused;
    StartOfPassRotation(names_, false, unused);
    EXPECT_EQ(Read(names_.ResultsBackup), "Results.txt");
    EXPECT_EQ(Read(names_.SavedSymBackup), "SavedSym.txt");
    EXPECT_EQ(Read(names_.QuoteBackup), "Quote.txt");
    EXPECT_EQ(Read(names_.AscQuoteBackup), "AscQuote.txt");
    for (const std::string* gone :
         {&names_.ResultsFile, &names_.SavedSymFile, &names_.GoodSymFile, &names_.BadSymFile,
          &names_.UpSymFile, &names_.DownSymFile, &names_.QuoteFile, &names_.AscQuoteFile}) {
        EXPECT_FALSE(FileExists(*gone)) << *gone;
    }
}

TEST_F(PassOutput, RotationForALocalPass) {
    FillAll(names_);
    Write(names_.QuoteFile, "first\r\nsecond\r\n");
    LineReader quotes;
    ASSERT_TRUE(quotes.Open(names_.QuoteFile));
    EXPECT_EQ(quotes.ReadLine(), "first");
    StartOfPassRotation(names_, true, quotes);
    EXPECT_EQ(quotes.ReadLine(), "first");  // rewound

    EXPECT_EQ(Read(names_.ResultsBackup), "Results.txt");
    EXPECT_EQ(Read(names_.SavedSymBackup), "SavedSym.txt");
    EXPECT_FALSE(FileExists(names_.ResultsFile));
    EXPECT_FALSE(FileExists(names_.UpSymFile));
    EXPECT_FALSE(FileExists(names_.DownSymFile));
    // The lists and the archive stay as they are.
    EXPECT_EQ(Read(names_.GoodSymFile), "GoodSym.txt");
    EXPECT_EQ(Read(names_.BadSymFile), "BadSym.txt");
    EXPECT_EQ(Read(names_.QuoteFile), "first\r\nsecond\r\n");
    EXPECT_EQ(Read(names_.QuoteBackup), "Quote.bak");
    EXPECT_EQ(Read(names_.AscQuoteFile), "AscQuote.txt");
    EXPECT_EQ(Read(names_.AscQuoteBackup), "AscQuote.bak");
}

TEST_F(PassOutput, RotationWithMissingFiles) {
    Write(names_.ResultsBackup, "old backup");
    LineReader notOpen;
    StartOfPassRotation(names_, false, notOpen);
    StartOfPassRotation(names_, true, notOpen);
    // The old backup is deleted even when there is no Results.txt to take its place.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 0);
}

}  // namespace
}  // namespace quillon
