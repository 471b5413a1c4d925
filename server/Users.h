#pragma once

// Who may use the server: the users file (name:hash:role), the passwords checked against
// crypt(3) hashes, and the HTTP Basic credentials a request carries.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vendoremp::server {

enum class Role
{
    Read,
    Write,
};

struct User
{
    std::string hash; // a crypt(3) hash, or "*": no password login (a trusted proxy names them)
    Role role = Role::Read;

    bool operator==(const User &) const = default;
};

using UserList = std::map<std::string, User, std::less<>>;

struct ParsedUsers
{
    std::optional<UserList> users; // nothing: error says why, with the line number
    std::string error;
};

/// Lines "name:hash:role"; blank lines and lines starting with '#' are skipped. The name is
/// UTF-8 without control characters or ':'; the hash is yescrypt ($y$), SHA-512 ($6$), bcrypt
/// ($2b$) or '*'; the role is read or write. A name given twice is an error.
ParsedUsers parseUsers(std::string_view text);
ParsedUsers readUsersFile(const std::string &path);

/// Whether the password gives the hash. False for '*' and for any hash libxcrypt refuses.
bool passwordMatches(std::string_view password, const std::string &hash);

/// A yescrypt hash of the password with a fresh salt; nothing when libxcrypt fails.
std::optional<std::string> hashPassword(std::string_view password);

struct BasicCredentials
{
    enum class Status
    {
        Absent,    // no Authorization header
        Ok,        // user and password set
        Malformed, // problem says why
    } status = Status::Absent;
    std::string user, password;
    std::string problem;
};

/// The value of an Authorization header: "Basic" (any case), blanks, then the base64 of
/// "user:password" (strict: padding required, nothing after it). User and password must be
/// UTF-8 without control characters; the whole value at most 1024 bytes.
BasicCredentials parseBasicAuthorization(std::string_view value);

bool isUtf8WithoutControls(std::string_view text);

} // namespace vendoremp::server
