// The warnings every server file can meet: a transfer that failed, a start-up
// bound, the progress floor, an answer that is not the file as stored; and
// the formatting of the report's numbers and texts.
#include "check_facts.h"

namespace {

TEST(CheckTransferWarnings, GiveExactlyTheExpectedWarning)
{
    constexpr Severity kProblem = Severity::Problem;
    using DO = DownloadOutcome;
    using FE = TransferError;
    TransferInfo redirected = Fetch({}, FE::BadUrl);
    redirected.url = "ftp://h/f";
    ExpectOneWarning({
        // The start-up bounds: one warning, for the time, not also for the cut text.
        {Version("vers", Bounded(BodyEnd::TimeUp, 4, 3010)), kProblem,
         "after 4 bytes in 3.01 s (it reads version.dat for at most 3 s from its answer"},
        {News("\x82\xa8\x92", Bounded(BodyEnd::TimeUp, 3, 9500)), kProblem, "after 3 bytes in 9.50 s (the start-up"},
        {News("", Fetch({}, FE::NoTimeLeft)), kProblem, "had used up their time"},
        {News("", Fetch({}, FE::TimeUp)), kProblem,
         "no whole answer head came before the updater's start-up time (10 s in all)"},
        {Package(DO::TooSlow, "", 0, Fetch({}, FE::TooSlow)), kProblem, "no whole answer head came within 30 s"},
        {News("", Fetch({}, FE::UnreadableHeader)), kProblem, "could not be read whole"},
        {Version("", Fetch({}, FE::BadUrl), false), kProblem, "the URL http://h/game/veltrassa_01/update/f is not"},
        {Version("", redirected, false), kProblem, "redirected to ftp://h/f"},
        // The certificate errors the TLS rows of checker_test.cpp leave out.
        {Version("", Fetch({}, FE::Certificate, ClientError::SecCertDateInvalid), false), kProblem, "expired"},
        {Version("", Fetch({}, FE::Certificate, ClientError::SecCertCnInvalid), false), kProblem, "another host name"},
        {Package(DO::TooSlow, "", 31, Bounded(BodyEnd::TooSlow, 31, 30500)), kProblem,
         "fewer than 32,768 bytes arrived in 30 s (31 bytes in 30.50 s)"},
        {Signature(DO::TooSlow, Bounded(BodyEnd::TooSlow, 30, 30200)), kProblem, "(30 bytes in 30.20 s)"},
        {Signature(DO::TooSlow, Fetch({}, FE::TooSlow)), kProblem, "no whole answer head came within 30 s"},
        {Package(DO::NotPlainAnswer, "", 0, Answer(206, {"4500"})), kProblem, "answered HTTP 206"},
        {Package(DO::NotPlainAnswer, "", 0, Answer(200, {"4500", "9000"})), kProblem,
         "Content-Length: 4500, and Content-Length: 9000, not one length"},
        {Package(DO::NotPlainAnswer, "", 0, Answer(200, {"900"}, "gzip")), kProblem, "Content-Encoding: gzip"},
        {Signature(DO::SignatureNotPlainAnswer, Answer(200, {"256"}, "br")), kProblem, "Content-Encoding: br"},
        {News("xy", Answer(200, {"2"}, "gzip")), kProblem, "players see them as they are"},
    });
}

TEST(CheckFormatting, BytesProgressTimesAndEscapes)
{
    using std::chrono::milliseconds;
    const struct {
        std::string text;
        const char* expected;
    } cases[] = {
        {FormatBytes(1), "1 byte"},
        {FormatBytes(999), "999 bytes"},
        {FormatBytes(1000), "1,000 bytes"},
        {WithSeparators(1234567), "1,234,567"},
        {FormatSeconds(milliseconds(3000)), "3 s"},
        {FormatSeconds(milliseconds(250)), "0.25 s"},
        {HexByte(0x8F), "0x8F"},
        {EscapeBytes(std::string("a;\r\n\0\xFF\t\\", 8)), "a;\\r\\n\\x00\\xFF\\t\\\\"},
        {RedactUrl("http://user:secret@h:8080/u/"), "http://***@h:8080/u/"},
        {RedactUrl("http://h/u/@x/"), "http://h/u/@x/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, c.expected);
}

// A notice alone lets the check pass; any problem fails it.
TEST(CheckWarnings, ExitStatusFailsOnAnyProblem)
{
    const Warning notice{Severity::Notice, "text.txt", "c", "f"}, problem{Severity::Problem, "update.exe", "c", "f"};
    EXPECT_EQ(ExitStatus({}), 0);
    EXPECT_EQ(ExitStatus({notice, notice}), 0);
    EXPECT_EQ(ExitStatus({notice, problem}), 1);
}

} // namespace
