#include "transfer_facts.h"

#include "http_answer.h"

bool IsCertificateError(uint32_t clientError)
{
    switch (static_cast<ClientError>(clientError)) {
    case ClientError::InvalidCa:
    case ClientError::SecCertCnInvalid:
    case ClientError::SecCertDateInvalid:
    case ClientError::SecCertErrors:
    case ClientError::SecCertNoRev:
    case ClientError::SecCertRevFailed:
    case ClientError::SecCertRevoked:
    case ClientError::SecInvalidCert:
        return true;
    default:
        return false;
    }
}

AnswerFault DownloadAnswerFault(const TransferInfo& info)
{
    if (info.status != 200)
        return AnswerFault::NotWhole;
    if (info.contentLengthMalformed)
        return AnswerFault::ContentLength;
    if (!IsIdentityEncoding(info.contentEncoding))
        return AnswerFault::ContentEncoding;
    return AnswerFault::None;
}
