#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <functional>
#include <atomic>
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

// A dropped download goes on with the rest, asked for by the first answer's
// strong validator; nothing but exactly that rest, or a whole new file, is
// ever taken. Each row answers the package's requests in turn: the first is
// the plain GET of every transfer, each later one must ask for the rest.
struct ResumeCase {
    const char* name;
    // The answer to request number index (0: the first) for the package
    // whose whole file is body; empty to end the connection unanswered.
    std::function<std::string(size_t index, const std::string& body)> answer;
    DownloadOutcome outcome;
    size_t requests;
    const char* ifRange = "\"v1\""; // what each later request carries
    bool replaced = false;            // the file installed is the replacement
    bool startsAgain = replaced;      // a 200 starts the file again from its first byte
};

const char kModified[] = "Sun, 06 Nov 1994 08:49:37 GMT";

std::string Head(int status, const std::string& headers, size_t length)
{
    return "HTTP/1.1 " + std::to_string(status) + " X\r\n" + headers + "Content-Length: " + std::to_string(length) +
           "\r\nConnection: close\r\n\r\n";
}
// The whole file with these headers, cut after its first part (0 to 1).
std::string Whole(const std::string& body, const std::string& headers, double part = 1)
{
    return Head(200, headers, body.size()) + body.substr(0, static_cast<size_t>(body.size() * part));
}
// The bytes from from on, as a 206 with these headers, cut at part of the file.
std::string Rest(const std::string& body, size_t from, const std::string& headers, double part = 1,
                 std::string range = "")
{
    if (range.empty())
        range = "bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/" +
                std::to_string(body.size());
    const size_t end = static_cast<size_t>(body.size() * part);
    return Head(206, headers + "Content-Range: " + range + "\r\n", body.size() - from) +
           body.substr(from, end > from ? end - from : 0);
}
const std::string kStrong = "ETag: \"v1\"\r\nAccept-Ranges: bytes\r\n";
constexpr size_t kAt40 = 120000 * 4 / 10;

const ResumeCase kResumeCases[] = {
    {"strong ETag, the rest", [](size_t i, const std::string& b) {
         return i == 0 ? Whole(b, kStrong, 0.4) : Rest(b, kAt40, kStrong);
     }, DownloadOutcome::Installed, 2},
    {"dropped three times", [](size_t i, const std::string& b) {
         const double parts[] = {0.4, 0.6, 0.8, 1};
         return i == 0 ? Whole(b, kStrong, 0.4) : Rest(b, static_cast<size_t>(b.size() * parts[i - 1]), kStrong, parts[i]);
     }, DownloadOutcome::Installed, 4},
    {"strong Last-Modified, no ETag", [](size_t i, const std::string& b) {
         const std::string headers = std::string("Last-Modified: ") + kModified + "\r\nDate: Sun, 06 Nov 1994 08:49:38 GMT\r\n";
         return i == 0 ? Whole(b, headers, 0.4) : Rest(b, kAt40, headers);
     }, DownloadOutcome::Installed, 2, kModified},
    {"the server ignores ranges: the whole file again", [](size_t i, const std::string& b) {
         return Whole(b, kStrong, i == 0 ? 0.4 : 1);
     }, DownloadOutcome::Installed, 2, "\"v1\"", false, true},
    {"replaced before the resume: the new file whole", [](size_t i, const std::string& b) {
         return i == 0 ? Whole(b, kStrong, 0.4) : Whole(b + "new", "ETag: \"v2\"\r\n");
     }, DownloadOutcome::Installed, 2, "\"v1\"", true},
    {"replaced, and the new file dropped too", [](size_t i, const std::string& b) {
         const std::string replacement = b + "new";
         return i == 0 ? Whole(b, kStrong, 0.4)
                       : i == 1 ? Whole(replacement, "ETag: \"v2\"\r\n", 0.5)
                                : Rest(replacement, replacement.size() / 2, "ETag: \"v2\"\r\n");
     }, DownloadOutcome::Installed, 3, nullptr, true},
    {"weak ETag: no resume", [](size_t, const std::string& b) { return Whole(b, "ETag: W/\"v1\"\r\n", 0.4); },
     DownloadOutcome::SizeMismatch, 1},
    {"no validator: no resume", [](size_t, const std::string& b) { return Whole(b, "", 0.4); },
     DownloadOutcome::SizeMismatch, 1},
    {"Last-Modified within the second of its Date: no resume", [](size_t, const std::string& b) {
         return Whole(b, std::string("Last-Modified: ") + kModified + "\r\nDate: " + kModified + "\r\n", 0.4);
     }, DownloadOutcome::SizeMismatch, 1},
    {"416", [](size_t i, const std::string& b) {
         return i == 0 ? Whole(b, kStrong, 0.4)
                       : Head(416, "Content-Range: bytes */" + std::to_string(b.size()) + "\r\n", 0);
     }, DownloadOutcome::ResumeRefused, 2},
    {"a range from elsewhere", [](size_t i, const std::string& b) {
         return i == 0 ? Whole(b, kStrong, 0.4) : Rest(b, kAt40 - 100, kStrong);
     }, DownloadOutcome::ResumeRefused, 2},
    {"another total length", [](size_t i, const std::string& b) {
         return i == 0 ? Whole(b, kStrong, 0.4)
                       : Rest(b, kAt40, kStrong, 1, "bytes " + std::to_string(kAt40) + "-" +
                                                       std::to_string(b.size() - 1) + "/" + std::to_string(b.size() + 1));
     }, DownloadOutcome::ResumeRefused, 2},
    {"another ETag on the rest", [](size_t i, const std::string& b) {
         return i == 0 ? Whole(b, kStrong, 0.4) : Rest(b, kAt40, "ETag: \"v2\"\r\n");
     }, DownloadOutcome::ResumeRefused, 2},
    {"multipart", [](size_t i, const std::string& b) {
         return i == 0 ? Whole(b, kStrong, 0.4)
                       : Head(206, "Content-Type: multipart/byteranges; boundary=x\r\n", 10) + "--x\r\n\r\n--x--";
     }, DownloadOutcome::ResumeRefused, 2},
    {"unanswered resume", [](size_t i, const std::string& b) { return i == 0 ? Whole(b, kStrong, 0.4) : ""; },
     DownloadOutcome::Incomplete, 2},
    // Five resumes at most, each after new bytes; then it fails as before.
    {"dropped every 4 KiB", [](size_t i, const std::string& b) {
         return i == 0 ? Head(200, kStrong, b.size()) + b.substr(0, 4096)
                       : Rest(b, i * 4096, kStrong, ((i + 1) * 4096 + 0.5) / b.size());
     }, DownloadOutcome::SizeMismatch, 6},
    {"a rest that brings nothing", [](size_t i, const std::string& b) {
         return i == 0 ? Whole(b, kStrong, 0.4) : Rest(b, kAt40, kStrong, 0.4);
     }, DownloadOutcome::SizeMismatch, 2},
};

