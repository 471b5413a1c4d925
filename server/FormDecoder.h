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

/// Empty pieces (a trailing '&', "&&") are skipped; a piece without '=' is a field with an empty
/// value. A '%' not followed by two hexadecimal digits makes the whole form malformed.
DecodedForm decodeForm(std::string_view body);

} // namespace vendoremp::server
