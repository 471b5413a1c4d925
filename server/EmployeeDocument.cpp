#include "server/EmployeeDocument.h"

#include <array>
#include <charconv>

namespace vendoremp::server {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

bool isXmlBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Length of the valid UTF-8 sequence at s[i], or 0. Overlong forms and surrogates are invalid.
std::size_t utf8Sequence(std::string_view s, std::size_t i, char32_t &cp)
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

// Bytes that go into the text as they are: ASCII that XML carries, markup characters and CR
// aside. Nearly every name is made of these alone, so they are copied in whole runs.
constexpr auto plainBytes = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c)
        plain[std::size_t(c)] = c != '&' && c != '<' && c != '>';
    plain['\t'] = plain['\n'] = true;
    return plain;
}();

// The character at name[i], which is not plain; returns the bytes it took.
std::size_t appendSpecial(std::string &out, std::string_view name, std::size_t i)
{
    switch (name[i]) {
    case '&':
        out += "&amp;";
        return 1;
    case '<':
        out += "&lt;";
        return 1;
    case '>':
        out += "&gt;";
        return 1;
    case '\r':
        out += "&#13;"; // a parser would turn a bare CR into LF
        return 1;
    default:
        break;
    }
    char32_t cp = 0;
    const std::size_t n = utf8Sequence(name, i, cp);
    if (n == 0) {
        out += replacement;
        return 1;
    }
    const bool allowed = cp == 0x9 || cp == 0xA || (cp >= 0x20 && cp != 0xFFFE && cp != 0xFFFF);
    if (allowed)
        out.append(name.substr(i, n));
    else
        out += replacement;
    return n;
}

void appendText(std::string &out, std::string_view name)
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
    std::size_t i = 0;
    while (i < name.size()) {
        std::size_t end = i;
        while (end < name.size() && plainBytes[static_cast<unsigned char>(name[end])])
            ++end;
        out.append(name.substr(i, end - i));
        if (end == name.size())
            break;
        i = end + appendSpecial(out, name, end);
    }
}

void appendNumber(std::string &out, std::int64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendRecord(std::string &out, std::int64_t id, std::string_view name)
{
    out += "<Employee><ID>";
    appendNumber(out, id);
    out += "</ID><Name>";
    appendText(out, name);
    out += "</Name></Employee>";
}

constexpr std::string_view documentHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VendorEmployees><Counts><Count><NonSelected>";
constexpr std::string_view nonSelectedOpen = "<NonSelectedEmployees>";
constexpr std::string_view nonSelectedClose = "</NonSelectedEmployees>";
constexpr std::string_view selectedOpen = "<SelectedEmployees>";
constexpr std::string_view selectedClose = "</SelectedEmployees>";
constexpr std::string_view documentTail = "</VendorEmployees>\n";

} // namespace

EmployeeDocumentWriter::EmployeeDocumentWriter(std::size_t expectedBytes)
{
    // The non-selected records become the document; how the rest divides is not known.
    m_nonSelected.reserve(expectedBytes);
    m_selected.reserve(expectedBytes / 2);
}

void EmployeeDocumentWriter::addNonSelected(std::int64_t id, std::string_view name)
{
    appendRecord(m_nonSelected, id, name);
    ++m_nonSelectedCount;
}

void EmployeeDocumentWriter::addSelected(std::int64_t id, std::string_view name)
{
    appendRecord(m_selected, id, name);
    ++m_selectedCount;
}

std::string EmployeeDocumentWriter::finish()
{
    std::string head;
    head += documentHead;
    appendNumber(head, m_nonSelectedCount);
    head += "</NonSelected><Selected>";
    appendNumber(head, m_selectedCount);
    head += "</Selected></Count></Counts>";
    head += nonSelectedOpen;

    // The non-selected records stay where they are and the rest is put around them.
    std::string out = std::move(m_nonSelected);
    out.reserve(head.size() + out.size() + nonSelectedClose.size() + selectedOpen.size() +
                m_selected.size() + selectedClose.size() + documentTail.size());
    out.insert(0, head);
    out += nonSelectedClose;
    out += selectedOpen;
    out += m_selected;
    out += selectedClose;
    out += documentTail;
    // Room made for a larger document than this one is not to be held while it is sent.
    if (out.capacity() > 2 * out.size() + 4096)
        out.shrink_to_fit();
    clear();
    return out;
}

void EmployeeDocumentWriter::clear()
{
    m_nonSelected.clear();
    m_selected.clear();
    m_nonSelectedCount = 0;
    m_selectedCount = 0;
}

std::string xmlText(std::string_view name)
{
    std::string out;
    appendText(out, name);
    return out;
}

std::string writeEmployeeDocument(const std::vector<Employee> &nonSelected,
                                  const std::vector<Employee> &selected)
{
    EmployeeDocumentWriter writer;
    for (const Employee &e : nonSelected)
        writer.addNonSelected(e.id, e.name);
    for (const Employee &e : selected)
        writer.addSelected(e.id, e.name);
    return writer.finish();
}

} // namespace vendoremp::server
