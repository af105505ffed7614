#include <QTest>
#include <gnutls/gnutls.h>

// NTS checks a server's certificate against the system's trust store, which GnuTLS reads from the
// certificate bundle on Linux and from the "ROOT" certificate store on Windows (under Wine, a store
// Wine fills from the Linux machine's certificates).
class NtsTrustTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadTheSystemsTrustedCertificates()
    {
        gnutls_certificate_credentials_t credentials = nullptr;
        QCOMPARE(gnutls_certificate_allocate_credentials(&credentials), 0);
        const int loaded = gnutls_certificate_set_x509_system_trust(credentials);
        gnutls_certificate_free_credentials(credentials);
        QVERIFY2(loaded >= 0, gnutls_strerror(loaded));
        if (loaded == 0)
            QSKIP("this system trusts no certificate at all (no ca-certificates)");
        qInfo("%d trusted certificates", loaded);
    }
};

QTEST_GUILESS_MAIN(NtsTrustTest)
#include "test_ntstrust.moc"
