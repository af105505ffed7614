#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <thread>

namespace ostrelle {

// A key exchange server of a test's own on 127.0.0.1: TLS through GnuTLS on a thread of its own,
// one connection, answering whatever request with the records the test gives. It exports the
// keys the client should have derived, so a test can compare them.
class NtsKeTestServer
{
public:
    struct Script
    {
        QByteArray response;         // key exchange records sent after the request
        QByteArray alpn = "ntske/1"; // the protocol it offers; empty: none
        QByteArray priority = "NORMAL:-VERS-ALL:+VERS-TLS1.3";
    };

    NtsKeTestServer() = default;
    ~NtsKeTestServer();
    NtsKeTestServer(const NtsKeTestServer&) = delete;
    NtsKeTestServer& operator=(const NtsKeTestServer&) = delete;

    // Listens on a free port and serves one connection with the key and certificate of folder
    // (key.pem, cert.pem); false when it cannot listen or load them.
    [[nodiscard]] bool start(const QString& folder, const Script& script);
    quint16 port() const { return m_port; }

    // Once the connection is over (they wait for it): the request it read and the keys it exported.
    QByteArray request();
    QByteArray c2sKey();
    QByteArray s2cKey();

private:
    void serve(const QByteArray& keyFile, const QByteArray& certFile, const Script& script);
    void join();

    qintptr m_listener = -1; // a descriptor, or a Winsock handle
    quint16 m_port = 0;
    std::thread m_thread;
    QByteArray m_request;
    QByteArray m_c2sKey;
    QByteArray m_s2cKey;
};

} // namespace ostrelle
