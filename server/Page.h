#pragma once

// The server page VendorEmployee.asp: GET answers the employee document of a vendor, POST
// applies the links and unlinks of a save.

#include "http/HttpServer.h"
#include "server/Store.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <cstddef>
#include <functional>
#include <future>
#include <mutex>
#include <string>

namespace vendoremp::server {

class Page
{
public:
    /// Receives the details of a database failure, which the reply leaves out.
    using ErrorLog = std::function<void(const std::string &)>;

    explicit Page(Store &store, ErrorLog log = {});
    ~Page(); // waits for a health probe still running

    /// Safe from any thread. The actor is who the changes of a save are written down for.
    http::Response handle(const http::Request &request, const Actor &actor = {}) const;

    /// GET /healthz: "ok" while the database answers within healthDeadline, else 503. Says
    /// nothing more, so it needs no credentials.
    http::Response health(const http::Request &request) const;
    static constexpr std::chrono::milliseconds healthDeadline{1000};

private:
    http::Response load(const http::Request &request) const;
    http::Response save(const http::Request &request, const Actor &actor) const;

    Store &m_store;
    ErrorLog m_log;
    // The size of the last document: most loads are of a vendor loaded before.
    mutable std::atomic<std::size_t> m_documentBytes{0};
    // One probe at a time: a database that hangs holds one thread, not one per probe. Requests
    // that come while it runs share its answer, so two monitors never see a spurious 503.
    mutable std::mutex m_probeMutex;
    mutable std::shared_future<bool> m_probe;
    mutable std::chrono::steady_clock::time_point m_probeDeadline;
};

/// "N employees linked, M unlinked." (singular for one).
std::string saveSummary(std::int64_t linked, std::int64_t unlinked);

/// A plain-text answer of the server, never cached: each reflects the database and the server's
/// rules at that moment.
http::Response plainAnswer(int status, std::string body);

} // namespace vendoremp::server
