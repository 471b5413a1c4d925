#include "server/FormDecoder.h"

#include <array>
#include <optional>

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

// On failure, offset is where the bad escape starts within text.
std::optional<std::string> decodeComponent(std::string_view text, std::size_t &offset)
{
    // Written through a pointer: a form is megabytes of short fields, and appending byte by
    // byte checks the capacity at every one.
    std::string out(text.size(), '\0');
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
                return std::nullopt;
            }
            *to++ = char(high * 16 + low);
            i += 2;
        } else {
            *to++ = c;
        }
    }
    out.resize(std::size_t(to - out.data()));
    return out;
}

// The number of fields, at most: one more than the separators.
std::size_t pieces(std::string_view body)
{
    std::size_t n = 1;
    for (std::size_t at = body.find('&'); at != std::string_view::npos; at = body.find('&', at + 1))
        ++n;
    return n;
}

DecodedForm malformed(std::size_t offset)
{
    return {false, {}, "malformed percent-encoding at byte " + std::to_string(offset + 1)};
}

} // namespace

DecodedForm decodeForm(std::string_view body)
{
    DecodedForm form;
    form.fields.reserve(pieces(body));
    std::size_t start = 0;
    while (start <= body.size()) {
        std::size_t stop = body.find('&', start);
        if (stop == std::string_view::npos)
            stop = body.size();
        const std::string_view piece = body.substr(start, stop - start);
        if (!piece.empty()) {
            const std::size_t eq = piece.find('=');
            const std::string_view rawName = piece.substr(0, eq);
            const std::string_view rawValue =
                eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
            std::size_t bad = 0;
            auto name = decodeComponent(rawName, bad);
            if (!name)
                return malformed(start + bad);
            auto value = decodeComponent(rawValue, bad);
            if (!value)
                return malformed(start + rawName.size() + 1 + bad);
            form.fields.push_back({std::move(*name), std::move(*value)});
        }
        start = stop + 1;
    }
    return form;
}

} // namespace vendoremp::server
