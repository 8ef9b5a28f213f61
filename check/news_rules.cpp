#include "news_rules.h"

#include <string_view>

#include "news_text.h"
#include "transfer_bounds.h"

void CheckNews(const NewsFacts& facts, Warnings& warnings)
{
    const TransferInfo& fetch = facts.fetch.transfer;
    if (!CheckTransfer(kNewsFile, fetch, "players see the no-news text instead", warnings))
        return;
    CheckAnswer(kNewsFile, fetch, false, "", warnings);
    if (!CheckStartupTime(kNewsFile, fetch,
                          "the start-up fetches have " + FormatSeconds(kStartupFetchTime) + " in all",
                          "players see only that part of the news", warnings))
        return;
    const std::string news = facts.fetch.news.value_or(std::string());
    const char* encodingFix = "save text.txt in Shift_JIS (code page 932), without a byte-order mark";
    std::optional<size_t> invalid = FindInvalidCp932(news);
    if (LooksLikeUtf8(news)) {
        AddWarning(warnings, Severity::Problem, kNewsFile, "it looks like UTF-8: players see garbage in the news box",
            "convert it to Shift_JIS (code page 932) without a byte-order mark, lines ending in CR LF: "
            "sed '1s/^\\xEF\\xBB\\xBF//' news-utf8.txt | iconv -f UTF-8 -t CP932 | "
            "LC_ALL=C sed 's/\\r*$/\\r/' > text.txt");
    } else if (invalid) {
        AddWarning(warnings, Severity::Problem, kNewsFile,
            "byte " + HexByte(static_cast<unsigned char>(news[*invalid])) + " at offset " + std::to_string(*invalid) +
                " is not valid code page 932: players see garbage there",
            encodingFix);
    } else if (!facts.definedInCp932) {
        AddWarning(warnings, Severity::Problem, kNewsFile,
            "it holds characters that code page 932 does not define: players see garbage there", encodingFix);
    }
    size_t nul = news.find('\0');
    if (nul != std::string::npos) {
        AddWarning(warnings, Severity::Problem, kNewsFile,
            "it holds a NUL byte at offset " + std::to_string(nul) +
                ": the news box shows only the text before it (a UTF-16 file?)",
            encodingFix);
    }
    // Only the text before a NUL is shown; a last CR may have been parted
    // from its LF by the cap.
    std::string_view shown = std::string_view(news).substr(0, nul);
    if (news.size() >= facts.cap && shown.size() == news.size() && !shown.empty() && shown.back() == '\r')
        shown.remove_suffix(1);
    if (std::optional<BareLineEnds> bare = FindBareLineEnds(shown)) {
        AddWarning(warnings, Severity::Problem, kNewsFile,
            (bare->count == 1 ? std::string("a line end is not CR LF: a bare ")
                              : std::to_string(bare->count) + " line ends are not CR LF, the first a bare ") +
                (shown[bare->first] == '\n' ? "LF" : "CR") + " at offset " + std::to_string(bare->first) +
                ": the news box on Windows breaks lines only at CR LF, so players see those lines run together",
            "end every line in CR LF, with no other CR: LC_ALL=C sed 's/\\r*$/\\r/' news-cp932.txt > text.txt");
    }
    const std::optional<uint64_t>& announced = fetch.contentLength;
    if ((announced && *announced > facts.cap) || (!announced && news.size() >= facts.cap)) {
        AddWarning(warnings, Severity::Problem, kNewsFile,
            "it is larger than the updater's news cap of " + FormatBytes(facts.cap) +
                (announced ? " (" + FormatBytes(*announced) + ")" : std::string()) +
                ": players see only the part up to the cap",
            "keep the news well under the cap; link to longer texts");
    } else if (announced && news.size() < *announced) {
        AddWarning(warnings, Severity::Problem, kNewsFile,
            "the body ended after " + FormatBytes(news.size()) + " of the " + FormatBytes(*announced) +
                " announced: players see part of the news",
            "check that the server sends the whole file");
    } else if (!announced && !fetch.contentLengthMalformed) {
        AddWarning(warnings, Severity::Notice, kNewsFile,
            "it is served without Content-Length (chunked, or ended by closing the connection): a body cut short "
            "looks whole to the updater and to this check, and players would see part of the news",
            "serve text.txt as a static file, which gives it a Content-Length");
    }
    if (news.size() >= kSlowNewsBytes) {
        AddWarning(warnings, Severity::Notice, kNewsFile,
            "it is " + FormatBytes(news.size()) + ": reading it delays the updater's window noticeably",
            "keep the news under " + FormatBytes(kSlowNewsBytes));
    } else if (news.empty()) {
        AddWarning(warnings, Severity::Notice, kNewsFile, "it is empty: players see an empty news box",
            "write the news into text.txt");
    }
}
