#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vendoremp::server {

struct Options
{
    std::string host = "127.0.0.1";
    std::uint16_t port = 8080;
    std::string database = "sqlite:vendoremp.db";
    enum class Seed
    {
        None,
        Demo,
        Generated,
    } seed = Seed::None;
    std::int64_t seedCount = 0; // for Seed::Generated
    unsigned threads = 4;
    std::string tlsCertFile, tlsKeyFile; // both or neither: HTTPS
    std::size_t maxConnectionsPerClient = 128;
    bool help = false;
    bool hashPassword = false; // print a hash of the password on standard input, then exit

    std::string usersFile;                   // empty: no login asked
    std::vector<std::string> trustedProxies; // IP addresses, as printed by Boost.Asio
    std::string userHeader;                  // from a trusted proxy: the user's name
    bool insecureOpen = false;
    std::vector<std::string> allowHosts;   // beside the defaults
    std::vector<std::string> allowOrigins; // "scheme://host[:port]"
};

/// Why these options leave the server open on a network: empty when loopback, protected or
/// --insecure-open. The text says what to add.
std::string unprotectedReason(const Options &options);

struct ParsedOptions
{
    std::optional<Options> options; // nothing: error says why
    std::string error;
};

/// argv[0] is skipped.
ParsedOptions parseOptions(int argc, const char *const *argv);

/// "--help" text.
std::string usage();

} // namespace vendoremp::server
