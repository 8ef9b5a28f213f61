#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <thread>

#include "bytes_equal.h"
#include "partial_file.h"
#include "script_server.h"
#include "test_files.h"
#include "package_signature.h"
#include "update_source.h"

namespace {

const std::string kPackagePath = "/game/veltrassa_01/update/update.exe";
const std::string kOldPackage = "MZ old package left by an earlier run";

class DownloadJobTest : public testing::Test {
protected:
    DownloadOutcome RunJob() { return CDownloadJob("update.exe", server.BaseUrl()).Run().outcome; }

    void ServePackage(std::string body, size_t pieceSize = 0, int pauseMs = 0)
    {
        server.OnResponse(kPackagePath, ScriptConnection::Pieces(std::move(body), pieceSize, pauseMs));
    }

    // After a failed download the old package is byte for byte as it was and
    // nothing else is in the folder.
    void ExpectOldPackageKept()
    {
        EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), kOldPackage));
        EXPECT_EQ(EntriesOf(folder), std::vector<std::string>{"update.exe"});
    }

    CTemporaryWorkingFolder folder{kTestFolderPrefix};
    ScriptServer server;
};

// Faults of the installation folder; those of the server are in fault_test.cpp.
TEST_F(DownloadJobTest, TemporaryFileThatCannotBeCreatedFails)
{
    WriteWholeFile("update.exe", kOldPackage);
    ASSERT_TRUE(CreateDirectoryA(PartialFileName("update.exe").c_str(), nullptr));
    ServePackage(PackageBytes(5000, 6));
    EXPECT_EQ(RunJob(), DownloadOutcome::CannotWrite);
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), kOldPackage));
}

TEST_F(DownloadJobTest, PackageThatCannotBeReplacedFailsAndLeavesNoTemporaryFile)
{
    ASSERT_TRUE(CreateDirectoryA("update.exe", nullptr));
    ServePackage(PackageBytes(5000, 7));
    EXPECT_EQ(RunJob(), DownloadOutcome::CannotReplace);
    EXPECT_EQ(EntriesOf(folder), std::vector<std::string>{"update.exe"});
    EXPECT_TRUE(GetFileAttributesA("update.exe") & FILE_ATTRIBUTE_DIRECTORY);
}

// Temporary files of killed runs go; one that another updater is writing
// stays, and so do files that only look alike.
TEST_F(DownloadJobTest, StaleTemporaryFilesAreRemoved)
{
    for (const char* stale : {"update.exe.part", "update.exe.4242.part"})
        WriteWholeFile(stale, std::string(90000, 'x'));
    WriteWholeFile(PartialFileName("update.exe"), std::string(90000, 'x'));
    for (const char* other : {"update.exe.old.part", "other.exe.17.part"})
        WriteWholeFile(other, "kept");
    HANDLE writing = CreateFileA("update.exe.77.part", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writing, INVALID_HANDLE_VALUE);
    const std::string package = PackageBytes(1000, 8);
    ServePackage(package);
    DownloadOutcome outcome = RunJob();
    CloseHandle(writing);
    EXPECT_EQ(outcome, DownloadOutcome::Installed);
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
    std::vector<std::string> entries = EntriesOf(folder);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"other.exe.17.part", "update.exe", "update.exe.77.part",
                                                 "update.exe.old.part"}));
}

