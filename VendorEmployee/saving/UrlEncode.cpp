#include "saving/UrlEncode.h"

#include <array>
#include <cstring>

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

// What each ASCII character becomes, written as three bytes of which the first `size` count.
struct Encoded
{
    char bytes[3];
    unsigned char size;
};

constexpr std::array<Encoded, 128> makeAscii()
{
    std::array<Encoded, 128> ascii{};
    for (unsigned c = 0; c < 128; ++c) {
        switch (kPieces[c]) {
        case Keep:
            ascii[c] = {{char(c), 0, 0}, 1};
            break;
        case Plus:
            ascii[c] = {{'+', 0, 0}, 1};
            break;
        case Encode:
            ascii[c] = {{'%', kHex[c >> 4], kHex[c & 0xF]}, 3};
            break;
        }
    }
    return ascii;
}

constexpr std::array<Encoded, 128> kAscii = makeAscii();

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
            // Three bytes always fit: the room reserved is nine per unit.
            const Encoded &e = kAscii[c];
            std::memcpy(p, e.bytes, 3);
            p += e.size;
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
