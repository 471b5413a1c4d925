#include "server/Access.h"

#include "server/Page.h"

#include <boost/asio/ip/address.hpp>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace vendoremp::server {

namespace {

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

http::Response askForLogin()
{
    http::Response r = plainAnswer(401, "Log in: this server needs a user name and password.");
    r.headers.emplace_back("WWW-Authenticate", R"(Basic realm="VendorEmployee", charset="UTF-8")");
    return r;
}

// "name:port" -> name, port; "[v6]:port" keeps the brackets. No port: port is empty.
std::pair<std::string_view, std::string_view> splitHostPort(std::string_view host)
{
    const std::size_t colon = host.rfind(':');
    if (colon == std::string_view::npos || (host.starts_with('[') && host.back() == ']'))
        return {host, {}};
    return {host.substr(0, colon), host.substr(colon + 1)};
}

} // namespace

std::optional<std::string> canonicalAddress(std::string_view text)
{
    boost::system::error_code ec;
    auto address = boost::asio::ip::make_address(std::string(text), ec);
    if (ec)
        return std::nullopt;
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
    return address.to_string();
}

bool isLoopbackAddress(const std::string &canonical)
{
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(canonical, ec);
    return !ec && address.is_loopback();
}

CredentialCache::CredentialCache()
{
    if (RAND_bytes(m_key.data(), int(m_key.size())) != 1)
        throw std::runtime_error("no random bytes for the credential cache's key");
}

std::string CredentialCache::digest(std::string_view user, std::string_view password) const
{
    // The name cannot hold a NUL, so the pair has one reading.
    std::string message;
    message.reserve(user.size() + 1 + password.size());
    message.append(user).append(1, '\0').append(password);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), m_key.data(), int(m_key.size()),
         reinterpret_cast<const unsigned char *>(message.data()), message.size(), out, &length);
    OPENSSL_cleanse(message.data(), message.size());
    return std::string(reinterpret_cast<const char *>(out), length);
}

bool CredentialCache::verify(std::string_view user, std::string_view password,
                             const std::function<bool()> &check)
{
    const std::string key = digest(user, password);
    std::promise<bool> answer;
    std::uint64_t generation = 0;
    {
        std::unique_lock lock(m_mutex);
        generation = m_generation;
        const auto now = std::chrono::steady_clock::now();
        if (const auto it = m_entries.find(key); it != m_entries.end()) {
            if (now < it->second)
                return true;
            m_entries.erase(it);
        }
        if (const auto it = m_running.find(key); it != m_running.end()) {
            const std::shared_future<bool> running = it->second;
            lock.unlock();
            return running.get();
        }
        m_running.emplace(key, answer.get_future().share());
    }
    bool ok = false;
    try {
        ok = check();
    } catch (...) {
    }
    {
        std::lock_guard lock(m_mutex);
        if (generation == m_generation)
            m_running.erase(key);
        if (ok && generation == m_generation) {
            const auto now = std::chrono::steady_clock::now();
            if (m_entries.size() >= maxEntries) {
                std::erase_if(m_entries, [now](const auto &entry) { return entry.second < now; });
                if (m_entries.size() >= maxEntries)
                    m_entries.clear();
            }
            m_entries[key] = now + lifetime;
        }
    }
    answer.set_value(ok);
    return ok;
}

void CredentialCache::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_running.clear(); // their waiters hold their own futures
    ++m_generation;
}

long long FailedLogins::blockedFor(const std::string &address, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(address);
    if (it == m_entries.end() || it->second.blockedUntil <= now)
        return 0;
    const auto left = std::chrono::ceil<std::chrono::seconds>(it->second.blockedUntil - now);
    return std::max<long long>(1, left.count());
}

void FailedLogins::failed(const std::string &address, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(address);
    if (it == m_entries.end()) {
        if (m_entries.size() >= maxAddresses)
            makeRoom(now);
        it = m_entries.emplace(address, Entry{0, now, now, {}}).first;
    }
    Entry &e = it->second;
    if (now - e.windowStart > window) {
        e.failures = 0;
        e.windowStart = now;
    }
    e.last = now;
    if (++e.failures >= maxFailures) {
        e.blockedUntil = now + blockFor;
        e.failures = 0;
        e.windowStart = e.blockedUntil;
    }
}

void FailedLogins::makeRoom(Clock::time_point now)
{
    std::erase_if(m_entries, [now](const auto &entry) {
        return entry.second.blockedUntil <= now && now - entry.second.windowStart > window;
    });
    if (m_entries.size() < maxAddresses)
        return;
    const auto oldest = std::min_element(
        m_entries.begin(), m_entries.end(),
        [](const auto &a, const auto &b) { return a.second.last < b.second.last; });
    m_entries.erase(oldest);
}

Access::Access(AccessSettings settings, Log log)
    : m_settings(std::move(settings)), m_log(std::move(log))
{
    std::string listen = lower(m_settings.listenHost);
    if (listen.find(':') != std::string::npos)
        listen = "[" + listen + "]";
    m_defaultHosts = {listen, "localhost", "127.0.0.1", "[::1]"};
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0 && name[0])
        m_defaultHosts.push_back(lower(name));
    for (std::string &origin : m_settings.allowOrigins) {
        origin = lower(origin);
        while (origin.ends_with('/'))
            origin.pop_back();
    }
}

std::string Access::loadUsers(const std::string &path)
{
    ParsedUsers parsed = readUsersFile(path);
    if (!parsed.users)
        return parsed.error;
    if (m_decoyHash.empty()) {
        const std::optional<std::string> decoy = hashPassword("decoy");
        if (!decoy)
            return "libxcrypt cannot make a yescrypt hash";
        m_decoyHash = *decoy;
    }
    {
        std::lock_guard lock(m_usersMutex);
        m_users = std::make_shared<const UserList>(std::move(*parsed.users));
    }
    m_cache.clear();
    return {};
}

