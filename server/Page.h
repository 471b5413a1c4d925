#pragma once

// The server page VendorEmployee.asp: GET answers the employee document of a vendor, POST
// applies the links and unlinks of a save.

#include "http/HttpServer.h"
#include "server/Store.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

namespace vendoremp::server {

class Page
{
public:
    /// Receives the details of a database failure, which the reply leaves out.
    using ErrorLog = std::function<void(const std::string &)>;

    explicit Page(Store &store, ErrorLog log = {});

    /// Safe from any thread.
    http::Response handle(const http::Request &request) const;

private:
    http::Response load(const http::Request &request) const;
    http::Response save(const http::Request &request) const;

    Store &m_store;
    ErrorLog m_log;
    // The size of the last document: most loads are of a vendor loaded before.
    mutable std::atomic<std::size_t> m_documentBytes{0};
};

/// "N employees linked, M unlinked." (singular for one).
std::string saveSummary(std::int64_t linked, std::int64_t unlinked);

} // namespace vendoremp::server
