#include "ntp/nts/ntskeclient.h"

#include "ntp/nts/aessiv.h"
#include "ntp/nts/ntskerecords.h"

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QMetaObject>
#include <QNetworkProxy>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <memory>

namespace ostrelle {

namespace {

constexpr char Alpn[] = "ntske/1";
constexpr char ExporterLabel[] = "EXPORTER-network-time-security";
constexpr char TlsPriority[] = "NORMAL:-VERS-ALL:+VERS-TLS1.3";
constexpr quint16 DefaultNtpPort = 123;

QString refusedText(const QString& why);

QString failedText(int code)
{
    // A server that hangs up without a word has refused us as surely as one that says so.
    if (code == GNUTLS_E_PREMATURE_TERMINATION)
        return refusedText(QStringLiteral("connection closed"));
    return QStringLiteral("NTS: key exchange failed: %1").arg(QString::fromUtf8(gnutls_strerror(code)));
}

QString refusedText(const QString& why)
{
    return QStringLiteral("NTS: key exchange refused: %1").arg(why);
}

// The reason for a certificate that did not verify, worst news first.
QString certificateText(unsigned int status)
{
    if (status & GNUTLS_CERT_EXPIRED)
        return QStringLiteral("NTS: certificate expired");
    if (status & GNUTLS_CERT_NOT_ACTIVATED)
        return QStringLiteral("NTS: certificate not yet valid");
    if (status & GNUTLS_CERT_UNEXPECTED_OWNER)
        return QStringLiteral("NTS: certificate not for this host");
    return QStringLiteral("NTS: certificate not trusted");
}

QString takeDatum(gnutls_datum_t& datum)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(datum.data), int(datum.size));
    gnutls_free(datum.data);
    datum.data = nullptr;
    return text;
}

NtsCertificateInfo peerCertificate(gnutls_session_t session)
{
    NtsCertificateInfo info;
    unsigned int count = 0;
    const gnutls_datum_t* chain = gnutls_certificate_get_peers(session, &count);
    gnutls_x509_crt_t certificate = nullptr;
    if (!chain || count == 0 || gnutls_x509_crt_init(&certificate) < 0)
        return info;
    if (gnutls_x509_crt_import(certificate, &chain[0], GNUTLS_X509_FMT_DER) == 0) {
        gnutls_datum_t datum{};
        if (gnutls_x509_crt_get_dn3(certificate, &datum, 0) == 0)
            info.subject = takeDatum(datum);
        if (gnutls_x509_crt_get_issuer_dn3(certificate, &datum, 0) == 0)
            info.issuer = takeDatum(datum);
        const time_t expiry = gnutls_x509_crt_get_expiration_time(certificate);
        if (expiry != time_t(-1))
            info.expiry = QDateTime::fromSecsSinceEpoch(qint64(expiry), Qt::UTC);
    }
    gnutls_x509_crt_deinit(certificate);
    return info;
}

// A key for one direction; the context names NTPv4 and AES-SIV-CMAC-256, then the direction.
QByteArray exportKey(gnutls_session_t session, char direction)
{
    const char context[] = {0, char(NtsProtocolNtpV4), 0, char(NtsAeadAesSivCmac256), direction};
    QByteArray key(AesSivCmac256::KeySize, Qt::Uninitialized);
    if (gnutls_prf_rfc5705(session, std::strlen(ExporterLabel), ExporterLabel, sizeof context, context,
                           size_t(key.size()), key.data()) < 0)
        return {};
    return key;
}

// The system's trust store and the extra file, loaded once for all key exchanges that trust the
// same: reading the store costs some 13 ms of CPU. Key exchanges run on one thread only.
std::shared_ptr<gnutls_certificate_credentials_st> trustCredentials(const QString& extraTrustFile, int& code)
{
    static QHash<QString, std::weak_ptr<gnutls_certificate_credentials_st>> loaded;
    if (auto credentials = loaded.value(extraTrustFile).lock())
        return credentials;
    gnutls_certificate_credentials_t raw = nullptr;
    code = gnutls_certificate_allocate_credentials(&raw);
    if (code < 0)
        return {};
    std::shared_ptr<gnutls_certificate_credentials_st> credentials(raw, gnutls_certificate_free_credentials);
    // A machine without a usable store can still trust the extra file.
    gnutls_certificate_set_x509_system_trust(raw);
    if (!extraTrustFile.isEmpty())
        code = gnutls_certificate_set_x509_trust_file(raw, QFile::encodeName(extraTrustFile).constData(),
                                                      GNUTLS_X509_FMT_PEM);
    if (code < 0)
        return {};
    loaded.insert(extraTrustFile, credentials);
    return credentials;
}

} // namespace

NtsKeClient::NtsKeClient(HostResolver& resolver, QObject* parent) : QObject(parent), m_resolver(resolver)
{
    m_deadline.setSingleShot(true);
    // Straight to the server: no proxy applies to NTS, and asking the system for one costs time.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("NTS: key exchange timed out")); });
    connect(&m_socket, &QTcpSocket::connected, this, &NtsKeClient::drive);
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        m_incoming += m_socket.readAll();
        drive();
    });
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        m_peerClosed = true;
        drive();
    });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &NtsKeClient::onSocketError);
}

