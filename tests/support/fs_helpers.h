#pragma once
// Helpers for the file-layer tests: folder listings as short texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/fs.h"
#include "support/test_support.h"

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

}  // namespace testing_support
