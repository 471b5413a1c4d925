#include "server/Store.h"

#include <algorithm>

namespace vendoremp::server {

namespace {

std::vector<std::int64_t> distinct(std::vector<std::int64_t> ids)
{
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

bool holds(const std::vector<std::int64_t> &sorted, std::int64_t id)
{
    return std::binary_search(sorted.begin(), sorted.end(), id);
}

} // namespace

std::vector<Batch> batches(std::span<const LinkChange> changes)
{
    std::vector<Batch> out;
    for (const LinkChange &c : changes) {
        const bool link = c.kind == LinkChange::Kind::Link;
        if (out.empty() || out.back().link != link || out.back().vendorId != c.vendorId)
            out.push_back({link, c.vendorId, {}});
        auto &ids = out.back().employeeIds;
        ids.insert(ids.end(), c.employeeIds.begin(), c.employeeIds.end());
    }
    return out;
}

ApplyResult applySave(std::span<const LinkChange> changes, SaveSteps &steps)
{
    ApplyResult result;
    std::vector<std::int64_t> vendors, employees;
    vendors.reserve(changes.size());
    for (const LinkChange &c : changes) {
        vendors.push_back(c.vendorId);
        employees.insert(employees.end(), c.employeeIds.begin(), c.employeeIds.end());
    }
    const std::vector<std::int64_t> missingVendors = steps.missingVendors(distinct(vendors));
    const std::vector<std::int64_t> missingEmployees = steps.missingEmployees(distinct(employees));
    if (!missingVendors.empty() || !missingEmployees.empty()) {
        for (const LinkChange &c : changes) {
            if (holds(missingVendors, c.vendorId)) {
                result.refusal = "unknown vendor " + std::to_string(c.vendorId);
                return result;
            }
            for (std::int64_t id : c.employeeIds) {
                if (holds(missingEmployees, id)) {
                    result.refusal = "unknown employee " + std::to_string(id);
                    return result;
                }
            }
        }
        result.refusal = "unknown vendor or employee"; // a backend named an ID the post lacks
        return result;
    }
    for (const Batch &batch : batches(changes))
        (batch.link ? result.linked : result.unlinked) += steps.apply(batch);
    result.applied = true;
    return result;
}

std::unique_ptr<Store> openStore(const std::string &database)
{
    if (database.starts_with("sqlite:")) {
        const std::string path = database.substr(7);
        if (path.empty())
            throw std::invalid_argument("sqlite: needs a file path, e.g. sqlite:vendoremp.db");
        return openSqliteStore(path);
    }
    if (database.starts_with("postgresql://") || database.starts_with("postgres://"))
        return openPostgresStore(database);
    throw std::invalid_argument("unknown database \"" + database +
                                "\": use sqlite:PATH or postgresql://...");
}

} // namespace vendoremp::server
