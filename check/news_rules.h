// The checker's rules for the news, text.txt. Pure logic.
#pragma once

#include <cstddef>

#include "warnings.h"

// News from this size on delays the window noticeably: the news box lays out
// the whole text before the window shows, and 64 KiB of it about double the
// time to the window.
inline constexpr size_t kSlowNewsBytes = 64 * 1024;

struct NewsFacts {
    NewsFetch fetch;
    bool definedInCp932 = true;  // the platform converts every character
    size_t cap = 0;              // the updater's news cap
};

void CheckNews(const NewsFacts& facts, Warnings& warnings);
