#include "server/EmployeeDocument.h"

#include <charconv>

namespace vendoremp::server {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

bool isXmlBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Length of the valid UTF-8 sequence at s[i], or 0. Overlong forms and surrogates are invalid.
std::size_t utf8Sequence(const std::string &s, std::size_t i, char32_t &cp)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const auto cont = [&](std::size_t k) { return i + k < s.size() && (b(k) & 0xC0) == 0x80; };
    const unsigned char c = b(0);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF && cont(1)) {
        cp = char32_t(c & 0x1F) << 6 | (b(1) & 0x3F);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF && cont(1) && cont(2)) {
        cp = char32_t(c & 0x0F) << 12 | char32_t(b(1) & 0x3F) << 6 | (b(2) & 0x3F);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4 && cont(1) && cont(2) && cont(3)) {
        cp = char32_t(c & 0x07) << 18 | char32_t(b(1) & 0x3F) << 12 | char32_t(b(2) & 0x3F) << 6 |
             (b(3) & 0x3F);
        if (cp < 0x10000 || cp > 0x10FFFF)
            return 0;
        return 4;
    }
    return 0;
}

void appendText(std::string &out, const std::string &name)
{
    bool visible = false;
    for (unsigned char c : name) {
        if (!isXmlBlank(c)) {
            visible = true;
            break;
        }
    }
    // A blank-only text is dropped by the control's parser, which leaves the field empty.
    if (!visible) {
        out += unnamedEmployee;
        return;
    }
    for (std::size_t i = 0; i < name.size();) {
        const char c = name[i];
        switch (c) {
        case '&':
            out += "&amp;";
            ++i;
            continue;
        case '<':
            out += "&lt;";
            ++i;
            continue;
        case '>':
            out += "&gt;";
            ++i;
            continue;
        case '\r':
            out += "&#13;";
            ++i;
            continue; // a parser would turn a bare CR into LF
        default:
            break;
        }
        char32_t cp = 0;
        const std::size_t n = utf8Sequence(name, i, cp);
        if (n == 0) {
            out += replacement;
            ++i;
            continue;
        }
        const bool allowed = cp == 0x9 || cp == 0xA || (cp >= 0x20 && cp != 0xFFFE && cp != 0xFFFF);
        if (allowed)
            out.append(name, i, n);
        else
            out += replacement;
        i += n;
    }
}

void appendNumber(std::string &out, std::int64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendSection(std::string &out, const char *tag, const std::vector<Employee> &employees)
{
    out += '<';
    out += tag;
    out += '>';
    for (const Employee &e : employees) {
        out += "<Employee><ID>";
        appendNumber(out, e.id);
        out += "</ID><Name>";
        appendText(out, e.name);
        out += "</Name></Employee>";
    }
    out += "</";
    out += tag;
    out += '>';
}

} // namespace

std::string xmlText(const std::string &name)
{
    std::string out;
    appendText(out, name);
    return out;
}

std::string writeEmployeeDocument(const std::vector<Employee> &nonSelected,
                                  const std::vector<Employee> &selected)
{
    std::size_t estimate = 256;
    for (const auto *list : {&nonSelected, &selected}) {
        for (const Employee &e : *list)
            estimate += 64 + e.name.size();
    }
    std::string out;
    out.reserve(estimate);
    out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VendorEmployees><Counts><Count><NonSelected>";
    appendNumber(out, std::int64_t(nonSelected.size()));
    out += "</NonSelected><Selected>";
    appendNumber(out, std::int64_t(selected.size()));
    out += "</Selected></Count></Counts>";
    appendSection(out, "NonSelectedEmployees", nonSelected);
    appendSection(out, "SelectedEmployees", selected);
    out += "</VendorEmployees>\n";
    return out;
}

} // namespace vendoremp::server
