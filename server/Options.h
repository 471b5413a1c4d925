#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

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
};

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
