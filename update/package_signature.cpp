#include "package_signature.h"

#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr char kPemHeader[] = "-----BEGIN PUBLIC KEY-----";
constexpr unsigned kMinRsaBits = 2048;
constexpr unsigned kMaxRsaBits = 4096;
constexpr unsigned kEcdsaP256Bits = 256;
constexpr size_t kP256CoordinateBytes = 32;

struct BcryptAlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE algorithm) const noexcept
    {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};
using BcryptAlgorithm = std::unique_ptr<void, BcryptAlgorithmCloser>;

struct LocalFreer {
    void operator()(void* memory) const noexcept { LocalFree(memory); }
};

// The SHA-256 provider, opened once: every digest of a run shares it.
BCRYPT_ALG_HANDLE Sha256Provider()
{
    static BcryptAlgorithm provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            handle = nullptr;
        return BcryptAlgorithm(handle);
    }();
    return provider.get();
}

// The DER bytes of a PEM public key, or nothing when it is not one.
std::optional<std::vector<BYTE>> DerFromPem(std::string_view pem)
{
    size_t start = pem.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || pem.compare(start, strlen(kPemHeader), kPemHeader) != 0)
        return std::nullopt;
    pem.remove_prefix(start);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr) || size == 0)
        return std::nullopt;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr))
        return std::nullopt;
    der.resize(size);
    return der;
}

// A big-endian number of exactly width bytes from a little-endian one, or
// nothing when it does not fit.
bool AppendBigEndian(const CRYPT_UINT_BLOB& number, size_t width, std::vector<BYTE>& out)
{
    size_t length = number.cbData;
    while (length > 0 && number.pbData[length - 1] == 0)
        --length;
    if (length > width)
        return false;
    out.insert(out.end(), width - length, 0);
    for (size_t i = length; i > 0; --i)
        out.push_back(number.pbData[i - 1]);
    return true;
}

// An ECDSA signature in DER (a sequence of r and s) as CNG takes it: r and s
// side by side, each as wide as the curve.
std::optional<std::vector<BYTE>> EcdsaRawSignature(std::string_view der)
{
    CERT_ECC_SIGNATURE* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ECC_SIGNATURE,
                             reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size))
        return std::nullopt;
    std::unique_ptr<CERT_ECC_SIGNATURE, LocalFreer> owner(decoded);
    std::vector<BYTE> raw;
    if (!AppendBigEndian(decoded->r, kP256CoordinateBytes, raw) ||
        !AppendBigEndian(decoded->s, kP256CoordinateBytes, raw))
        return std::nullopt;
    return raw;
}

// The size of a public key, read from its exported form: the key property
// queries are missing from some implementations (Wine's), the blobs are not.
unsigned KeyBits(BCRYPT_KEY_HANDLE key, PackageKeyKind kind)
{
    const wchar_t* type = kind == PackageKeyKind::Rsa ? BCRYPT_RSAPUBLIC_BLOB : BCRYPT_ECCPUBLIC_BLOB;
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(BCryptExportKey(key, nullptr, type, nullptr, 0, &size, 0)) ||
        size < std::max(sizeof(BCRYPT_RSAKEY_BLOB), sizeof(BCRYPT_ECCKEY_BLOB)))
        return 0;
    std::vector<BYTE> blob(size);
    if (!BCRYPT_SUCCESS(BCryptExportKey(key, nullptr, type, blob.data(), size, &size, 0)))
        return 0;
    if (kind == PackageKeyKind::Rsa) {
        BCRYPT_RSAKEY_BLOB header;
        memcpy(&header, blob.data(), sizeof header);
        return header.Magic == BCRYPT_RSAPUBLIC_MAGIC ? header.BitLength : 0;
    }
    BCRYPT_ECCKEY_BLOB header;
    memcpy(&header, blob.data(), sizeof header);
    return header.dwMagic == BCRYPT_ECDSA_PUBLIC_P256_MAGIC ? header.cbKey * 8 : 0;
}

} // namespace

