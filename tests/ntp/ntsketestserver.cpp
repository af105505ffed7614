#include "tests/ntp/ntsketestserver.h"

#include <QDir>
#include <QFile>
#include <cstring>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <gnutls/gnutls.h>

namespace ostrelle {

namespace {

constexpr int WaitMs = 5000;

#ifdef Q_OS_WIN
using Socket = SOCKET;
using SocketLength = int;

bool winsockStarted()
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

int waitForConnection(Socket listener)
{
    WSAPOLLFD waiting{listener, POLLIN, 0};
    return ::WSAPoll(&waiting, 1, WaitMs);
}

void setReceiveTimeout(Socket socket)
{
    const DWORD timeout = WaitMs;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
}

void closeSocket(Socket socket)
{
    ::closesocket(socket);
}
#else
using Socket = int;
using SocketLength = socklen_t;

bool winsockStarted()
{
    return true;
}

int waitForConnection(Socket listener)
{
    pollfd waiting{listener, POLLIN, 0};
    return ::poll(&waiting, 1, WaitMs);
}

void setReceiveTimeout(Socket socket)
{
    const timeval timeout{WaitMs / 1000, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

void closeSocket(Socket socket)
{
    ::close(socket);
}
#endif

QByteArray exportKey(gnutls_session_t session, char direction)
{
    const char label[] = "EXPORTER-network-time-security";
    const char context[] = {0, 0, 0, 15, direction};
    QByteArray key(32, '\0');
    if (gnutls_prf_rfc5705(session, std::strlen(label), label, sizeof context, context, 32, key.data()) < 0)
        return {};
    return key;
}

} // namespace

NtsKeTestServer::~NtsKeTestServer()
{
    join();
}

bool NtsKeTestServer::start(const QString& folder, const Script& script)
{
    if (!winsockStarted())
        return false;
    const Socket listener = ::socket(AF_INET, SOCK_STREAM, 0);
    m_listener = static_cast<qintptr>(listener);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SocketLength size = sizeof address;
    if (m_listener == -1 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return false;
    m_port = ntohs(address.sin_port);
    const QDir dir(folder);
    m_thread = std::thread(&NtsKeTestServer::serve, this, QFile::encodeName(dir.filePath("key.pem")),
                           QFile::encodeName(dir.filePath("cert.pem")), script);
    return true;
}

void NtsKeTestServer::serve(const QByteArray& keyFile, const QByteArray& certFile, const Script& script)
{
    const Socket listener = static_cast<Socket>(m_listener);
    if (waitForConnection(listener) != 1)
        return;
    const Socket connection = ::accept(listener, nullptr, nullptr);
    if (static_cast<qintptr>(connection) == -1)
        return;
    setReceiveTimeout(connection);

    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_session_t session = nullptr;
    gnutls_certificate_allocate_credentials(&credentials);
    gnutls_init(&session, GNUTLS_SERVER);
    gnutls_datum_t alpn{reinterpret_cast<unsigned char*>(const_cast<char*>(script.alpn.constData())),
                        unsigned(script.alpn.size())};
    if (gnutls_certificate_set_x509_key_file(credentials, certFile.constData(), keyFile.constData(),
                                             GNUTLS_X509_FMT_PEM) >= 0 &&
        gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, credentials) >= 0 &&
        gnutls_priority_set_direct(session, script.priority.constData(), nullptr) >= 0 &&
        (script.alpn.isEmpty() || gnutls_alpn_set_protocols(session, &alpn, 1, 0) >= 0)) {
        // A Winsock handle is a small number too; GnuTLS passes it back to send() and recv().
        gnutls_transport_set_int(session, static_cast<int>(connection));
        int code;
        do {
            code = gnutls_handshake(session);
        } while (code < 0 && gnutls_error_is_fatal(code) == 0);
        // As a real server does, it tells the client why the handshake failed.
        if (code < 0)
            gnutls_alert_send_appropriate(session, code);
        char buffer[1024];
        const ssize_t received = code < 0 ? -1 : gnutls_record_recv(session, buffer, sizeof buffer);
        if (received > 0) {
            m_request = QByteArray(buffer, qsizetype(received));
            m_c2sKey = exportKey(session, 0);
            m_s2cKey = exportKey(session, 1);
            gnutls_record_send(session, script.response.constData(), size_t(script.response.size()));
            gnutls_bye(session, GNUTLS_SHUT_WR);
        }
    }
    gnutls_deinit(session);
    gnutls_certificate_free_credentials(credentials);
    closeSocket(connection);
}

void NtsKeTestServer::join()
{
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener != -1)
        closeSocket(static_cast<Socket>(m_listener));
    m_listener = -1;
}

QByteArray NtsKeTestServer::request()
{
    join();
    return m_request;
}

QByteArray NtsKeTestServer::c2sKey()
{
    join();
    return m_c2sKey;
}

QByteArray NtsKeTestServer::s2cKey()
{
    join();
    return m_s2cKey;
}

} // namespace ostrelle
