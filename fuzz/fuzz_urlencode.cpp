// Form encoding of the save: any text, read as UTF-16 units (lone surrogate halves included),
// encoded, then decoded by the server's form decoder, must give back the text's UTF-8 bytes.

#include "FuzzCheck.h"

#include "saving/UrlEncode.h"
#include "server/FormDecoder.h"

#include <QString>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

// The text with every lone half of a surrogate pair replaced by U+FFFD, which is what the
// encoder writes for one (QString::toUtf8 would write '?').
QString wellFormed(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
        } else {
            out += c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    if (size >= 2)
        std::memcpy(text.data(), data, size / 2 * 2);

    const QString encoded = KavriVendorEmp::formUrlEncode(text);
    QByteArray appended("SQL=");
    KavriVendorEmp::appendFormUrlEncoded(appended, text);
    FUZZ_CHECK(appended.sliced(4) == encoded.toLatin1());

    // Only characters that pass through a form unchanged, and upper-case escapes.
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char16_t c = encoded[i].unicode();
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'*' || c == u'-' || c == u'.' ||
                           c == u'_' || c == u'+';
        if (c == u'%') {
            FUZZ_CHECK(i + 2 < encoded.size());
            for (const qsizetype j : {i + 1, i + 2}) {
                const char16_t h = encoded[j].unicode();
                FUZZ_CHECK((h >= u'0' && h <= u'9') || (h >= u'A' && h <= u'F'));
            }
            i += 2;
        } else {
            FUZZ_CHECK(plain);
        }
    }

    appended += '&';
    const auto form = vendoremp::server::decodeForm(
        std::string_view(appended.constData(), std::size_t(appended.size())));
    FUZZ_CHECK(form.ok && form.fields.size() == 1 && form.fields[0].name == "SQL");
    const QByteArray utf8 = wellFormed(text).toUtf8();
    FUZZ_CHECK(form.fields[0].value ==
               std::string_view(utf8.constData(), std::size_t(utf8.size())));
    return 0;
}
