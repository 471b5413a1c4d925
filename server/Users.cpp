#include "server/Users.h"

#include <crypt.h>
#include <openssl/crypto.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace vendoremp::server {

namespace {

constexpr std::size_t maxAuthorizationBytes = 1024;

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.empty() || text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && text.size() > padding && text[text.size() - 1 - padding] == '=')
        ++padding;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    const std::size_t data = text.size() - padding;
    for (std::size_t i = 0; i < data; ++i) {
        const int v = base64Value(text[i]);
        if (v < 0)
            return std::nullopt;
        bits = (bits << 6) | std::uint32_t(v);
        if (i % 4 == 3) {
            out += char(bits >> 16);
            out += char(bits >> 8);
            out += char(bits);
            bits = 0;
        }
    }
    // The bits a padded group leaves over must be zero, so one text has one reading.
    if (padding == 1) {
        if (bits & 0x3)
            return std::nullopt;
        out += char(bits >> 10);
        out += char(bits >> 2);
    } else if (padding == 2) {
        if (bits & 0xf)
            return std::nullopt;
        out += char(bits >> 4);
    }
    return out;
}

bool knownHash(std::string_view hash)
{
    return hash == "*" || hash.starts_with("$y$") || hash.starts_with("$6$") ||
           hash.starts_with("$2b$");
}

} // namespace

bool isUtf8WithoutControls(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7f)
                return false;
            ++i;
            continue;
        }
        std::size_t n = 0;
        char32_t cp = 0;
        if (c >= 0xc2 && c <= 0xdf) {
            n = 1;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            n = 2;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size())
            return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3f);
        }
        // Overlong forms, surrogates, beyond U+10FFFF, and the C1 controls.
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10ffff)) ||
            (cp >= 0xd800 && cp <= 0xdfff) || (cp >= 0x80 && cp <= 0x9f))
            return false;
        i += n + 1;
    }
    return true;
}

ParsedUsers parseUsers(std::string_view text)
{
    UserList users;
    std::size_t lineNumber = 0;
    const auto fail = [&](const std::string &why) {
        return ParsedUsers{std::nullopt, "line " + std::to_string(lineNumber) + ": " + why};
    };
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#')
            continue;
        const std::size_t colon1 = line.find(':');
        const std::size_t colon2 = line.rfind(':');
        if (colon1 == std::string_view::npos || colon1 == colon2)
            return fail("expected name:hash:role");
        const std::string_view name = line.substr(0, colon1);
        const std::string_view hash = line.substr(colon1 + 1, colon2 - colon1 - 1);
        const std::string_view role = line.substr(colon2 + 1);
        if (name.empty() || !isUtf8WithoutControls(name))
            return fail("the name must be UTF-8 text without control characters");
        if (!knownHash(hash) || hash.find_first_of(" \t") != std::string_view::npos)
            return fail("the hash must start with $y$, $6$ or $2b$ (vendoremp-server "
                        "--hash-password makes one), or be *");
        if (role != "read" && role != "write")
            return fail("the role must be read or write");
        const auto [it, added] = users.emplace(
            std::string(name), User{std::string(hash), role == "write" ? Role::Write : Role::Read});
        if (!added)
            return fail("the user " + std::string(name) + " is listed before");
    }
    return {std::move(users), {}};
}

ParsedUsers readUsersFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {std::nullopt, "cannot read " + path};
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return {std::nullopt, "cannot read " + path};
    ParsedUsers parsed = parseUsers(text.str());
    if (!parsed.users)
        parsed.error = path + ": " + parsed.error;
    return parsed;
}

bool passwordMatches(std::string_view password, const std::string &hash)
{
    if (hash == "*" || password.find('\0') != std::string_view::npos)
        return false;
    // crypt_data is large (about 32 KiB): one per thread, kept.
    thread_local auto data = std::make_unique<crypt_data>();
    const std::string phrase(password);
    const char *result = crypt_rn(phrase.c_str(), hash.c_str(), data.get(), sizeof(crypt_data));
    if (!result || result[0] == '*')
        return false;
    const std::size_t length = std::strlen(result);
    return length == hash.size() && CRYPTO_memcmp(result, hash.data(), length) == 0;
}

std::optional<std::string> hashPassword(std::string_view password)
{
    if (password.find('\0') != std::string_view::npos)
        return std::nullopt;
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting))
        return std::nullopt;
    auto data = std::make_unique<crypt_data>();
    const std::string phrase(password);
    const char *result = crypt_rn(phrase.c_str(), setting, data.get(), sizeof(crypt_data));
    if (!result || result[0] == '*')
        return std::nullopt;
    return std::string(result);
}

BasicCredentials parseBasicAuthorization(std::string_view value)
{
    BasicCredentials c;
    const auto malformed = [&](const char *why) {
        c.status = BasicCredentials::Status::Malformed;
        c.problem = why;
        return c;
    };
    if (value.size() > maxAuthorizationBytes)
        return malformed("the Authorization header is too long");
    constexpr std::string_view scheme = "basic";
    if (value.size() < scheme.size() + 2)
        return malformed("only Basic credentials are accepted");
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (char(value[i] | 0x20) != scheme[i])
            return malformed("only Basic credentials are accepted");
    }
    value.remove_prefix(scheme.size());
    if (value.front() != ' ')
        return malformed("only Basic credentials are accepted");
    while (!value.empty() && value.front() == ' ')
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    const std::optional<std::string> decoded = base64Decode(value);
    if (!decoded)
        return malformed("the Basic credentials are not base64");
    const std::size_t colon = decoded->find(':');
    if (colon == std::string::npos)
        return malformed("the Basic credentials hold no ':'");
    c.user = decoded->substr(0, colon);
    c.password = decoded->substr(colon + 1);
    if (c.user.empty() || !isUtf8WithoutControls(c.user) || !isUtf8WithoutControls(c.password))
        return malformed("the Basic credentials must be UTF-8 without control characters");
    c.status = BasicCredentials::Status::Ok;
    return c;
}

} // namespace vendoremp::server