NtsKeClient::~NtsKeClient()
{
    release();
}

void NtsKeClient::setExtraTrustFile(const QString& path)
{
    m_extraTrustFile = path;
    if (isRunning())
        start(m_host, m_port, std::chrono::milliseconds(m_deadline.remainingTime()));
}

void NtsKeClient::start(const QString& host, quint16 port, std::chrono::milliseconds timeout)
{
    abort();
    m_host = host;
    m_port = port;
    m_result = NtsKeResult{};
    m_deadline.start(timeout);

    int code = 0;
    if (!m_credentials || m_credentialsTrustFile != m_extraTrustFile) {
        m_credentials = trustCredentials(m_extraTrustFile, code);
        m_credentialsTrustFile = m_extraTrustFile;
    }
    if (code >= 0)
        code = gnutls_init(&m_session, GNUTLS_CLIENT | GNUTLS_NONBLOCK);
    if (code < 0) {
        m_session = nullptr;
        failLater(failedText(code));
        return;
    }
    m_verifiedName = host.toUtf8();
    gnutls_datum_t alpn{reinterpret_cast<unsigned char*>(const_cast<char*>(Alpn)),
                        unsigned(std::strlen(Alpn))};
    code = gnutls_priority_set_direct(m_session, TlsPriority, nullptr);
    if (code >= 0)
        code = gnutls_credentials_set(m_session, GNUTLS_CRD_CERTIFICATE, m_credentials.get());
    // Server name indication is for names only, never for an address.
    if (code >= 0 && QHostAddress(host).isNull())
        code = gnutls_server_name_set(m_session, GNUTLS_NAME_DNS, m_verifiedName.constData(),
                                      size_t(m_verifiedName.size()));
    if (code >= 0)
        code = gnutls_alpn_set_protocols(m_session, &alpn, 1, GNUTLS_ALPN_MANDATORY);
    if (code < 0) {
        failLater(failedText(code));
        return;
    }
    // The handshake then checks the chain, its dates and that it names this host; an address is
    // matched against the certificate's addresses, which the plain host name check does not do.
    const QHostAddress address(host);
    if (address.isNull()) {
        gnutls_session_set_verify_cert(m_session, m_verifiedName.constData(), 0);
    } else {
        m_verifiedAddress = address.protocol() == QAbstractSocket::IPv4Protocol
                                ? QByteArray(4, '\0')
                                : QByteArray(reinterpret_cast<const char*>(address.toIPv6Address().c), 16);
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            qToBigEndian(address.toIPv4Address(), m_verifiedAddress.data());
        m_verifyData = {GNUTLS_DT_IP_ADDRESS, reinterpret_cast<unsigned char*>(m_verifiedAddress.data()),
                        unsigned(m_verifiedAddress.size())};
        gnutls_session_set_verify_cert2(m_session, &m_verifyData, 1, 0);
    }
    gnutls_transport_set_ptr(m_session, this);
    gnutls_transport_set_push_function(m_session, &NtsKeClient::pushToSocket);
    gnutls_transport_set_pull_function(m_session, &NtsKeClient::pullFromBuffer);
    if (!address.isNull()) {
        connectTo(address);
        return;
    }
    const quint64 attempt = m_attempt;
    m_resolver.lookUp(host, this, [this, attempt](const HostLookup& lookup) {
        if (attempt != m_attempt || !m_session)
            return;
        if (lookup.addresses.isEmpty())
            fail(QStringLiteral("NTS: key exchange failed: %1").arg(lookup.error));
        else
            connectTo(lookup.addresses.first());
    });
}

void NtsKeClient::connectTo(const QHostAddress& address)
{
    // From the event loop: a refusal that the system gives at once (Wine on loopback, a network
    // without a route) comes out of connectToHost() itself, and would end the exchange inside
    // start(), before its caller has seen it running.
    const quint64 attempt = m_attempt;
    QMetaObject::invokeMethod(
        this,
        [this, attempt, address] {
            if (attempt == m_attempt && m_session)
                m_socket.connectToHost(address, m_port);
        },
        Qt::QueuedConnection);
}

void NtsKeClient::abort()
{
    m_deadline.stop();
    release();
}

ssize_t NtsKeClient::pushToSocket(void* self, const void* data, size_t size)
{
    auto* client = static_cast<NtsKeClient*>(self);
    const qint64 written = client->m_socket.write(static_cast<const char*>(data), qint64(size));
    if (written < 0) {
        gnutls_transport_set_errno(client->m_session, EIO);
        return -1;
    }
    return ssize_t(written);
}

ssize_t NtsKeClient::pullFromBuffer(void* self, void* data, size_t size)
{
    auto* client = static_cast<NtsKeClient*>(self);
    if (client->m_incoming.isEmpty()) {
        if (client->m_peerClosed)
            return 0;
        gnutls_transport_set_errno(client->m_session, EAGAIN);
        return -1;
    }
    const qsizetype taken = std::min(client->m_incoming.size(), qsizetype(size));
    std::memcpy(data, client->m_incoming.constData(), size_t(taken));
    client->m_incoming.remove(0, taken);
    return ssize_t(taken);
}

