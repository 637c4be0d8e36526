#pragma once
// Helpers for the file-layer tests: folder listings as short texts, and
// dates to check local times against (support/civil_calendar.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/fs.h"
#include "support/civil_calendar.h"

namespace testing_support {

// Each entry of a folder as "name Kind", sorted by name, with " unreachable"
// added where the listed name does not lead to the entry.
inline std::vector<std::string> DescribedListing(const ByteString& folder) {
    static const char* const kKinds[] = {"Missing", "File", "Folder", "FolderLink", "Special"};
    std::vector<FolderEntry> entries;
    EXPECT_TRUE(ListFolder(folder, entries)) << folder;
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    std::vector<std::string> described;
    for (const FolderEntry& entry : entries)
        described.push_back(entry.name + " " + kKinds[static_cast<int>(entry.kind)] +
                            (entry.convertible ? "" : " unreachable"));
    return described;
}


// "YYYY-MM-DD hh:mm:ss", to compare whole moments and show the wrong field.
inline std::string DateText(const LocalDateTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(t.year), t.month,
                  t.day, t.hour, t.minute, t.second);
    return text;
}

}  // namespace testing_support