TEST_F(DownloadJobTest, ADroppedDownloadGoesOnWithExactlyTheRest)
{
    const std::string package = PackageBytes(120000, 21);
    for (const ResumeCase& c : kResumeCases) {
        SCOPED_TRACE(c.name);
        WriteWholeFile("update.exe", kOldPackage);
        ScriptServer resumable;
        ASSERT_TRUE(resumable.Listening());
        auto served = std::make_shared<std::atomic<size_t>>(0);
        resumable.On(kPackagePath, [&c, &package, served](ScriptConnection& connection, const HttpRequest&) {
            const std::string answer = c.answer((*served)++, package);
            if (!answer.empty())
                connection.Send(answer);
        });
        std::vector<uint64_t> progress;
        CDownloadJob job("update.exe", resumable.BaseUrl(), "");
        job.m_onProgress = [&progress](std::string_view, uint64_t received, std::optional<uint64_t>) {
            progress.push_back(received);
        };
        PackageDownload download = job.Run();
        EXPECT_EQ(download.outcome, c.outcome);
        const std::vector<HttpRequest> requests = resumable.Requests();
        ASSERT_EQ(requests.size(), c.requests);
        // The first request is the plain GET of every transfer; each later
        // one asks for the bytes after those in the file.
        EXPECT_EQ(requests[0].head, "GET " + kPackagePath + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                        std::to_string(resumable.Port()) + "\r\nUser-Agent: update_harun_tesly\r\n");
        for (size_t i = 1; i < requests.size(); ++i) {
            EXPECT_NE(requests[i].head.find("\r\nRange: bytes="), std::string::npos) << requests[i].head;
            if (c.ifRange) {
                EXPECT_NE(requests[i].head.find(std::string("\r\nIf-Range: ") + c.ifRange + "\r\n"), std::string::npos)
                    << requests[i].head;
            }
        }
        EXPECT_EQ(download.resumes, static_cast<int>(c.requests) - 1);
        if (c.outcome == DownloadOutcome::Installed) {
            EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), c.replaced ? package + "new" : package));
            EXPECT_EQ(EntriesOf(folder), std::vector<std::string>{"update.exe"});
        } else {
            ExpectOldPackageKept();
        }
        // The progress counts the whole file: on after a resume, from 0 after a new start.
        for (size_t i = 1; i < progress.size(); ++i) {
            EXPECT_TRUE(progress[i] > progress[i - 1] || c.startsAgain)
                << progress[i - 1] << " then " << progress[i];
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
// A signed build checks the signature over the whole file, however many
// requests brought it: a server that splices another file's bytes into the
// rest under the same ETag fails it, the safe end.
TEST_F(DownloadJobTest, ASignedDownloadThatWentOnIsVerifiedWhole)
{
    const std::string package = SignedPackage();
    std::string spliced = package;
    spliced[spliced.size() - 100] ^= 0x01;
    const struct {
        const char* name;
        const std::string* rest; // the file the answer to the resumed request is cut from
        DownloadOutcome outcome;
    } cases[] = {
        {"the rest of the same file", &package, DownloadOutcome::Installed},
        {"the rest of another file under the same ETag", &spliced, DownloadOutcome::SignatureInvalid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWholeFile("update.exe", kOldPackage);
        auto served = std::make_shared<std::atomic<size_t>>(0);
        const size_t at = package.size() * 4 / 10;
        server.On(kPackagePath, [&, served](ScriptConnection& connection, const HttpRequest&) {
            connection.Send((*served)++ == 0 ? Whole(package, kStrong, 0.4) : Rest(*c.rest, at, kStrong));
        });
        server.OnFile(kPackagePath + ".sig", CryptoFile("test_package.rsa2048.sig"));
        PackageDownload download = CDownloadJob("update.exe", server.BaseUrl(), CryptoFile("rsa2048.pub.pem")).Run();
        EXPECT_EQ(download.outcome, c.outcome);
        EXPECT_EQ(download.resumes, 1);
        if (c.outcome == DownloadOutcome::Installed)
            EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
        else
            ExpectOldPackageKept();
    }
}

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