// Another program holds a file open without sharing deletion, as a virus
// scanner does with a new program for a moment, or a running package for
// good: the rename is tried again for about a second.
TEST_F(DownloadJobTest, PackageHeldElsewhereIsReplacedOnlyOnceLetGo)
{
    const struct {
        const char* name;
        bool newPackage; // the finished download, not the old package, is held
        int heldMs;      // from the last piece on; 0: for the whole download
        DownloadOutcome outcome;
    } cases[] = {
        {"old package held throughout", false, 0, DownloadOutcome::CannotReplace},
        {"old package held for 400 ms", false, 400, DownloadOutcome::Installed},
        {"new package held for 400 ms", true, 400, DownloadOutcome::Installed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWholeFile("update.exe", kOldPackage);
        const std::string package = PackageBytes(5000, 13);
        ServePackage(package);
        const std::string held = c.newPackage ? PartialFileName("update.exe") : "update.exe";
        auto hold = [&held] {
            return CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        HANDLE handle = c.heldMs ? INVALID_HANDLE_VALUE : hold();
        std::thread release;
        CDownloadJob job("update.exe", server.BaseUrl(), "");
        job.m_onProgress = [&](std::string_view, uint64_t received, std::optional<uint64_t> total) {
            if (c.heldMs == 0 || received != total)
                return;
            handle = hold();
            release = std::thread([&handle, &c] {
                Sleep(c.heldMs);
                CloseHandle(handle);
            });
        };
        DownloadOutcome outcome = job.Run().outcome;
        if (release.joinable())
            release.join();
        else
            CloseHandle(handle);
        EXPECT_NE(handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(outcome, c.outcome);
        if (c.outcome == DownloadOutcome::Installed) {
            EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
            EXPECT_EQ(EntriesOf(folder), std::vector<std::string>{"update.exe"});
        } else {
            ExpectOldPackageKept();
        }
    }
}

// Signed packages. The keys and the signatures of test_package.exe are made
// with openssl when the tests are built, as a publisher makes them.
std::string CryptoFile(const std::string& name)
{
    std::optional<std::string> bytes = ReadWholeFile(UPDATER_TEST_CRYPTO_DIR + name);
    EXPECT_TRUE(bytes) << name;
    return bytes.value_or("");
}

std::string SignedPackage()
{
    return ReadWholeFile(ProgramFolder() + "test_package.exe").value_or("");
}

enum class Serve {
    Signature,
    PackageChunked, // no length: the signature alone proves the bytes
    NoSignature,
    SignatureError,
    PackageChanged,
    SignatureTruncated,
    SignatureOversized,
};

struct SignedCase {
    const char* name;
    const char* key;       // public key file
    const char* signature; // signature file of test_package.exe
    Serve serve;
    DownloadOutcome outcome;
};

const SignedCase kSignedCases[] = {
    {"rsa2048", "rsa2048.pub.pem", "test_package.rsa2048.sig", Serve::Signature, DownloadOutcome::Installed},
    {"rsa4096", "rsa4096.pub.pem", "test_package.rsa4096.sig", Serve::Signature, DownloadOutcome::Installed},
    {"ecdsa", "ec256.pub.pem", "test_package.ec256.sig", Serve::Signature, DownloadOutcome::Installed},
    {"rsa, package chunked", "rsa2048.pub.pem", "test_package.rsa2048.sig", Serve::PackageChunked,
     DownloadOutcome::Installed},
    {"rsa, package changed", "rsa2048.pub.pem", "test_package.rsa2048.sig", Serve::PackageChanged,
     DownloadOutcome::SignatureInvalid},
    {"ecdsa, package changed", "ec256.pub.pem", "test_package.ec256.sig", Serve::PackageChanged,
     DownloadOutcome::SignatureInvalid},
    {"rsa, truncated", "rsa2048.pub.pem", "test_package.rsa2048.sig", Serve::SignatureTruncated,
     DownloadOutcome::SignatureInvalid},
    {"ecdsa, truncated", "ec256.pub.pem", "test_package.ec256.sig", Serve::SignatureTruncated,
     DownloadOutcome::SignatureInvalid},
    {"another key", "rsa2048.pub.pem", "test_package.other.sig", Serve::Signature,
     DownloadOutcome::SignatureInvalid},
    {"rsa signature, ecdsa key", "ec256.pub.pem", "test_package.rsa2048.sig", Serve::Signature,
     DownloadOutcome::SignatureInvalid},
    {"no signature file", "rsa2048.pub.pem", nullptr, Serve::NoSignature, DownloadOutcome::SignatureMissing},
    {"signature answers 500", "rsa2048.pub.pem", nullptr, Serve::SignatureError,
     DownloadOutcome::SignatureMissing},
    {"oversized signature", "rsa2048.pub.pem", "test_package.rsa2048.sig", Serve::SignatureOversized,
     DownloadOutcome::SignatureTooLarge},
};

TEST_F(DownloadJobTest, SignedPackagesInstallOnlyWhenTheirSignatureVerifies)
{
    const std::string package = SignedPackage();
    ASSERT_GT(package.size(), 1000u);
    for (const SignedCase& c : kSignedCases) {
        SCOPED_TRACE(c.name);
        WriteWholeFile("update.exe", kOldPackage);
        std::string served = package;
        if (c.serve == Serve::PackageChanged)
            served[served.size() / 2] ^= 0x01;
        server.OnResponse(kPackagePath,
                          ScriptConnection::Pieces(served, 3000, 0, c.serve == Serve::PackageChunked));

        std::string signature = c.signature ? CryptoFile(c.signature) : "";
        if (c.serve == Serve::SignatureTruncated)
            signature.resize(signature.size() - 1);
        if (c.serve == Serve::SignatureOversized)
            signature = signature + std::string(kMaxSignatureBytes + 1 - signature.size(), '\0');
        if (c.serve == Serve::NoSignature)
            server.On(kPackagePath + ".sig", nullptr);
        else
            server.OnFile(kPackagePath + ".sig", signature, c.serve == Serve::SignatureError ? 500 : 200);

        size_t requestsBefore = server.Requests().size();
        CDownloadJob job("update.exe", server.BaseUrl(), CryptoFile(c.key));
        EXPECT_EQ(job.Run().outcome, c.outcome);
        if (c.outcome == DownloadOutcome::Installed) {
            EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
            EXPECT_EQ(EntriesOf(folder), std::vector<std::string>{"update.exe"});
        } else {
            ExpectOldPackageKept();
        }
        // The signature comes first; without one the package is not fetched at all.
        auto requests = server.Requests();
        ASSERT_GE(requests.size(), requestsBefore + 1);
        EXPECT_EQ(requests[requestsBefore].path, kPackagePath + ".sig");
        bool packageFetched = c.serve != Serve::NoSignature && c.serve != Serve::SignatureError &&
                              c.serve != Serve::SignatureOversized;
        EXPECT_EQ(requests.size(), requestsBefore + (packageFetched ? 2 : 1));
    }
}

// Header values past any fixed buffer, on the package and on the signature:
// each is read whole and judged, never taken for an absent header.
TEST_F(DownloadJobTest, LongHeaderValuesAreReadWhole)
{
    const std::string package = SignedPackage();
    const std::string signature = CryptoFile("test_package.rsa2048.sig");
    ASSERT_GT(package.size(), 1000u);
    auto padded = [](size_t length) {
        std::string digits = std::to_string(length);
        return std::string(300 - digits.size(), '0') + digits;
    };
    std::string encodings = "gzip";
    while (encodings.size() < 300)
        encodings += ", identity";
    auto answer = [](std::string headers, std::string body) {
        return [bytes = "HTTP/1.1 200 OK\r\n" + headers + "\r\n" + body](ScriptConnection& c, const HttpRequest&) {
            c.Send(bytes);
        };
    };
    const struct {
        const char* name;
        bool signed_;
        ScriptServer::Handler packageAnswer;
        ScriptServer::Handler signatureAnswer;
        DownloadOutcome outcome;
    } cases[] = {
        {"package, padded length, whole", false,
         answer("Content-Length: " + padded(package.size()) + "\r\n", package), nullptr, DownloadOutcome::Installed},
        {"package, padded length, cut at 60%", false,
         answer("Content-Length: " + padded(package.size()) + "\r\n", package.substr(0, package.size() * 6 / 10)),
         nullptr, DownloadOutcome::SizeMismatch},
        {"package, long encoding list", false,
         answer("Content-Encoding: " + encodings + "\r\nContent-Length: " + std::to_string(package.size()) + "\r\n",
                package),
         nullptr, DownloadOutcome::NotPlainAnswer},
        {"signature, padded length, cut at 60%", true, nullptr,
         answer("Content-Length: " + padded(signature.size()) + "\r\n",
                signature.substr(0, signature.size() * 6 / 10)),
         DownloadOutcome::SignatureMissing},
        {"signature, long encoding list", true, nullptr,
         answer("Content-Encoding: " + encodings + "\r\nContent-Length: " + std::to_string(signature.size()) +
                    "\r\n",
                signature),
         DownloadOutcome::SignatureNotPlainAnswer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWholeFile("update.exe", kOldPackage);
        if (c.packageAnswer)
            server.On(kPackagePath, c.packageAnswer);
        else
            ServePackage(package);
        if (c.signatureAnswer)
            server.On(kPackagePath + ".sig", c.signatureAnswer);
        else
            server.OnFile(kPackagePath + ".sig", signature);
        CDownloadJob job("update.exe", server.BaseUrl(), c.signed_ ? CryptoFile("rsa2048.pub.pem") : "");
        EXPECT_EQ(job.Run().outcome, c.outcome);
        if (c.outcome == DownloadOutcome::Installed)
            EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
        else
            ExpectOldPackageKept();
    }
}

TEST_F(DownloadJobTest, UnsignedBuildNeverAsksForASignature)
{
    ServePackage(PackageBytes(2000, 9));
    EXPECT_EQ(CDownloadJob("update.exe", server.BaseUrl(), "").Run().outcome, DownloadOutcome::Installed);
    for (const HttpRequest& request : server.Requests())
        EXPECT_EQ(request.path, kPackagePath);
}

TEST(PackageKey, TakesRsaOf2048To4096BitsAndEcdsaP256Only)
{
    struct {
        const char* file;
        bool accepted;
        PackageKeyKind kind;
        unsigned bits;
    } const cases[] = {
        {"rsa2048.pub.pem", true, PackageKeyKind::Rsa, 2048},
        {"rsa4096.pub.pem", true, PackageKeyKind::Rsa, 4096},
        {"ec256.pub.pem", true, PackageKeyKind::EcdsaP256, 256},
        {"rsa1024.pub.pem", false, {}, 0},
        {"ec384.pub.pem", false, {}, 0},
        {"rsa2048.key", false, {}, 0}, // a private key
        {"ca.pem", false, {}, 0},      // a certificate
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::optional<CPackageKey> key = CPackageKey::FromPem(CryptoFile(c.file));
        ASSERT_EQ(key.has_value(), c.accepted);
        if (key) {
            EXPECT_EQ(key->Kind(), c.kind);
            EXPECT_EQ(key->Bits(), c.bits);
        }
    }
    std::string pem = CryptoFile("rsa2048.pub.pem");
    for (const std::string& broken : {std::string(), std::string("not a key"), pem.substr(0, pem.size() / 2),
                                      pem.substr(0, 40) + "!!" + pem.substr(42)}) {
        EXPECT_FALSE(CPackageKey::FromPem(broken)) << broken;
    }
}

} // namespace
