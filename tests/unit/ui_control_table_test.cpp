// The dialog layouts that both front ends are built from.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "text/byte_string.h"
#include "ui/control_table.h"

namespace {

std::vector<int> IdsWhere(const DialogLayout& dialog, bool (*test)(const ControlLayout&)) {
    std::vector<int> ids;
    for (const ControlLayout& control : dialog.controls) {
        if (test(control)) ids.push_back(control.id);
    }
    return ids;
}

TEST(ControlTableTest, MainDialogTabsExactlyTheButtonsFieldsAndCheckBoxesInTemplateOrder) {
    EXPECT_EQ(IdsWhere(kMainDialogLayout, [](const ControlLayout& c) { return c.tabStop; }),
              (std::vector<int>{1, 1000, 1001, 1008, 1009, 1010, 1011, 1012, 1015, 1016, 1017,
                                1018, 1019, 1020, 1021, 1022, 1025, 1026}));
    EXPECT_EQ(IdsWhere(kMainDialogLayout, [](const ControlLayout& c) { return c.id > 0; }),
              (std::vector<int>{1, 1000, 1001, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015,
                                1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1025, 1026}));
}

TEST(ControlTableTest, MainDialogGroupsStartAtLabelsTwoGroupBoxesAndTheFirstRadios) {
    std::vector<ByteString> groupStarts;
    for (const ControlLayout& c : kMainDialogLayout.controls) {
        if (!c.group) continue;
        groupStarts.push_back(c.text ? Cp932(c.text) : ByteString("#"));
        if (!c.text) groupStarts.back() += std::to_string(c.id);
    }
    const std::vector<ByteString> expected = {
        Cp932(u8"【ファイル名変換形式】"),
        Cp932(u8"動作モード"),
        Cp932(u8"移動"),
        Cp932(u8"可変："),
        Cp932(u8"固定："),
        Cp932(u8"ファイル格納先："),
        Cp932(u8"フィル名の重複を避けるための変換を推奨します。"),
        Cp932(u8"その他"),
        Cp932(u8"削除する"),
        Cp932(u8"キロ バイト"),
    };
    EXPECT_EQ(groupStarts, expected);
}

TEST(ControlTableTest, EveryControlFitsItsDialogAndEveryTextHasACodePage932Form) {
    for (const DialogLayout* dialog : {&kMainDialogLayout, &kAboutDialogLayout}) {
        SCOPED_TRACE("template " + std::to_string(dialog->templateId));
        EXPECT_NO_THROW(Cp932(dialog->caption));
        EXPECT_NO_THROW(Cp932(dialog->fontName));
        std::set<int> ids;
        for (const ControlLayout& c : dialog->controls) {
            SCOPED_TRACE("control at " + std::to_string(c.x) + "," + std::to_string(c.y));
            EXPECT_GE(c.x, 0);
            EXPECT_GE(c.y, 0);
            EXPECT_LE(c.x + c.width, dialog->width);
            EXPECT_LE(c.y + c.height, dialog->height);
            const bool textless = c.kind == ControlKind::Edit || c.kind == ControlKind::NumberEdit ||
                                  c.kind == ControlKind::Icon;
            EXPECT_EQ(c.text == nullptr, textless);
            if (c.text) {
                EXPECT_NO_THROW(Cp932(c.text));
            }
            if (c.id > 0) {
                EXPECT_TRUE(ids.insert(c.id).second) << "duplicate id " << c.id;
            }
        }
    }
}

}  // namespace
