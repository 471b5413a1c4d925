#pragma once

// Who may do what, decided before the page sees a request: the Host and Origin checks against
// rebinding and cross-site posts, the login (HTTP Basic against the users file, or the name a
// trusted proxy passes), the cost of guessing passwords, and the role.

#include "http/HttpServer.h"
#include "server/Store.h"
#include "server/Users.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vendoremp::server {

/// An IP address as the HTTP layer prints a peer's ("127.0.0.1", "::1"; IPv4-mapped as IPv4),
/// or nothing when the text is none.
std::optional<std::string> canonicalAddress(std::string_view text);
bool isLoopbackAddress(const std::string &canonical);

/// Verified credentials, remembered a short time so that a busy client is not re-hashed on
/// every request. Held as keyed digests (HMAC-SHA256 with a key made at start-up), never the
/// password. At most maxEntries; when full, expired entries go, and all of them if none has.
class CredentialCache
{
public:
    static constexpr std::size_t maxEntries = 10000;
    static constexpr std::chrono::seconds lifetime{60};

    CredentialCache();
    /// True when the credentials were verified within the lifetime; otherwise runs check once,
    /// however many requests carrying them arrive while it runs (they wait for its answer), and
    /// remembers a success.
    bool verify(std::string_view user, std::string_view password,
                const std::function<bool()> &check);
    void clear();

private:
    std::string digest(std::string_view user, std::string_view password) const;

    std::array<unsigned char, 32> m_key{};
    std::mutex m_mutex;
    std::unordered_map<std::string, std::chrono::steady_clock::time_point> m_entries;
    std::unordered_map<std::string, std::shared_future<bool>> m_running;
    std::uint64_t m_generation = 0; // a check that began before clear() is not remembered
};

/// Failed logins per client address. After maxFailures within window, the address is blocked
/// for blockFor. At most maxAddresses entries (about 150 bytes each); when full, entries whose
/// window has passed go, and if none has, the one whose last failure is oldest.
class FailedLogins
{
public:
    static constexpr int maxFailures = 10;
    static constexpr std::chrono::seconds window{60};
    static constexpr std::chrono::seconds blockFor{60};
    static constexpr std::size_t maxAddresses = 10000;

    using Clock = std::chrono::steady_clock;

    /// Seconds until the block ends (at least 1), or 0 when the address is not blocked.
    long long blockedFor(const std::string &address, Clock::time_point now);
    void failed(const std::string &address, Clock::time_point now);

private:
    struct Entry
    {
        int failures = 0;
        Clock::time_point windowStart, last, blockedUntil;
    };
    void makeRoom(Clock::time_point now);

    std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
};

struct AccessSettings
{
    std::string listenHost;
    std::vector<std::string> trustedProxies; // canonical addresses
    std::string userHeader;
    std::vector<std::string> allowHosts;
    std::vector<std::string> allowOrigins;
};

class Access
{
public:
    using Log = std::function<void(const std::string &)>;

    Access(AccessSettings settings, Log log);

    /// Reads the users file and from then on asks every request for a user of it; the
    /// credential cache is emptied. On failure the list in use stays and the error is returned.
    std::string loadUsers(const std::string &path);
    /// The port the server listens on, for the default allowed hosts.
    void setPort(std::uint16_t port) { m_port = port; }

    struct Decision
    {
        std::optional<http::Response> refusal; // set: answer this, the page never sees it
        Actor actor;
    };
    Decision admit(const http::Request &request);

    /// The client's address: the peer's, or from a trusted proxy the last X-Forwarded-For entry.
    std::string clientAddress(const http::Request &request) const;

private:
    bool hostAllowed(const std::string &host) const;
    bool originAllowed(const std::string &origin) const;
    std::optional<http::Response> login(const http::Request &request, Actor &actor, Role &role);

    AccessSettings m_settings;
    Log m_log;
    std::vector<std::string> m_defaultHosts; // lower case, without port
    std::atomic<std::uint16_t> m_port{0};

    mutable std::mutex m_usersMutex;
    std::shared_ptr<const UserList> m_users; // null: no login asked
    std::string m_decoyHash; // checked for unknown users, so they cost what known ones do

    CredentialCache m_cache;
    FailedLogins m_failures;
};

} // namespace vendoremp::server
