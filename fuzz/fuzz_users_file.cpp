// The server's reading of a users file. Whatever it accepts, written out again line by line,
// reads back as the same users; whatever it refuses, it says on which line.

#include "FuzzCheck.h"

#include "server/Users.h"

#include <cstdint>
#include <string>
#include <string_view>

using namespace vendoremp::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const ParsedUsers parsed = parseUsers(text);
    if (!parsed.users) {
        FUZZ_CHECK(parsed.error.starts_with("line "));
        return 0;
    }
    std::string written;
    for (const auto &[name, user] : *parsed.users) {
        FUZZ_CHECK(!name.empty() && isUtf8WithoutControls(name));
        FUZZ_CHECK(user.hash == "*" || user.hash.starts_with('$'));
        written += name + ':' + user.hash + ':' + (user.role == Role::Write ? "write" : "read") + '\n';
    }
    const ParsedUsers again = parseUsers(written);
    FUZZ_CHECK(again.users && *again.users == *parsed.users);
    return 0;
}
