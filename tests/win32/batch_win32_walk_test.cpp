// The walk on Windows: every folder is held open while its entries are
// handled, so that it cannot be renamed, or replaced, from under the batch.
#include <windows.h>

#include <gtest/gtest.h>

#include <utility>

#include "support/batch_fixture.h"
#include "support/test_support.h"
#include "text/text_win32.h"

using namespace testing_support;

namespace {

std::wstring Wide(const ByteString& path) {
    std::wstring wide;
    EXPECT_TRUE(Cp932ToWide(path, wide));
    return wide;
}

class BatchWin32WalkTest : public BatchFixture {
protected:
    BatchWin32WalkTest() : BatchFixture(Cp932(u8"[ファイルタイトル]")) {}
};

// Someone swaps the folder being walked for another folder holding files of
// the same names.  Where folders held open cannot be renamed, the swap
// fails; where they can (Wine), the walk notices that the path no longer
// names its folder.  Either way the other folder's files stay untouched.
TEST_F(BatchWin32WalkTest, AFolderSwappedDuringTheWalkLeadsNowhereElse) {
    TempFolder outside;
    MakeFolder(In("x"));
    for (const char* file : {"1", "2", "3"}) {
        WriteBytes(In("x") + "\\" + file, "mine");
        WriteBytes(outside.Join(file), "theirs");
    }
    settings.m_bFileDontMove = 1;  // every file here is small: deleted
    settings.m_nKBytes = 1;
    settings.m_nDontMoveMode = 0;
    bool tried = false;
    host.onTitle = [&] {
        if (std::exchange(tried, true)) return;
        if (MoveFileW(Wide(In("x")).c_str(), Wide(In("x.old")).c_str()))
            MoveFileW(Wide(outside.Path()).c_str(), Wide(In("x")).c_str());
    };

    batch.RunBatch(AsDropped({source.Path()}));

    const ByteString theirs = Exists(In("x.old")) ? In("x") : outside.Path();
    EXPECT_EQ(NamesIn(theirs), (std::vector<ByteString>{"1", "2", "3"}));
    for (const char* file : {"1", "2", "3"}) EXPECT_EQ(ReadBytes(theirs + "\\" + file), "theirs");
    EXPECT_EQ(state.m_nTotal, 3);
}

}  // namespace
