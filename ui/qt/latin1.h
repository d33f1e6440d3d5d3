#pragma once
// The core's texts are 8-bit, one character per byte (Latin-1): quote pages,
// the report, the settings. These two carry such a text to a Qt widget and
// back. File names are different: they go through ToQt and FromQt
// (qt_services.h), in the locale's encoding, so that they name the files on
// disk.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

namespace quillon {

// Every byte becomes the character of the same code, 0x80 to 0xFF and zero
// bytes included: the whole text shows, however many zero bytes it holds.
inline QString FromLatin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Every character up to U+00FF becomes the byte of the same code, U+0000
// included; a character beyond Latin-1 becomes "?". A caller that must not
// lose such a character checks for it first (the server dialog does).
inline std::string ToLatin1(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace quillon
