#pragma once

#include <QByteArray>
#include <optional>

struct api_aead_cipher_hd_st;

namespace ostrelle {

// AEAD_AES_SIV_CMAC_256 through GnuTLS: the synthetic IV is computed over the associated data,
// then the nonce, then the plaintext, and the output is the 16-octet tag followed by the
// ciphertext.
class AesSivCmac256
{
public:
    static constexpr qsizetype KeySize = 32;
    static constexpr qsizetype TagSize = 16;

    // A cipher for a 32-octet key; valid() is false for any other key.
    explicit AesSivCmac256(const QByteArray& key);
    ~AesSivCmac256();
    AesSivCmac256(const AesSivCmac256&) = delete;
    AesSivCmac256& operator=(const AesSivCmac256&) = delete;

    bool valid() const { return m_handle != nullptr; }

    // Tag and ciphertext; nothing without a key or with an empty nonce (GnuTLS needs one octet).
    std::optional<QByteArray> encrypt(const QByteArray& nonce, const QByteArray& associatedData,
                                      const QByteArray& plaintext) const;
    // The plaintext; nothing when the tag does not verify or the input cannot hold one.
    std::optional<QByteArray> decrypt(const QByteArray& nonce, const QByteArray& associatedData,
                                      const QByteArray& ciphertext) const;

private:
    api_aead_cipher_hd_st* m_handle = nullptr;
};

} // namespace ostrelle