void NtsKeClient::drive()
{
    if (!m_session || m_socket.state() == QAbstractSocket::ConnectingState ||
        m_socket.state() == QAbstractSocket::HostLookupState)
        return;
    if (!m_handshakeDone) {
        const int code = gnutls_handshake(m_session);
        if (code == GNUTLS_E_AGAIN || code == GNUTLS_E_INTERRUPTED) {
            if (m_peerClosed)
                fail(refusedText(QStringLiteral("connection closed")));
            return;
        }
        if (code == GNUTLS_E_CERTIFICATE_VERIFICATION_ERROR) {
            fail(certificateText(gnutls_session_get_verify_cert_status(m_session)));
            return;
        }
        if (code == GNUTLS_E_NO_APPLICATION_PROTOCOL) {
            fail(refusedText(QStringLiteral("no ntske/1")));
            return;
        }
        if (code < 0) {
            fail(failedText(code));
            return;
        }
        if (!completeHandshake())
            return;
    }
    char buffer[4096];
    // A warning alert or a session ticket is no error; a server that sends nothing else gets
    // only so many turns before the next event.
    int harmless = 0;
    while (true) {
        const ssize_t received = gnutls_record_recv(m_session, buffer, sizeof buffer);
        if (received == GNUTLS_E_AGAIN || received == GNUTLS_E_INTERRUPTED)
            return;
        if (received < 0 && gnutls_error_is_fatal(int(received)) == 0 && ++harmless < 16)
            continue;
        if (received < 0) {
            fail(failedText(int(received)));
            return;
        }
        if (received > 0)
            m_records.append(buffer, qsizetype(received));
        const NtsKeResponse response = DecodeNtsKeResponse(m_records);
        if (response.status == NtsKeResponse::Status::Refused) {
            fail(refusedText(response.reason));
            return;
        }
        if (response.complete()) {
            m_result.cookies = response.cookies;
            m_result.ntpServer = response.ntpServer.isEmpty() ? m_host : response.ntpServer;
            m_result.ntpPort = response.ntpPort > 0 ? quint16(response.ntpPort) : DefaultNtpPort;
            succeed();
            return;
        }
        if (received == 0) {
            fail(refusedText(QStringLiteral("response cut short")));
            return;
        }
    }
}

bool NtsKeClient::completeHandshake()
{
    gnutls_datum_t selected{};
    if (gnutls_alpn_get_selected_protocol(m_session, &selected) < 0 || selected.size != std::strlen(Alpn) ||
        std::memcmp(selected.data, Alpn, selected.size) != 0) {
        fail(refusedText(QStringLiteral("no ntske/1")));
        return false;
    }
    m_result.c2sKey = exportKey(m_session, 0);
    m_result.s2cKey = exportKey(m_session, 1);
    if (m_result.c2sKey.isEmpty() || m_result.s2cKey.isEmpty()) {
        fail(failedText(GNUTLS_E_INTERNAL_ERROR));
        return false;
    }
    m_result.certificate = peerCertificate(m_session);
    m_handshakeDone = true;
    const QByteArray request = EncodeNtsKeRequest();
    const ssize_t sent = gnutls_record_send(m_session, request.constData(), size_t(request.size()));
    if (sent != ssize_t(request.size())) {
        fail(failedText(sent < 0 ? int(sent) : GNUTLS_E_INTERNAL_ERROR));
        return false;
    }
    return true;
}

void NtsKeClient::onSocketError(QAbstractSocket::SocketError error)
{
    if (!m_session)
        return;
    // A server closes the connection after its response: what was read so far decides.
    if (error == QAbstractSocket::RemoteHostClosedError) {
        m_peerClosed = true;
        drive();
        return;
    }
    fail(QStringLiteral("NTS: key exchange failed: %1").arg(m_socket.errorString()));
}

void NtsKeClient::fail(const QString& reason)
{
    NtsKeResult result;
    result.reason = reason;
    result.certificate = m_result.certificate;
    m_deadline.stop();
    release();
    emit finished(result);
}

void NtsKeClient::failLater(const QString& reason)
{
    // The caller hears of it from the event loop, as of any other outcome, not inside start().
    release();
    QTimer::singleShot(0, this, [this, reason] {
        if (m_deadline.isActive())
            fail(reason);
    });
}

void NtsKeClient::succeed()
{
    NtsKeResult result = m_result;
    result.ok = true;
    // Tell the server we are done; it closes its side either way.
    gnutls_bye(m_session, GNUTLS_SHUT_WR);
    m_socket.flush();
    m_deadline.stop();
    release();
    emit finished(result);
}

void NtsKeClient::release()
{
    ++m_attempt;
    if (m_session) {
        gnutls_deinit(m_session);
        m_session = nullptr;
    }
    m_socket.blockSignals(true);
    m_socket.abort();
    m_socket.blockSignals(false);
    m_incoming.clear();
    m_records.clear();
    m_peerClosed = false;
    m_handshakeDone = false;
    m_result = NtsKeResult{};
}

} // namespace ostrelle
