#include "server/FormDecoder.h"

#include <array>

namespace vendoremp::server {

namespace {

// 0-15 for a hexadecimal digit, -1 for anything else.
constexpr auto hexDigits = [] {
    std::array<signed char, 256> value{};
    value.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        value[std::size_t(c)] = static_cast<signed char>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        value[std::size_t(c)] = static_cast<signed char>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        value[std::size_t(c)] = static_cast<signed char>(c - 'a' + 10);
    return value;
}();

int hexValue(char c)
{
    return hexDigits[static_cast<unsigned char>(c)];
}

// Decodes into out, reusing its room. On failure, offset is where the bad escape starts within
// text.
bool decodeComponent(std::string_view text, std::string &out, std::size_t &offset)
{
    // Written through a pointer: a form is megabytes of short fields, and appending byte by
    // byte checks the capacity at every one.
    out.resize(text.size());
    char *to = out.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            *to++ = ' ';
        } else if (c == '%') {
            const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                offset = i;
                return false;
            }
            *to++ = char(high * 16 + low);
            i += 2;
        } else {
            *to++ = c;
        }
    }
    out.resize(std::size_t(to - out.data()));
    return true;
}

std::string malformed(std::size_t offset)
{
    return "malformed percent-encoding at byte " + std::to_string(offset + 1);
}

} // namespace

bool FormReader::next(FormField &field)
{
    while (ok() && m_start <= m_body.size()) {
        const std::size_t start = m_start;
        std::size_t stop = m_body.find('&', start);
        if (stop == std::string_view::npos)
            stop = m_body.size();
        m_start = stop + 1;
        const std::string_view piece = m_body.substr(start, stop - start);
        if (piece.empty())
            continue;
        const std::size_t eq = piece.find('=');
        const std::string_view rawName = piece.substr(0, eq);
        const std::string_view rawValue =
            eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
        std::size_t bad = 0;
        if (!decodeComponent(rawName, field.name, bad)) {
            m_error = malformed(start + bad);
        } else if (!decodeComponent(rawValue, field.value, bad)) {
            m_error = malformed(start + rawName.size() + 1 + bad);
        } else {
            return true;
        }
    }
    return false;
}

DecodedForm decodeForm(std::string_view body)
{
    DecodedForm form;
    FormReader reader(body);
    for (FormField field; reader.next(field);)
        form.fields.push_back(std::move(field));
    if (!reader.ok())
        return {false, {}, reader.error()};
    return form;
}

} // namespace vendoremp::server
