#pragma once

// application/x-www-form-urlencoded, as a browser or the control writes it: fields separated by
// '&', name and value by the first '=', '+' for a space, %XX for any byte.

#include <string>
#include <string_view>
#include <vector>

namespace vendoremp::server {

struct FormField
{
    std::string name;
    std::string value;

    bool operator==(const FormField &) const = default;
};

struct DecodedForm
{
    bool ok = true;
    std::vector<FormField> fields; // in the order sent
    std::string error;             // when !ok
};

/// Reads a form one field at a time, so that what it holds is one decoded field whatever the
/// size of the body, and a reader can refuse at the first bad field before decoding the rest.
/// Empty pieces (a trailing '&', "&&") are skipped; a piece without '=' is a field with an empty
/// value. A '%' not followed by two hexadecimal digits makes the form malformed from there on.
class FormReader
{
public:
    explicit FormReader(std::string_view body) : m_body(body) {}

    /// Decodes the next field into field (reusing its room); false at the end of the form or at
    /// a malformed field, which error() then describes.
    bool next(FormField &field);
    bool ok() const { return m_error.empty(); }
    const std::string &error() const { return m_error; }

private:
    std::string_view m_body;
    std::size_t m_start = 0;
    std::string m_error;
};

/// The whole form at once, for short ones (a query). Malformed: no fields at all.
DecodedForm decodeForm(std::string_view body);

} // namespace vendoremp::server
