#include "server/StatementChecker.h"

#include <algorithm>
#include <charconv>

namespace vendoremp::server {

namespace {

constexpr std::string_view insertHead =
    "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) VALUES (";
constexpr std::string_view insertTail = ",GETDATE())";
constexpr std::string_view deleteHead = "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=";
constexpr std::string_view deleteMiddle = " AND EmployeeID IN(";

// Reads the statement left to right; the first mismatch becomes the refusal.
class Cursor
{
public:
    explicit Cursor(std::string_view text) : m_text(text) {}

    bool literal(std::string_view expected)
    {
        if (m_text.substr(m_pos, expected.size()) == expected) {
            m_pos += expected.size();
            return true;
        }
        fail("expected \"" + std::string(expected) + "\"");
        return false;
    }

    bool peek(char c) const { return m_pos < m_text.size() && m_text[m_pos] == c; }
    void skip() { ++m_pos; }
    bool atEnd() const { return m_pos == m_text.size(); }
    std::size_t position() const { return m_pos; }

    std::optional<std::int64_t> integer()
    {
        std::size_t end = m_pos;
        if (end < m_text.size() && m_text[end] == '-')
            ++end;
        while (end < m_text.size() && m_text[end] >= '0' && m_text[end] <= '9')
            ++end;
        const auto value = parseDecimal(m_text.substr(m_pos, end - m_pos));
        if (!value) {
            const bool digits = end > m_pos && m_text[end - 1] >= '0' && m_text[end - 1] <= '9';
            fail(digits ? "number out of the 64-bit range" : "expected a decimal integer");
            return std::nullopt;
        }
        m_pos = end;
        return value;
    }

    bool end()
    {
        if (atEnd())
            return true;
        fail("unexpected text after the statement");
        return false;
    }

    CheckedStatement refusal() const { return {std::nullopt, m_reason}; }

private:
    void fail(const std::string &what)
    {
        m_reason = what + " at character " + std::to_string(m_pos + 1);
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    std::string m_reason;
};

CheckedStatement checkInsert(std::string_view text)
{
    Cursor c(text);
    LinkChange change{LinkChange::Kind::Link, 0, {}};
    if (!c.literal(insertHead))
        return c.refusal();
    const auto vendor = c.integer();
    if (!vendor || !c.literal(","))
        return c.refusal();
    const auto employee = c.integer();
    if (!employee || !c.literal(insertTail))
        return c.refusal();
    // The control ends its insert with one blank; a client that trims its fields is no less safe.
    if (c.peek(' '))
        c.skip();
    if (!c.end())
        return c.refusal();
    change.vendorId = *vendor;
    change.employeeIds.push_back(*employee);
    return {std::move(change), {}};
}

CheckedStatement checkDelete(std::string_view text)
{
    Cursor c(text);
    LinkChange change{LinkChange::Kind::Unlink, 0, {}};
    if (!c.literal(deleteHead))
        return c.refusal();
    const auto vendor = c.integer();
    if (!vendor || !c.literal(deleteMiddle))
        return c.refusal();
    change.vendorId = *vendor;
    // One allocation of the exact size: a long list read into a growing vector would hold up to
    // twice its room at times.
    change.employeeIds.reserve(
        std::size_t(std::count(text.begin() + std::ptrdiff_t(c.position()), text.end(), ',')) + 1);
    for (;;) {
        const auto employee = c.integer();
        if (!employee)
            return c.refusal();
        change.employeeIds.push_back(*employee);
        if (c.peek(',')) {
            c.skip();
            continue;
        }
        if (!c.literal(")") || !c.end())
            return c.refusal();
        return {std::move(change), {}};
    }
}

} // namespace

std::optional<std::int64_t> parseDecimal(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    const std::size_t digitsFrom = text.front() == '-' ? 1 : 0;
    if (digitsFrom == text.size())
        return std::nullopt;
    for (std::size_t i = digitsFrom; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

CheckedStatement checkStatement(std::string_view text)
{
    if (text.starts_with("DELETE"))
        return checkDelete(text);
    if (text.starts_with("INSERT"))
        return checkInsert(text);
    return {std::nullopt, "neither the insert nor the delete of a vendor's employee link"};
}

} // namespace vendoremp::server
