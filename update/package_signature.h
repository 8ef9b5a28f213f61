// The publisher's signature on the update package: a SHA-256 digest taken
// while the package streams in, checked against a detached signature with the
// publisher's public key. The platform's cryptography (CNG) does the work.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

using Sha256Digest = std::array<unsigned char, 32>;

struct BcryptKeyCloser {
    void operator()(BCRYPT_KEY_HANDLE key) const noexcept { BCryptDestroyKey(key); }
};
struct BcryptHashCloser {
    void operator()(BCRYPT_HASH_HANDLE hash) const noexcept { BCryptDestroyHash(hash); }
};

// A SHA-256 digest of data handed over in pieces.
class CSha256 {
public:
    CSha256();
    // False when the platform could not start the digest; Add and Finish fail then.
    bool IsReady() const { return m_hash != nullptr; }
    bool Add(const char* data, size_t size);
    std::optional<Sha256Digest> Finish();

private:
    std::unique_ptr<void, BcryptHashCloser> m_hash;
};

enum class PackageKeyKind { Rsa, EcdsaP256 };

// A public key that signs packages: RSA of 2048 to 4096 bits, or ECDSA P-256.
class CPackageKey {
public:
    // From PEM text ("-----BEGIN PUBLIC KEY-----", SubjectPublicKeyInfo);
    // nothing when the text is not such a key or the key is of another kind.
    static std::optional<CPackageKey> FromPem(std::string_view pem);

    PackageKeyKind Kind() const { return m_kind; }
    unsigned Bits() const { return m_bits; }

    // True when signature, as `openssl dgst -sha256 -sign` writes it (RSA:
    // PKCS#1 v1.5; ECDSA: DER), signs the data whose digest this is.
    bool Verify(const Sha256Digest& digest, std::string_view signature) const;

private:
    CPackageKey(BCRYPT_KEY_HANDLE key, PackageKeyKind kind, unsigned bits);

    std::shared_ptr<void> m_key;
    PackageKeyKind m_kind;
    unsigned m_bits;
};

// The size limit of the signature file beside the package on the server.
inline constexpr size_t kMaxSignatureBytes = 4096;
