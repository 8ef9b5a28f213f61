#include "check_args.h"

#include <cstdio>

#include "warnings.h"

namespace {

ParsedArguments Error(std::string text)
{
    return ParsedArguments{std::nullopt, std::move(text)};
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::string(prefix).size(), prefix) == 0;
}

bool IsAscii(const std::wstring& word)
{
    for (wchar_t c : word) {
        if (c <= 0 || c >= 0x80)
            return false;
    }
    return true;
}

} // namespace

// A word of the command line as ASCII, for the options and the messages: any
// other character as \uXXXX.
std::string Ascii(const std::wstring& word)
{
    std::string text;
    for (wchar_t c : word) {
        if (c > 0 && c < 0x80) {
            text += static_cast<char>(c);
            continue;
        }
        char escape[16];
        std::snprintf(escape, sizeof escape, "\\u%04lX", static_cast<unsigned long>(c));
        text += escape;
    }
    return text;
}

ParsedArguments ParseCheckArguments(const std::vector<std::wstring>& args)
{
    CheckOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string arg = Ascii(args[i]);
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            options.help = true;
        } else if (arg == "--no-package") {
            options.package = false;
        } else if (arg == "--game" || arg == "--new-game" || arg == "--key" || arg == "--package") {
            std::optional<std::wstring>& value = arg == "--game"       ? options.game
                                                 : arg == "--new-game" ? options.newGame
                                                 : arg == "--key"      ? options.keyFile
                                                                       : options.packageCopy;
            if (value)
                return Error(arg + " is given twice");
            if (i + 1 >= args.size() || args[i + 1].empty())
                return Error(arg + " needs a file name");
            value = args[++i];
        } else if (StartsWith(arg, "-")) {
            return Error("unknown option " + arg);
        } else if (options.url) {
            return Error("more than one URL: " + RedactUrl(*options.url) + " and " + RedactUrl(arg));
        } else if (!IsAscii(args[i])) {
            return Error("the URL must be ASCII, other characters percent-encoded: " + RedactUrl(arg));
        } else if (!StartsWith(arg, "http://") && !StartsWith(arg, "https://")) {
            return Error("the URL must start with http:// or https://: " + RedactUrl(arg));
        } else if (arg.back() != '/') {
            // File names are appended to it as they are.
            return Error("the URL must be the update directory, ending in /: " + RedactUrl(arg));
        } else {
            options.url = arg;
        }
    }
    if (options.packageCopy && !options.package)
        return Error("--package and --no-package exclude each other");
    return ParsedArguments{options, {}};
}
