#pragma once

// The save post carries SQL text written by the control. The server never runs that text: it
// recognises exactly the two statements the control writes and turns each into a typed change,
// which the store then applies with its own statements and bound parameters.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vendoremp::server {

struct LinkChange
{
    enum class Kind
    {
        Link,   // INSERT of one (vendor, employee) pair
        Unlink, // DELETE of a list of employees of one vendor
    };
    Kind kind = Kind::Link;
    std::int64_t vendorId = 0;
    std::vector<std::int64_t> employeeIds; // exactly one for Link, at least one for Unlink

    bool operator==(const LinkChange &) const = default;
};

struct CheckedStatement
{
    std::optional<LinkChange> change; // set when the text is an allowed statement
    std::string reason;               // otherwise: why not, for the reply

    bool ok() const { return change.has_value(); }
};

/// Accepts exactly
///   "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) VALUES
///   (V,E,GETDATE()) " "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=V AND EmployeeID
///   IN(E1,E2,...)"
/// where each number is a plain decimal integer (optional '-', digits, within 64 bits). Letters,
/// spacing and punctuation must match byte for byte; the insert's one trailing blank may be left
/// out. Anything else is refused with a reason.
CheckedStatement checkStatement(std::string_view text);

/// A plain decimal integer: optional '-', then one or more digits, the whole text, within the
/// signed 64-bit range. Nothing else (no '+', no blanks).
std::optional<std::int64_t> parseDecimal(std::string_view text);

} // namespace vendoremp::server