CSha256::CSha256()
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (Sha256Provider() &&
        BCRYPT_SUCCESS(BCryptCreateHash(Sha256Provider(), &hash, nullptr, 0, nullptr, 0, 0)))
        m_hash.reset(hash);
}

bool CSha256::Add(const char* data, size_t size)
{
    return m_hash && BCRYPT_SUCCESS(BCryptHashData(m_hash.get(),
                                                   reinterpret_cast<PUCHAR>(const_cast<char*>(data)),
                                                   static_cast<ULONG>(size), 0));
}

std::optional<Sha256Digest> CSha256::Finish()
{
    Sha256Digest digest;
    if (!m_hash || !BCRYPT_SUCCESS(BCryptFinishHash(m_hash.get(), digest.data(), digest.size(), 0)))
        return std::nullopt;
    m_hash.reset();
    return digest;
}

CPackageKey::CPackageKey(BCRYPT_KEY_HANDLE key, PackageKeyKind kind, unsigned bits)
    : m_key(key, BcryptKeyCloser()), m_kind(kind), m_bits(bits)
{
}

std::optional<CPackageKey> CPackageKey::FromPem(std::string_view pem)
{
    std::optional<std::vector<BYTE>> der = DerFromPem(pem);
    if (!der)
        return std::nullopt;
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der->data(),
                             static_cast<DWORD>(der->size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &info,
                             &size))
        return std::nullopt;
    std::unique_ptr<CERT_PUBLIC_KEY_INFO, LocalFreer> infoOwner(info);

    const char* algorithm = info->Algorithm.pszObjId;
    PackageKeyKind kind;
    if (algorithm && strcmp(algorithm, szOID_RSA_RSA) == 0) {
        kind = PackageKeyKind::Rsa;
    } else if (algorithm && strcmp(algorithm, szOID_ECC_PUBLIC_KEY) == 0) {
        // Only the P-256 curve: its parameters are that curve's object identifier.
        static const BYTE kP256Parameters[] = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
        const CRYPT_OBJID_BLOB& parameters = info->Algorithm.Parameters;
        if (parameters.cbData != sizeof kP256Parameters ||
            memcmp(parameters.pbData, kP256Parameters, sizeof kP256Parameters) != 0)
            return std::nullopt;
        kind = PackageKeyKind::EcdsaP256;
    } else {
        return std::nullopt;
    }

    BCRYPT_KEY_HANDLE key = nullptr;
    if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info, 0, nullptr, &key))
        return std::nullopt;
    std::unique_ptr<void, BcryptKeyCloser> keyOwner(key);
    unsigned bits = KeyBits(key, kind);
    bool sizeAllowed = kind == PackageKeyKind::Rsa ? bits >= kMinRsaBits && bits <= kMaxRsaBits
                                                   : bits == kEcdsaP256Bits;
    if (!sizeAllowed)
        return std::nullopt;
    return CPackageKey(keyOwner.release(), kind, bits);
}

bool CPackageKey::Verify(const Sha256Digest& digest, std::string_view signature) const
{
    if (signature.empty() || signature.size() > kMaxSignatureBytes)
        return false;
    PUCHAR hash = const_cast<PUCHAR>(digest.data());
    if (m_kind == PackageKeyKind::Rsa) {
        BCRYPT_PKCS1_PADDING_INFO padding = {BCRYPT_SHA256_ALGORITHM};
        return BCryptVerifySignature(m_key.get(), &padding, hash, digest.size(),
                                     reinterpret_cast<PUCHAR>(const_cast<char*>(signature.data())),
                                     static_cast<ULONG>(signature.size()), BCRYPT_PAD_PKCS1) == 0;
    }
    std::optional<std::vector<BYTE>> raw = EcdsaRawSignature(signature);
    return raw && BCryptVerifySignature(m_key.get(), nullptr, hash, digest.size(), raw->data(),
                                        static_cast<ULONG>(raw->size()), 0) == 0;
}
