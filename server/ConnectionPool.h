#pragma once

// Database connections are not safe to share between threads, and opening one costs more than a
// request. The pool hands each request a connection of its own and keeps a few idle ones.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace vendoremp::server {

template <class Connection> class ConnectionPool
{
public:
    using Opener = std::function<std::unique_ptr<Connection>()>;

    class Lease
    {
    public:
        Lease(ConnectionPool &pool, std::unique_ptr<Connection> connection)
            : m_pool(&pool), m_connection(std::move(connection))
        {
        }
        Lease(Lease &&other) noexcept = default;
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        ~Lease()
        {
            if (m_connection)
                m_pool->giveBack(std::move(m_connection));
        }

        Connection &operator*() const { return *m_connection; }
        Connection *operator->() const { return m_connection.get(); }
        /// The connection is in an unknown state: close it rather than hand it out again.
        void discard() { m_connection.reset(); }

    private:
        ConnectionPool *m_pool;
        std::unique_ptr<Connection> m_connection;
    };

    static constexpr std::size_t defaultMaxIdle = 8;

    explicit ConnectionPool(Opener open, std::size_t maxIdle = defaultMaxIdle)
        : m_open(std::move(open)), m_maxIdle(maxIdle)
    {
    }

    /// An idle connection, or a new one. @throws whatever the opener throws
    Lease acquire()
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_idle.empty()) {
                auto connection = std::move(m_idle.back());
                m_idle.pop_back();
                return Lease(*this, std::move(connection));
            }
        }
        return Lease(*this, m_open());
    }

private:
    void giveBack(std::unique_ptr<Connection> connection)
    {
        std::lock_guard lock(m_mutex);
        if (m_idle.size() < m_maxIdle)
            m_idle.push_back(std::move(connection));
    }

    Opener m_open;
    std::size_t m_maxIdle;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Connection>> m_idle;
};

} // namespace vendoremp::server
