#include "http/HttpServer.h"

#include <stdexcept>

namespace vendoremp::http {

// Not built yet.
struct Server::Impl
{
};

std::string Request::header(const std::string &) const
{
    return {};
}

Server::Server(Handler, Limits) : m_impl(std::make_unique<Impl>()) {}
Server::~Server() = default;
std::uint16_t Server::listen(const std::string &, std::uint16_t)
{
    throw std::runtime_error("not built yet");
}
std::uint16_t Server::port() const
{
    return 0;
}
void Server::stop() {}

} // namespace vendoremp::http
