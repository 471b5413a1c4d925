#pragma once

// The employee document the control loads. The control reads it by node position only:
//   root
//     counts section / counts record / (non-selected count, selected count)
//     non-selected section / employee records
//     selected section / employee records
// and each employee record holds its ID field, then its name field. It is written without
// indentation; element names are for people reading it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vendoremp::server {

struct Employee
{
    std::int64_t id = 0;
    std::string name; // UTF-8

    bool operator==(const Employee &) const = default;
};

/// Shown for a name that holds nothing visible: a field must never be empty, or the control's
/// load stops at it.
inline constexpr const char *unnamedEmployee = "(no name)";

/// Writes the document from rows as they come, so that a store need not hold them: the records
/// of each section in the order added. UTF-8 XML. Names are escaped; bytes that are not valid
/// UTF-8 and characters XML cannot carry become U+FFFD.
class EmployeeDocumentWriter
{
public:
    /// Room for a document of about that size is made up front (the size of the last one, say),
    /// so that the records need not be copied as the document grows.
    explicit EmployeeDocumentWriter(std::size_t expectedBytes = 0);

    void addNonSelected(std::int64_t id, std::string_view name);
    void addSelected(std::int64_t id, std::string_view name);
    /// The document of every record added; the writer is empty again afterwards.
    std::string finish();
    /// Forgets every record added.
    void clear();

private:
    std::string m_nonSelected;
    std::string m_selected;
    std::int64_t m_nonSelectedCount = 0;
    std::int64_t m_selectedCount = 0;
};

std::string writeEmployeeDocument(const std::vector<Employee> &nonSelected,
                                  const std::vector<Employee> &selected);

/// The name as the document carries it: escaped, cleaned, never empty.
std::string xmlText(std::string_view name);

} // namespace vendoremp::server
