// The server's reading of an Authorization header. Whatever it accepts names a user of UTF-8
// text without control characters or ':', and reads back the same when encoded again.

#include "FuzzCheck.h"

#include "server/Users.h"

#include <cstdint>
#include <string>
#include <string_view>

using namespace vendoremp::server;

namespace {

std::string base64(std::string_view in)
{
    static constexpr char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = unsigned(std::uint8_t(in[i])) << 16 |
                           unsigned(std::uint8_t(in[i + 1])) << 8 | std::uint8_t(in[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out += digits[(v >> shift) & 63];
    }
    if (i + 1 == in.size()) {
        const unsigned v = unsigned(std::uint8_t(in[i])) << 16;
        out += {digits[v >> 18], digits[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
        const unsigned v = unsigned(std::uint8_t(in[i])) << 16 | unsigned(std::uint8_t(in[i + 1])) << 8;
        out += {digits[v >> 18], digits[(v >> 12) & 63], digits[(v >> 6) & 63], '='};
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view value(reinterpret_cast<const char *>(data), size);
    const BasicCredentials c = parseBasicAuthorization(value);
    FUZZ_CHECK((c.status == BasicCredentials::Status::Malformed) == !c.problem.empty());
    if (c.status != BasicCredentials::Status::Ok)
        return 0;
    FUZZ_CHECK(!c.user.empty() && c.user.find(':') == std::string::npos);
    FUZZ_CHECK(isUtf8WithoutControls(c.user) && isUtf8WithoutControls(c.password));
    const BasicCredentials again = parseBasicAuthorization("Basic " + base64(c.user + ':' + c.password));
    FUZZ_CHECK(again.status == BasicCredentials::Status::Ok);
    FUZZ_CHECK(again.user == c.user && again.password == c.password);
    return 0;
}
