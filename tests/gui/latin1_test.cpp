// The 8-bit text of the core carried to Qt and back.

#include <gtest/gtest.h>

#include <QChar>
#include <QString>
#include <string>

#include "ui/qt/latin1.h"

namespace quillon {
namespace {

TEST(Latin1, EveryByteValueShowsAsItsOwnCharacterAndComesBack) {
    std::string bytes;
    for (int code = 0; code < 256; ++code)
        bytes.push_back(static_cast<char>(code));

    const QString shown = FromLatin1(bytes);
    ASSERT_EQ(shown.size(), 256);
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(shown[code].unicode(), code) << code;
    EXPECT_EQ(ToLatin1(shown), bytes);
}

TEST(Latin1, ConversionCases) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string bytes;  // the core's text
        QString text;       // as Qt holds it
        // False when the text does not come back from bytes alone (a
        // character beyond Latin-1 that became "?").
        bool fromBytes;
    };
    const Case cases[] = {
        {"empty", "", QString(), true},
        {"plain ASCII", "IBM 125 5/8", QStringLiteral("IBM 125 5/8"), true},
        {"zero byte inside", "AB\0CD"s, QStringLiteral("AB") + QChar(0) + QStringLiteral("CD"),
         true},
        {"zero byte at the end", "AB\0"s, QStringLiteral("AB") + QChar(0), true},
        {"Western European letters", "j\xF6rg \xA9 \xFF", QString::fromUtf8("jörg © ÿ"), true},
        {"beyond Latin-1", "5 ?", QString::fromUtf8("5 €"), false},
        {"beyond Latin-1 between Latin-1", "\xE9?\xE9", QString::fromUtf8("é€é"), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToLatin1(c.text), c.bytes) << c.name;
        if (c.fromBytes) {
            EXPECT_EQ(FromLatin1(c.bytes), c.text) << c.name;
        }
    }
}

}  // namespace
}  // namespace quillon
