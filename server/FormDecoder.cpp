#include "server/FormDecoder.h"

#include <optional>

namespace vendoremp::server {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
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

DecodedForm malformed(std::size_t offset)
{
    return {false, {}, "malformed percent-encoding at byte " + std::to_string(offset + 1)};
}

} // namespace

DecodedForm decodeForm(std::string_view body)
{
    DecodedForm form;
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
