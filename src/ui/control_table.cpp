#include "ui/control_table.h"

#include "ui/control_ids.h"

namespace {

using K = ControlKind;

constexpr bool kTab = true;
constexpr bool kNoTab = false;
constexpr bool kGroup = true;
constexpr bool kNoGroup = false;

// The labels of the three text fields.
constexpr const char8_t* kWhereLabel = u8"ファイル格納先：";
constexpr const char8_t* kFormatLabel = u8"【ファイル名変換形式】";
constexpr const char8_t* kKBytesLabel = u8"キロ バイト";

// Template 102, in template order (which is also the tab order).
constexpr ControlLayout kMainControls[] = {
    {IDC_CLOSE, K::DefPushButton, u8"閉じる(&C)", 281, 179, 50, 14, kTab, kNoGroup},
    {IDC_WHERE, K::Edit, nullptr, 48, 3, 229, 14, kTab, kNoGroup},
    {IDC_BROWSE, K::PushButton, u8"開く", 279, 3, 50, 14, kTab, kNoGroup},
    {IDC_DATE, K::PushButton, u8"現在の日付", 26, 47, 51, 14, kTab, kNoGroup},
    {IDC_TITLE, K::PushButton, u8"ファイルタイトル", 26, 31, 50, 14, kTab, kNoGroup},
    {IDC_EXTENSION, K::PushButton, u8"拡張子", 78, 31, 50, 14, kTab, kNoGroup},
    {IDC_STATIC, K::Label, kFormatLabel, 8, 93, 66, 8, kNoTab, kGroup},
    {IDC_FORMAT, K::Edit, nullptr, 7, 103, 217, 14, kTab, kNoGroup},
    {IDC_UNDERBAR, K::PushButton, u8"アンダーバー", 157, 31, 50, 14, kTab, kNoGroup},
    {IDC_STATIC, K::GroupBox, u8"動作モード", 280, 21, 48, 39, kNoTab, kGroup},
    {IDC_MOVE, K::Radio, u8"移動", 285, 32, 30, 10, kNoTab, kGroup},
    {IDC_COPY, K::Radio, u8"コピー", 285, 46, 34, 10, kNoTab, kNoGroup},
    {IDC_CLEAR, K::PushButton, u8"クリア", 225, 103, 50, 14, kTab, kNoGroup},
    {IDC_STATIC, K::GroupBox, u8"フォーマット", 2, 21, 276, 98, kNoTab, kNoGroup},
    {IDC_STATIC, K::Label, u8"可変：", 7, 33, 18, 8, kNoTab, kGroup},
    {IDC_STATIC, K::Label, u8"固定：", 138, 34, 18, 8, kNoTab, kGroup},
    {IDC_STATIC, K::Label, kWhereLabel, 0, 6, 48, 8, kNoTab, kGroup},
    {IDC_STATIC, K::Label, u8"フィル名の重複を避けるための変換を推奨します。", 75, 93, 146, 8, kNoTab, kGroup},
    {IDC_STATIC, K::GroupBox, u8"ログを取る", 280, 63, 48, 40, kNoTab, kNoGroup},
    {IDC_CHANGELOG, K::CheckBox, u8"変換", 285, 75, 30, 10, kTab, kNoGroup},
    {IDC_ERRORLOG, K::CheckBox, u8"エラー", 285, 87, 35, 10, kTab, kNoGroup},
    {IDC_HYPHEN, K::PushButton, u8"ハイフン", 157, 48, 50, 14, kTab, kNoGroup},
    {IDC_SPACE, K::PushButton, u8"空白スペース", 157, 65, 50, 14, kTab, kNoGroup},
    {IDC_RANDOM, K::PushButton, u8"乱数", 78, 47, 50, 14, kTab, kNoGroup},
    {IDC_SERIAL, K::PushButton, u8"連番", 78, 64, 50, 14, kTab, kNoGroup},
    {IDC_STATIC, K::GroupBox, u8"その他", 2, 121, 326, 57, kNoTab, kGroup},
    {IDC_FILEDONTMOVE, K::CheckBox, u8"以下の容量ファイルより小さいファイルは、移動せずに", 7, 132, 168, 10, kTab, kNoGroup},
    {IDC_DELETE, K::Radio, u8"削除する", 175, 143, 42, 10, kNoTab, kGroup},
    {IDC_DONTMOVE, K::Radio, u8"移動・コピーしない", 175, 131, 69, 10, kNoTab, kNoGroup},
    {IDC_KBYTES, K::NumberEdit, nullptr, 25, 143, 40, 14, kTab, kNoGroup},
    {IDC_STATIC, K::Label, kKBytesLabel, 67, 147, 33, 8, kNoTab, kGroup},
    {IDC_DELETEDIRECTORY, K::CheckBox, u8"空のディレクトリは削除する", 7, 165, 95, 10, kTab, kNoGroup},
};

constexpr FieldLabel kFieldLabels[] = {
    {IDC_WHERE, kWhereLabel},
    {IDC_FORMAT, kFormatLabel},
    {IDC_KBYTES, kKBytesLabel},
};

// Template 100.
constexpr ControlLayout kAboutControls[] = {
    {IDC_STATIC, K::Icon, nullptr, 11, 17, 20, 20, kNoTab, kGroup},
    {IDC_STATIC, K::LabelNoPrefix, u8"Tessarbolink Version 1.10", 40, 10, 119, 8, kNoTab, kGroup},
    {IDC_STATIC, K::Label, u8"Copyright (C) 2001-2003 Tessarbolink", 40, 25, 119, 8, kNoTab, kGroup},
    {IDC_CLOSE, K::DefPushButton, u8"OK", 178, 34, 50, 14, kTab, kGroup},
};

// Template 103: the progress window of a long batch or undo.
constexpr ControlLayout kProgressControls[] = {
    {IDC_PROGRESS_FILE, K::PathLabel, nullptr, 7, 7, 226, 8, kNoTab, kGroup},
    {IDC_PROGRESS_COUNT, K::LabelNoPrefix, nullptr, 7, 19, 110, 8, kNoTab, kGroup},
    {IDC_PROGRESS_BYTES, K::LabelNoPrefix, nullptr, 123, 19, 110, 8, kNoTab, kGroup},
    {IDC_PROGRESS_BAR, K::ProgressBar, nullptr, 7, 30, 226, 9, kNoTab, kGroup},
    {IDC_STOP, K::PushButton, u8"中止", 95, 45, 50, 14, kTab, kGroup},
};

}  // namespace

const DialogLayout kMainDialogLayout = {
    IDD_MAIN,
    u8"Tessarbolink Ver1.10    ドロップ＆ドラッグで処理を開始します。",
    331,
    193,
    u8"ＭＳ Ｐゴシック",
    9,
    kMainControls,
};

const DialogLayout kAboutDialogLayout = {
    IDD_ABOUTBOX,
    u8"Tessarbolinkのﾊﾞｰｼﾞｮﾝ情報",
    235,
    55,
    u8"ＭＳ Ｐゴシック",
    9,
    kAboutControls,
};

const DialogLayout kProgressDialogLayout = {
    IDD_PROGRESS,
    u8"処理中",
    240,
    65,
    u8"ＭＳ Ｐゴシック",
    9,
    kProgressControls,
};

const std::span<const FieldLabel> kMainFieldLabels = kFieldLabels;