std::string Access::clientAddress(const http::Request &request) const
{
    const auto &proxies = m_settings.trustedProxies;
    if (std::find(proxies.begin(), proxies.end(), request.remoteAddress) == proxies.end())
        return request.remoteAddress;
    // Only the last entry is the proxy's own: the ones before came from the client.
    std::string last;
    bool found = false;
    for (const auto &[name, value] : request.headers) {
        if (lower(name) != "x-forwarded-for")
            continue;
        const std::string_view list = value;
        last = std::string(trimmed(list.substr(list.rfind(',') + 1)));
        found = true;
    }
    if (!found)
        return request.remoteAddress;
    const std::optional<std::string> address = canonicalAddress(last);
    return address ? *address : request.remoteAddress;
}

bool Access::hostAllowed(const std::string &hostHeader) const
{
    const std::string host = lower(trimmed(hostHeader));
    const auto [name, port] = splitHostPort(host);
    // A browser names the port whenever it is not the scheme's default, so a Host without one
    // cannot come from a page elsewhere; plain clients often leave it out.
    const bool ourPort = port.empty() || port == std::to_string(m_port.load());
    for (const std::string &allowed : m_defaultHosts) {
        if (name == allowed && ourPort)
            return true;
    }
    for (const std::string &entry : m_settings.allowHosts) {
        const std::string allowed = lower(entry);
        if (host == allowed)
            return true;
        if (splitHostPort(allowed).second.empty() && name == allowed)
            return true; // a name without port: any port
    }
    return false;
}

bool Access::originAllowed(const std::string &origin) const
{
    const std::string o = lower(trimmed(origin));
    return std::find(m_settings.allowOrigins.begin(), m_settings.allowOrigins.end(), o) !=
           m_settings.allowOrigins.end();
}

Access::Decision Access::admit(const http::Request &request)
{
    Decision d;
    d.actor.address = clientAddress(request);

    // Against rebinding: a page whose name now points here still sends its own name.
    int hosts = 0;
    bool hostOk = false;
    // Against cross-site posts: a browser names the page's origin, and the kind of site.
    bool anyOrigin = false, foreignOrigin = false;
    for (const auto &[name, value] : request.headers) {
        const std::string field = lower(name);
        if (field == "host") {
            ++hosts;
            hostOk = hostAllowed(value);
        } else if (field == "origin") {
            anyOrigin = true;
            foreignOrigin = foreignOrigin || !originAllowed(value);
        }
    }
    if (hosts != 1 || !hostOk) {
        d.refusal = plainAnswer(403, "Forbidden: this server does not answer to that host name.");
        return d;
    }
    const bool listedOrigin = anyOrigin && !foreignOrigin;
    const std::string site = lower(trimmed(request.header("Sec-Fetch-Site")));
    if (foreignOrigin || ((site == "cross-site" || site == "same-site") && !listedOrigin)) {
        d.refusal = plainAnswer(403, "Forbidden: requests from other sites are not accepted.");
        return d;
    }

    Role role = Role::Write;
    if (auto refused = login(request, d.actor, role)) {
        d.refusal = std::move(refused);
        return d;
    }
    if (role == Role::Read && request.method != "GET" && request.method != "HEAD")
        d.refusal =
            plainAnswer(403, "Forbidden: this user may read, not change. Nothing was changed.");
    return d;
}

std::optional<http::Response> Access::login(const http::Request &request, Actor &actor,
                                            Role &role)
{
    std::shared_ptr<const UserList> users;
    {
        std::lock_guard lock(m_usersMutex);
        users = m_users;
    }
    if (!users)
        return std::nullopt;

    const auto now = FailedLogins::Clock::now();
    if (const long long wait = m_failures.blockedFor(actor.address, now)) {
        http::Response r = plainAnswer(429, "Too many failed logins from this address; try later.");
        r.headers.emplace_back("Retry-After", std::to_string(wait));
        return r;
    }

    const auto &proxies = m_settings.trustedProxies;
    const bool fromProxy = !m_settings.userHeader.empty() &&
                           std::find(proxies.begin(), proxies.end(), request.remoteAddress) !=
                               proxies.end();
    if (fromProxy) {
        const std::string name = std::string(trimmed(request.header(m_settings.userHeader)));
        if (!name.empty()) {
            const auto it = users->find(name);
            if (it == users->end())
                return plainAnswer(403, "Forbidden: the user is not listed on this server.");
            actor.user = name;
            role = it->second.role;
            return std::nullopt;
        }
    }

    bool hasAuthorization = false;
    for (const auto &[name, value] : request.headers)
        hasAuthorization = hasAuthorization || lower(name) == "authorization";
    if (!hasAuthorization)
        return askForLogin();
    const BasicCredentials credentials = parseBasicAuthorization(request.header("Authorization"));
    if (credentials.status != BasicCredentials::Status::Ok)
        return plainAnswer(400, "Bad request: " + credentials.problem + ".");

    const auto it = users->find(credentials.user);
    const bool ok = m_cache.verify(credentials.user, credentials.password, [&] {
        // An unknown name costs a check too, so that timing does not tell names apart.
        const bool matches = passwordMatches(
            credentials.password, it != users->end() ? it->second.hash : m_decoyHash);
        return matches && it != users->end();
    }) && it != users->end(); // remembered from before a reload that removed the user
    if (!ok) {
        m_failures.failed(actor.address, now);
        if (m_log)
            m_log("failed login from " + actor.address);
        return askForLogin();
    }
    actor.user = credentials.user;
    role = it->second.role;
    return std::nullopt;
}

} // namespace vendoremp::server
