// What the checker's rules give and what they share: warnings, each naming
// its cause and its fix; the warnings about a transfer, which every server
// file can meet; and the formatting of numbers, bytes and times in their
// texts. Pure logic, no platform calls; the texts are ASCII.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer_facts.h"

enum class Severity {
    Problem, // players meet something wrong: the check fails
    Notice,  // worth knowing, but players are served
};

struct Warning {
    Severity severity;
    std::string file; // the server file it concerns
    std::string cause;
    std::string fix;
};
using Warnings = std::vector<Warning>;

void AddWarning(Warnings& warnings, Severity severity, const char* file, std::string cause, std::string fix);

// 0 when players are served well (notices at most), 1 when any problem.
int ExitStatus(const Warnings& warnings);

// The warning for a transfer that failed; true when it succeeded. consequence
// says what players meet then.
bool CheckTransfer(const char* file, const TransferInfo& fetch, const char* consequence, Warnings& warnings);
// A start-up fetch whose body the updater stopped reading when its time was
// up; true when it read the whole body. bound says how long the updater
// reads it, seen what players see then.
bool CheckStartupTime(const char* file, const TransferInfo& fetch, const std::string& bound, const std::string& seen,
                      Warnings& warnings);
// A download that fell under the progress floor.
void CheckProgress(const char* file, const TransferInfo& fetch, Warnings& warnings);
// Names the faults of an answer that the updater does not take as a file
// downloaded whole (package and signature); true when it has none. The
// encoding also matters to the other files: the updater shows their bytes as
// they come.
bool CheckAnswer(const char* file, const TransferInfo& fetch, bool downloadedWhole, const char* consequence,
                 Warnings& warnings);

// Bytes shown as ASCII text: printable characters as they are, others as
// \r, \n, \t or \xNN.
std::string EscapeBytes(std::string_view bytes);

// A URL as the report shows it: a user name and password in it show as ***.
std::string RedactUrl(std::string_view url);

// "0x8F"
std::string HexByte(unsigned char value);
// "1,234,567"
std::string WithSeparators(uint64_t value);
// "1,234,567 bytes"
std::string FormatBytes(uint64_t bytes);
// "3 s", "0.25 s"
std::string FormatSeconds(std::chrono::milliseconds time);
