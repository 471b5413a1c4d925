#pragma once

// TLS for tests: a certificate authority and a server certificate for 127.0.0.1 and localhost,
// made with the openssl command in a folder of the test's; and a client over OpenSSL that
// checks the server against that authority.

#include <QString>

#include <chrono>
#include <cstdint>
#include <string>

namespace kvetest {

struct TestCertificates
{
    QString caFile, certificateFile, keyFile;
    QString error; // empty when they were made
};

/// Makes ca.pem, server.pem and server.key in this folder.
TestCertificates makeTestCertificates(const QString &folder);

struct TlsExchange
{
    bool handshake = false; // completed, with the server's certificate verified
    std::string answer;     // everything the server sent before closing
    std::string error;
};

/// Connects to 127.0.0.1:port, completes a handshake that trusts only caFile, sends the bytes
/// and reads until the server closes. version: 0 for any the client supports, else exactly
/// that one (TLS1_VERSION ... TLS1_3_VERSION), offered with every cipher OpenSSL has.
/// fromAddress: the loopback address the connection comes from (empty: the system's choice).
TlsExchange tlsExchange(std::uint16_t port, const QString &caFile, const std::string &bytes,
                        int version = 0,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10),
                        const std::string &fromAddress = {});

} // namespace kvetest
