#include "market/line_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

// The reader as it was before it read in blocks, one getc at a time: the
// reference the block reader must agree with line for line.
class CharReader {
  public:
    explicit CharReader(const std::string& name) : file_(std::fopen(name.c_str(), "rb")) {}
    ~CharReader() {
        if (file_ != nullptr) std::fclose(file_);
    }
    CharReader(const CharReader&) = delete;
    CharReader& operator=(const CharReader&) = delete;

    std::string ReadLine() {
        std::string line;
        int c;
        while ((c = std::getc(file_)) != EOF) {
            if (c == '\n') break;
            if (line.size() < LineReader::kMaxLineLength) line.push_back(static_cast<char>(c));
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
    bool AtEnd() {
        int c = std::getc(file_);
        if (c == EOF) return true;
        std::ungetc(c, file_);
        return false;
    }

  private:
    std::FILE* file_;
};

// Reads `name` to its end with both readers, alternating ReadLine and
// NextLine, and checks that they agree at every line; a few reads past the
// end too.
void ExpectSameLines(const std::string& name, const std::string& what) {
    CharReader expected(name);
    LineReader reader;
    ASSERT_TRUE(reader.Open(name));
    for (int i = 0; i < 1000000; ++i) {
        const bool atEnd = expected.AtEnd();
        ASSERT_EQ(reader.AtEnd(), atEnd) << what << ", line " << i;
        const std::string want = expected.ReadLine();
        const std::string got = i % 2 == 0 ? reader.ReadLine() : std::string(reader.NextLine());
        ASSERT_EQ(got, want) << what << ", line " << i;
        if (atEnd && i % 3 == 2) return;
    }
}

TEST(LineReader, ReadsEveryLineAsTheCharacterReaderDid) {
    const std::string block(LineReader::kBlockSize, 'b');
    const std::string cap(LineReader::kMaxLineLength, 'm');
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"one line without a line end", "<STOCK>AA"},
        {"LF and CR LF line ends", "a\r\nb\nc\r\n\r\n\n"},
        {"a CR not before LF stays", "a\rb\r\rc\r"},
        {"blank and zero bytes", std::string("a \0 b\n\0\n", 8)},
        {"a CR LF split by the block end", block.substr(1) + "\r\nnext\r\n"},
        {"a LF just past the block end", block + "\nnext"},
        {"a line end at the block's last byte", block.substr(1) + "\nnext\n"},
        {"a line as long as the cap", cap + "\r\nnext\r\n"},
        {"a CR beyond the cap", cap + "\rx\r\nnext"},
        {"a CR as the last kept byte", cap.substr(1) + "\r\r\nnext"},
        {"a line longer than three blocks",
         std::string(3 * LineReader::kBlockSize + 7, 'L') + "\r\n" + block + "\r\n"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        dir.Write("Quote.txt", c.bytes);
        ExpectSameLines(dir.File("Quote.txt"), c.what);
    }
}

TEST(LineReader, AgreesWithTheCharacterReaderOnRandomFiles) {
    std::mt19937 random(20261208);
    // Mostly short lines; now and then one near a block or the cap.
    std::uniform_int_distribution<int> kind(0, 99);
    std::uniform_int_distribution<std::size_t> shortLength(0, 40);
    std::uniform_int_distribution<std::size_t> longLength(LineReader::kMaxLineLength - 3,
                                                          LineReader::kMaxLineLength + 3);
    const std::string alphabet = std::string("ab<> ,.\r\r\r\0", 11);
    std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
    TempDir dir;
    for (int file = 0; file < 30; ++file) {
        std::string bytes;
        const std::size_t size = file < 10 ? 2000 : 300000;
        while (bytes.size() < size) {
            const std::size_t length = kind(random) == 0 ? longLength(random) : shortLength(random);
            for (std::size_t i = 0; i < length; ++i)
                bytes += alphabet[letter(random)];
            bytes += kind(random) < 50 ? "\r\n" : "\n";
        }
        if (file % 2 == 1) bytes.resize(bytes.size() - 1);  // no line end at the end
        dir.Write("Quote.txt", bytes);
        ExpectSameLines(dir.File("Quote.txt"), "random file " + std::to_string(file));
    }
}

TEST(LineReader, RewindStartsAgainAndAMissingFileIsCreatedEmpty) {
    TempDir dir;
    LineReader reader;
    ASSERT_TRUE(reader.Open(dir.File("Quote.txt")));
    EXPECT_TRUE(dir.Exists("Quote.txt"));
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.ReadLine(), "");

    dir.Write("Quote.txt", "one\r\ntwo\r\n");
    ASSERT_TRUE(reader.Open(dir.File("Quote.txt")));
    EXPECT_EQ(reader.ReadLine(), "one");
    EXPECT_EQ(reader.ReadLine(), "two");
    EXPECT_TRUE(reader.AtEnd());
    reader.Rewind();
    EXPECT_FALSE(reader.AtEnd());
    EXPECT_EQ(reader.NextLine(), "one");

    reader.Close();
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.ReadLine(), "");
}

}  // namespace
}  // namespace quillon
