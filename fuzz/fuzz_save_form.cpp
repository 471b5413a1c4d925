// The server's reading of a save post: the form decoder, then the statement checker on every
// value. Whatever the checker accepts must be one of the two statements with integers in it,
// written exactly as the checker's own reading of it would be written again.

#include "FuzzCheck.h"

#include "server/FormDecoder.h"
#include "server/StatementChecker.h"

#include <cstdint>
#include <string>
#include <string_view>

using namespace vendoremp::server;

namespace {

constexpr std::string_view kInsertHead =
    "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) VALUES (";
constexpr std::string_view kDeleteHead = "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=";

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string serialise(const LinkChange &change)
{
    std::string text;
    if (change.kind == LinkChange::Kind::Link) {
        text = std::string(kInsertHead) + std::to_string(change.vendorId) + ',' +
               std::to_string(change.employeeIds.front()) + ",GETDATE()) ";
    } else {
        text = std::string(kDeleteHead) + std::to_string(change.vendorId) + " AND EmployeeID IN(";
        for (const std::int64_t id : change.employeeIds)
            text += std::to_string(id) + ',';
        text.back() = ')';
    }
    return text;
}

// Every number written in its plain form ("007" and "-0" are the numbers 7 and 0); the fixed
// words of both statements hold no digit and no '-', so nothing else changes.
std::string withPlainNumbers(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t end = i + (text[i] == '-' ? 1 : 0);
        while (end < text.size() && isDigit(text[end]))
            ++end;
        if (end > i && isDigit(text[end - 1])) {
            const std::optional<std::int64_t> value = parseDecimal(text.substr(i, end - i));
            FUZZ_CHECK(value.has_value());
            out += std::to_string(*value);
            i = end;
        } else {
            out += text[i++];
        }
    }
    return out;
}

void checkOne(std::string_view text)
{
    const CheckedStatement checked = checkStatement(text);
    if (!checked.ok()) {
        FUZZ_CHECK(!checked.reason.empty());
        return;
    }
    const LinkChange &change = *checked.change;
    if (change.kind == LinkChange::Kind::Link)
        FUZZ_CHECK(change.employeeIds.size() == 1);
    else
        FUZZ_CHECK(!change.employeeIds.empty());

    std::string written = serialise(change);
    // The insert's trailing blank is the one thing a client may leave out.
    if (change.kind == LinkChange::Kind::Link && !text.ends_with(' '))
        written.pop_back();
    FUZZ_CHECK(withPlainNumbers(text) == written);

    const CheckedStatement again = checkStatement(written);
    FUZZ_CHECK(again.ok() && *again.change == change);
}

std::string encodeComponent(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c)) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        }
    }
    return out;
}

void checkForm(std::string_view body)
{
    const DecodedForm form = decodeForm(body);

    // Refused exactly when some '%' lacks its two hexadecimal digits.
    bool wellFormed = true;
    std::size_t pieces = 0;
    bool inPiece = false;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '%' && !(i + 2 < body.size() && isHex(body[i + 1]) && isHex(body[i + 2])))
            wellFormed = false;
        if (body[i] == '&') {
            inPiece = false;
        } else if (!inPiece) {
            inPiece = true;
            ++pieces;
        }
    }
    FUZZ_CHECK(form.ok == wellFormed);
    if (!form.ok) {
        FUZZ_CHECK(form.fields.empty() && !form.error.empty());
        return;
    }
    FUZZ_CHECK(form.fields.size() == pieces);

    // Written again with every byte escaped that could be, the form reads back the same.
    std::string rewritten;
    for (const FormField &field : form.fields)
        rewritten += encodeComponent(field.name) + '=' + encodeComponent(field.value) + '&';
    const DecodedForm again = decodeForm(rewritten);
    FUZZ_CHECK(again.ok && again.fields == form.fields);

    for (const FormField &field : form.fields)
        checkOne(field.value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    checkForm(input);
    // The same bytes as one statement, so that the checker is reached without the encoding too.
    checkOne(input);
    return 0;
}
