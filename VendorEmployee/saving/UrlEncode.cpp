#include "saving/UrlEncode.h"

#include <array>

namespace KavriVendorEmp {

namespace {

enum Piece : unsigned char
{
    Encode,
    Keep,
    Plus
};

constexpr std::array<Piece, 128> makePieces()
{
    std::array<Piece, 128> pieces{};
    for (char c = '0'; c <= '9'; ++c)
        pieces[c] = Keep;
    for (char c = 'A'; c <= 'Z'; ++c)
        pieces[c] = Keep;
    for (char c = 'a'; c <= 'z'; ++c)
        pieces[c] = Keep;
    for (char c : {'*', '-', '.', '_'})
        pieces[c] = Keep;
    pieces[' '] = Plus;
    return pieces;
}

constexpr std::array<Piece, 128> kPieces = makePieces();
constexpr char kHex[] = "0123456789ABCDEF";

inline char *putEscaped(char *p, unsigned byte)
{
    *p++ = '%';
    *p++ = kHex[byte >> 4];
    *p++ = kHex[byte & 0xF];
    return p;
}

} // namespace

void appendFormUrlEncoded(QByteArray &out, QStringView theData)
{
    // One UTF-16 unit yields at most three UTF-8 bytes, each written as three characters.
    const qsizetype start = out.size();
    out.resize(start + theData.size() * 9);
    char *p = out.data() + start;

    const char16_t *s = theData.utf16();
    const char16_t *const end = s + theData.size();
    while (s < end) {
        char32_t c = *s++;
        if (c < 0x80) {
            switch (kPieces[c]) {
            case Keep:
                *p++ = char(c);
                break;
            case Plus:
                *p++ = '+';
                break;
            case Encode:
                p = putEscaped(p, c);
                break;
            }
            continue;
        }
        if (QChar::isHighSurrogate(c) && s < end && QChar::isLowSurrogate(*s))
            c = QChar::surrogateToUcs4(char16_t(c), *s++);
        else if (QChar::isSurrogate(c))
            c = QChar::ReplacementCharacter; // a lone half of a pair, as QString::toUtf8 does
        if (c < 0x800) {
            p = putEscaped(p, 0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            p = putEscaped(p, 0xE0 | (c >> 12));
            p = putEscaped(p, 0x80 | ((c >> 6) & 0x3F));
        } else {
            p = putEscaped(p, 0xF0 | (c >> 18));
            p = putEscaped(p, 0x80 | ((c >> 12) & 0x3F));
            p = putEscaped(p, 0x80 | ((c >> 6) & 0x3F));
        }
        p = putEscaped(p, 0x80 | (c & 0x3F));
    }
    out.resize(p - out.constData());
}

QString formUrlEncode(const QString &theData)
{
    QByteArray encoded;
    appendFormUrlEncoded(encoded, theData);
    return QString::fromLatin1(encoded);
}

} // namespace KavriVendorEmp
