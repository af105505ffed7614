#include "ntp/nts/aessiv.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

namespace ostrelle {

AesSivCmac256::AesSivCmac256(const QByteArray& key)
{
    if (key.size() != KeySize)
        return;
    gnutls_datum_t datum{reinterpret_cast<unsigned char*>(const_cast<char*>(key.constData())),
                         static_cast<unsigned int>(key.size())};
    if (gnutls_aead_cipher_init(&m_handle, GNUTLS_CIPHER_AES_128_SIV, &datum) < 0)
        m_handle = nullptr;
}

AesSivCmac256::~AesSivCmac256()
{
    if (m_handle)
        gnutls_aead_cipher_deinit(m_handle);
}

std::optional<QByteArray> AesSivCmac256::encrypt(const QByteArray& nonce, const QByteArray& associatedData,
                                                 const QByteArray& plaintext) const
{
    // Nettle, under GnuTLS, aborts the process on an empty nonce rather than returning an error.
    if (!m_handle || nonce.isEmpty())
        return std::nullopt;
    QByteArray out(plaintext.size() + TagSize, Qt::Uninitialized);
    size_t outSize = static_cast<size_t>(out.size());
    if (gnutls_aead_cipher_encrypt(m_handle, nonce.constData(), static_cast<size_t>(nonce.size()),
                                   associatedData.constData(), static_cast<size_t>(associatedData.size()),
                                   TagSize, plaintext.constData(), static_cast<size_t>(plaintext.size()),
                                   out.data(), &outSize) < 0)
        return std::nullopt;
    out.truncate(static_cast<qsizetype>(outSize));
    return out;
}

std::optional<QByteArray> AesSivCmac256::decrypt(const QByteArray& nonce, const QByteArray& associatedData,
                                                 const QByteArray& ciphertext) const
{
    if (!m_handle || nonce.isEmpty() || ciphertext.size() < TagSize)
        return std::nullopt;
    QByteArray out(ciphertext.size() - TagSize, Qt::Uninitialized);
    size_t outSize = static_cast<size_t>(out.size());
    if (gnutls_aead_cipher_decrypt(m_handle, nonce.constData(), static_cast<size_t>(nonce.size()),
                                   associatedData.constData(), static_cast<size_t>(associatedData.size()),
                                   TagSize, ciphertext.constData(), static_cast<size_t>(ciphertext.size()),
                                   out.data(), &outSize) < 0)
        return std::nullopt;
    out.truncate(static_cast<qsizetype>(outSize));
    return out;
}

} // namespace ostrelle
