#include "server/Page.h"

#include "server/EmployeeDocument.h"
#include "server/FormDecoder.h"
#include "server/StatementChecker.h"

#include <algorithm>
#include <cctype>
#include <future>
#include <system_error>
#include <thread>

namespace vendoremp::server {

namespace {

constexpr std::string_view pageName = "/VendorEmployee.asp";

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// The media type without parameters, lower case.
std::string mediaType(const std::string &contentType)
{
    std::string_view type = contentType;
    type = type.substr(0, type.find(';'));
    while (!type.empty() && (type.front() == ' ' || type.front() == '\t'))
        type.remove_prefix(1);
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
        type.remove_suffix(1);
    return lower(type);
}

const char *plural(std::int64_t n)
{
    return n == 1 ? "" : "s";
}

} // namespace

http::Response plainAnswer(int status, std::string body)
{
    http::Response r;
    r.status = status;
    r.body = std::move(body);
    // The control reloads after a save, so no answer may come from a cache.
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

std::string saveSummary(std::int64_t linked, std::int64_t unlinked)
{
    return std::to_string(linked) + " employee" + plural(linked) + " linked, " +
           std::to_string(unlinked) + " unlinked.";
}

Page::Page(Store &store, ErrorLog log) : m_store(store), m_log(std::move(log)) {}

Page::~Page()
{
    const std::lock_guard lock(m_probeMutex);
    if (m_probe.valid())
        m_probe.wait(); // the probe's thread uses the store until it answers
}

http::Response Page::health(const http::Request &request) const
{
    if (request.method != "GET" && request.method != "HEAD") {
        http::Response r = plainAnswer(405, "Only GET is allowed.");
        r.headers.emplace_back("Allow", "GET");
        return r;
    }
    std::shared_future<bool> probe;
    std::chrono::steady_clock::time_point deadline;
    {
        const std::lock_guard lock(m_probeMutex);
        if (!m_probe.valid() ||
            m_probe.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            auto answer = std::make_shared<std::promise<bool>>();
            m_probe = answer->get_future().share();
            m_probeDeadline = std::chrono::steady_clock::now() + healthDeadline;
            try {
                std::thread([this, answer] {
                    bool ok = false;
                    try {
                        m_store.ping();
                        ok = true;
                    } catch (const std::exception &e) {
                        if (m_log)
                            m_log(std::string("health probe: ") + e.what());
                    }
                    answer->set_value(ok); // nothing of this page is touched after it
                }).detach();
            } catch (const std::system_error &) {
                // No thread to spare: unhealthy now, and the next probe tries again.
                answer->set_value(false);
            }
        }
        probe = m_probe;
        deadline = m_probeDeadline;
    }
    // Past the running probe's own deadline the database has already failed to answer in time.
    if (probe.wait_until(deadline) != std::future_status::ready || !probe.get())
        return plainAnswer(503, "unavailable");
    return plainAnswer(200, "ok");
}

http::Response Page::handle(const http::Request &request, const Actor &actor) const
{
    // A server name ending in "/" or naming a folder still reaches the page.
    if (!std::string_view(request.path).ends_with(pageName))
        return plainAnswer(404, "Not found: only " + std::string(pageName) + " is served.");
    try {
        if (request.method == "GET")
            return load(request);
        if (request.method == "POST")
            return save(request, actor);
        http::Response r = plainAnswer(405, "Only GET and POST are allowed.");
        r.headers.emplace_back("Allow", "GET, POST");
        return r;
    } catch (const StoreError &e) {
        if (m_log)
            m_log(e.what());
        return plainAnswer(500, "The database failed; nothing was changed.");
    } catch (const std::exception &e) {
        if (m_log)
            m_log(e.what());
        return plainAnswer(500, "The server failed; nothing was changed.");
    }
}

http::Response Page::load(const http::Request &request) const
{
    const DecodedForm query = decodeForm(request.query);
    if (!query.ok)
        return plainAnswer(400, "Bad query: " + query.error + ".");
    const FormField *vendorField = nullptr;
    for (const FormField &field : query.fields) {
        if (field.name != "VendorID")
            continue;
        if (vendorField)
            return plainAnswer(400, "VendorID is given more than once.");
        vendorField = &field;
    }
    if (!vendorField)
        return plainAnswer(400, "VendorID is missing.");
    const std::optional<std::int64_t> vendorId = parseDecimal(vendorField->value);
    if (!vendorId)
        return plainAnswer(400, "VendorID must be a decimal integer.");

    const std::size_t expected = m_documentBytes.load(std::memory_order_relaxed);
    EmployeeDocumentWriter document(expected + expected / 16);
    if (!m_store.vendorEmployees(*vendorId, document))
        return plainAnswer(404, "There is no vendor " + std::to_string(*vendorId) + ".");
    http::Response r = plainAnswer(200, document.finish());
    m_documentBytes.store(r.body.size(), std::memory_order_relaxed);
    r.contentType = "text/xml; charset=utf-8";
    return r;
}

http::Response Page::save(const http::Request &request, const Actor &actor) const
{
    const std::string type = mediaType(request.header("Content-Type"));
    if (type != "application/x-www-form-urlencoded")
        return plainAnswer(415, "The body must be application/x-www-form-urlencoded.");
    // Field by field: memory stays in proportion to the body, and the first bad field ends the
    // reading.
    FormReader reader(request.body);
    FormField field;
    std::vector<LinkChange> changes;
    for (std::size_t i = 1; reader.next(field); ++i) {
        const auto where = [i] { return "field " + std::to_string(i); };
        if (field.name != "SQL")
            return plainAnswer(400, "Refused: " + where() +
                                        " is not named SQL. Nothing was changed.");
        CheckedStatement checked = checkStatement(field.value);
        if (!checked.ok())
            return plainAnswer(400, "Refused: " + where() + " is not an allowed statement (" +
                                        checked.reason + "). Nothing was changed.");
        changes.push_back(std::move(*checked.change));
    }
    if (!reader.ok())
        return plainAnswer(400, "Refused: " + reader.error() + ". Nothing was changed.");

    const ApplyResult result = m_store.apply(changes, actor);
    if (!result.applied)
        return plainAnswer(400, "Refused: " + result.refusal + ". Nothing was changed.");
    return plainAnswer(200, saveSummary(result.linked, result.unlinked));
}

} // namespace vendoremp::server
