// What an NTS server, or anyone on the path, can send us: key exchange records, and NTP replies
// with extension fields. The first octet picks the route; the rest is the input.

#include "fuzzcheck.h"

#include "ntp/nts/aessiv.h"
#include "ntp/nts/ntsextensions.h"
#include "ntp/nts/ntskerecords.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

using namespace ostrelle;

namespace {

const QByteArray Key(AesSivCmac256::KeySize, '\x5a');
const QByteArray UniqueId(NtsUniqueIdentifierSize, '\x33');

void decodeRecords(const QByteArray& input)
{
    const NtsKeResponse response = DecodeNtsKeResponse(input);
    OSTRELLE_FUZZ_CHECK(!response.complete() || !response.cookies.isEmpty());
    OSTRELLE_FUZZ_CHECK((response.status == NtsKeResponse::Status::Refused) == !response.reason.isEmpty());
    OSTRELLE_FUZZ_CHECK(response.ntpPort == -1 || (response.ntpPort > 0 && response.ntpPort <= 65535));
}

// A reply made from the input as it comes; then one whose authenticator is genuine, over the
// input as header and fields and with the input as encrypted plaintext: accepted exactly when the
// plaintext parses, with every cookie it holds.
void verifyReplies(const QByteArray& input, const AesSivCmac256& cipher)
{
    const NtsReplyCheck raw = VerifyNtsReply(input, UniqueId, cipher);
    OSTRELLE_FUZZ_CHECK(raw.accepted() == raw.reason().isEmpty());
    OSTRELLE_FUZZ_CHECK(raw.accepted() || raw.cookies.isEmpty());

    QByteArray reply = input.left(NtpPacketSize).leftJustified(NtpPacketSize, '\0');
    AppendNtpExtensionField(reply, NtsFieldType::UniqueIdentifier, UniqueId);
    if (!AppendNtsAuthenticator(reply, cipher, UniqueId.left(NtsNonceSize), input))
        return;
    const NtsReplyCheck check = VerifyNtsReply(reply, UniqueId, cipher);
    QList<NtpExtensionField> fields;
    const bool parses = ParseNtpExtensionFields(input, 0, fields);
    OSTRELLE_FUZZ_CHECK(check.accepted() == parses);
    if (parses) {
        qsizetype cookies = 0;
        for (const NtpExtensionField& field : fields)
            cookies += field.type == std::uint16_t(NtsFieldType::Cookie);
        OSTRELLE_FUZZ_CHECK(check.cookies.size() == cookies);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const AesSivCmac256 cipher(Key);
    const QByteArray input(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    if (data[0] & 1)
        decodeRecords(input);
    else
        verifyReplies(input, cipher);
    return 0;
}
