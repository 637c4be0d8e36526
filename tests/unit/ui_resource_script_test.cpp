// The Windows resource script against the dialog layout table: the two are
// written separately (the .rc for the Windows program, the table for the Qt
// window and for this test), so this test keeps them from drifting apart.
// Both take their numbers from ui/control_ids.h.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ui/control_ids.h"
#include "ui/control_table.h"

namespace {

// ---------------------------------------------------------------------------
// A reader for the subset of resource-script syntax the program's .rc uses.

struct RcControl {
    std::string text;  // the string, or the number of an icon resource
    int id = 0;
    std::string windowClass;
    std::set<std::string> styles;
    int x = 0, y = 0, width = 0, height = 0;
    std::string line;  // for messages
};

struct RcDialog {
    int width = 0, height = 0;
    std::set<std::string> styles;
    std::set<std::string> exStyles;
    std::string caption;
    int fontPoints = 0;
    std::string fontName;
    std::vector<RcControl> controls;
};

struct RcScript {
    std::map<int, RcDialog> dialogs;
    std::map<int, std::string> strings;
    std::map<std::string, std::string> versionValues;
    std::string text;
};

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The content of a string literal ("" inside it stands for one quote).
std::string Unquote(const std::string& token) {
    if (token.size() < 2 || token.front() != '"' || token.back() != '"') return token;
    return std::regex_replace(token.substr(1, token.size() - 2), std::regex("\"\""), "\"");
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::filesystem::path SourceFolder() { return std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "src"; }

// The names the script may use for numbers: the program's own, from the
// header the script includes, and the two of windows.h it uses.
const std::map<std::string, int>& IdNames() {
    static const std::map<std::string, int> names = [] {
        std::map<std::string, int> found = {{"IDOK", 1}, {"IDCANCEL", 2}};
        const std::string header = ReadFile(SourceFolder() / "ui" / "control_ids.h");
        const std::regex define(R"(#define (\w+) \(?(-?\d+)\)?)");
        for (std::sregex_iterator it(header.begin(), header.end(), define), end; it != end; ++it)
            found[(*it)[1]] = std::stoi((*it)[2]);
        return found;
    }();
    return names;
}

int ParseId(const std::string& token) {
    const auto named = IdNames().find(token);
    return named != IdNames().end() ? named->second : std::stoi(token);
}

// "A | B | NOT C" -> {A, B}; a flag switched off with NOT is left out.
std::set<std::string> ParseStyles(const std::string& expression) {
    std::set<std::string> styles;
    std::istringstream words(expression);
    bool negate = false;
    for (std::string word; words >> word;) {
        if (word == "NOT") {
            negate = true;
        } else if (word != "|") {
            if (!negate) styles.insert(word);
            negate = false;
        }
    }
    return styles;
}

RcScript ParseScript(const std::string& text) {
    // The statements the program's .rc uses, one per line: Q is a string
    // literal, N a number (both captured), C a comma with any blanks around it.
    const std::string literal = R"("(?:[^"]|"")*")";
    const std::string Q = "(" + literal + ")", N = R"((\d+))", C = R"(\s*,\s*)", ID = R"((\w+))";
    const std::regex kDialog(ID + " DIALOGEX \\d+" + C + "\\d+" + C + N + C + N);
    const std::regex kStyle("(EX)?STYLE (.*)");
    const std::regex kCaption("CAPTION " + Q);
    const std::regex kFont("FONT " + N + C + Q + ".*");
    const std::regex kControl("CONTROL (" + literal + "|\\w+)" + C + "(\\w+)" + C + "\"(\\w+)\"" + C + "([^,]+)" +
                                     C + N + C + N + C + N + C + N);
    const std::regex kString(ID + "\\s+" + Q);
    const std::regex kValue("VALUE " + Q + C + Q);

    RcScript script;
    script.text = text;
    std::istringstream lines(text);
    RcDialog* dialog = nullptr;
    bool inControls = false, inStrings = false;
    for (std::string raw; std::getline(lines, raw);) {
        const std::string line = Trim(raw);
        std::smatch m;
        if (line.empty() || line.rfind("//", 0) == 0) continue;
        if (std::regex_match(line, m, kDialog)) {
            dialog = &script.dialogs[ParseId(m[1])];
            dialog->width = std::stoi(m[2]);
            dialog->height = std::stoi(m[3]);
        } else if (line == "STRINGTABLE") {
            inStrings = true;
        } else if (line == "BEGIN") {
            inControls = dialog != nullptr;
        } else if (line == "END") {
            dialog = nullptr;
            inControls = inStrings = false;
        } else if (inStrings && std::regex_match(line, m, kString)) {
            script.strings[ParseId(m[1])] = Unquote(m[2]);
        } else if (inControls && std::regex_match(line, m, kControl)) {
            dialog->controls.push_back({Unquote(m[1]), ParseId(m[2]), m[3], ParseStyles(m[4]), std::stoi(m[5]),
                                        std::stoi(m[6]), std::stoi(m[7]), std::stoi(m[8]), line});
        } else if (inControls) {
            ADD_FAILURE() << "not a CONTROL statement: " << line;
        } else if (dialog && std::regex_match(line, m, kStyle)) {
            (m[1].matched ? dialog->exStyles : dialog->styles) = ParseStyles(m[2]);
        } else if (dialog && std::regex_match(line, m, kCaption)) {
            dialog->caption = Unquote(m[1]);
        } else if (dialog && std::regex_match(line, m, kFont)) {
            dialog->fontPoints = std::stoi(m[1]);
            dialog->fontName = Unquote(m[2]);
        } else if (std::regex_match(line, m, kValue)) {
            script.versionValues[Unquote(m[1])] = Unquote(m[2]);
        }
    }
    return script;
}

std::filesystem::path ResourceFolder() { return SourceFolder() / "res"; }

std::string ProgramScriptText() {
    const std::string text = ReadFile(ResourceFolder() / "tessarbolink.rc");
    if (text.empty()) ADD_FAILURE() << "cannot read " << (ResourceFolder() / "tessarbolink.rc").string();
    return text;
}

// ---------------------------------------------------------------------------
// Comparison with the table

std::string Utf8(const char8_t* text) {
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

// The kind a control's class and style give, or "" when they give none.
std::optional<ControlKind> KindOf(const RcControl& c) {
    const auto has = [&](const char* style) { return c.styles.count(style) > 0; };
    if (c.windowClass == "Button") {
        if (has("BS_DEFPUSHBUTTON")) return ControlKind::DefPushButton;
        if (has("BS_PUSHBUTTON")) return ControlKind::PushButton;
        if (has("BS_GROUPBOX")) return ControlKind::GroupBox;
        if (has("BS_AUTORADIOBUTTON")) return ControlKind::Radio;
        if (has("BS_AUTOCHECKBOX")) return ControlKind::CheckBox;
    } else if (c.windowClass == "Edit") {
        // Single-line and scrolling horizontally in every case.
        if (!has("ES_AUTOHSCROLL") || has("ES_MULTILINE")) return std::nullopt;
        if (has("ES_NUMBER") && has("ES_RIGHT")) return ControlKind::NumberEdit;
        if (!has("ES_NUMBER") && !has("ES_RIGHT")) return ControlKind::Edit;
    } else if (c.windowClass == "Static") {
        if (has("SS_ICON")) return ControlKind::Icon;
        if (has("SS_PATHELLIPSIS") && has("SS_NOPREFIX")) return ControlKind::PathLabel;
        if (has("SS_NOPREFIX")) return ControlKind::LabelNoPrefix;
        return ControlKind::Label;
    } else if (c.windowClass == "msctls_progress32") {
        return ControlKind::ProgressBar;
    }
    return std::nullopt;
}

// Every difference between a dialog of the script and its table, one line each.
std::vector<std::string> Differences(const RcDialog& rc, const DialogLayout& entry) {
    std::vector<std::string> found;
    const auto expect = [&](bool same, const std::string& what) {
        if (!same) found.push_back(what);
    };
    expect(rc.caption == Utf8(entry.caption), "caption: " + rc.caption);
    expect(rc.width == entry.width && rc.height == entry.height, "dialog size");
    expect(rc.fontName == Utf8(entry.fontName) && rc.fontPoints == entry.fontPoints, "font: " + rc.fontName);
    expect(rc.controls.size() == entry.controls.size(),
           "control count " + std::to_string(rc.controls.size()) + " instead of " +
               std::to_string(entry.controls.size()));

    for (size_t i = 0; i < rc.controls.size() && i < entry.controls.size(); ++i) {
        const RcControl& c = rc.controls[i];
        const ControlLayout& s = entry.controls[i];
        const std::string at = "control " + std::to_string(i) + " (" + c.line + "): ";
        expect(c.id == s.id, at + "id");
        expect(KindOf(c) == s.kind, at + "kind");
        const std::string text = s.kind == ControlKind::Icon ? "IDR_MAINFRAME" : Utf8(s.text);
        expect(c.text == text, at + "text");
        expect(c.x == s.x && c.y == s.y && c.width == s.width && c.height == s.height, at + "position");
        expect(c.styles.count("WS_TABSTOP") == (s.tabStop ? 1u : 0u), at + "tab stop");
        expect(c.styles.count("WS_GROUP") == (s.group ? 1u : 0u), at + "group");
        // No control is ever disabled, read-only or hidden.
        expect(!c.styles.count("WS_DISABLED") && !c.styles.count("ES_READONLY"), at + "disabled");
    }
    return found;
}

// ---------------------------------------------------------------------------

TEST(ResourceScript, EveryDialogMatchesTheLayoutTableAndIsAFixedSizePopup) {
    const RcScript script = ParseScript(ProgramScriptText());
    for (const DialogLayout* entry : {&kMainDialogLayout, &kAboutDialogLayout, &kProgressDialogLayout}) {
        SCOPED_TRACE("template " + std::to_string(entry->templateId));
        ASSERT_EQ(script.dialogs.count(entry->templateId), 1u);
        const RcDialog& dialog = script.dialogs.at(entry->templateId);
        EXPECT_THAT(Differences(dialog, *entry), ::testing::IsEmpty());
        for (const char* required : {"DS_MODALFRAME", "WS_POPUP", "WS_CAPTION", "WS_SYSMENU", "DS_SETFONT"}) {
            EXPECT_EQ(dialog.styles.count(required), 1u) << required;
        }
        for (const char* refused : {"WS_MINIMIZEBOX", "WS_MAXIMIZEBOX", "WS_THICKFRAME", "WS_SIZEBOX"}) {
            EXPECT_EQ(dialog.styles.count(refused), 0u) << refused;
        }
    }
    // The main window: centred in the work area, with its own taskbar button.
    const RcDialog& main = script.dialogs.at(kMainDialogLayout.templateId);
    EXPECT_EQ(main.styles.count("DS_CENTER"), 1u);
    EXPECT_EQ(main.exStyles.count("WS_EX_APPWINDOW"), 1u);
}

TEST(ResourceScript, MenuStringIconVersionRecordAndManifest) {
    const RcScript script = ParseScript(ProgramScriptText());
    EXPECT_EQ(script.strings.at(IDS_ABOUTBOX), Utf8(u8"Tessarbolink のﾊﾞｰｼﾞｮﾝ情報(&A)..."));

    // Resources are only read back when the script is compiled; check they are
    // there.  The texts are UTF-8 and must be compiled as such.
    for (const char* statement : {"#include \"ui/control_ids.h\"", "IDR_MAINFRAME ICON \"tessarbolink.ico\"", "RT_MANIFEST \"tessarbolink.manifest\"",
                                  "#pragma code_page(65001)", "FILEVERSION 1,0,0,1", "PRODUCTVERSION 1,0,0,1",
                                  "BLOCK \"041104b0\"", "VALUE \"Translation\", 0x411, 1200"}) {
        EXPECT_NE(script.text.find(statement), std::string::npos) << statement;
    }
    const std::string manifest = ReadFile(ResourceFolder() / "tessarbolink.manifest");
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);

    const std::map<std::string, std::string> expected = {
        {"CompanyName", ""},
        {"FileVersion", "1, 0, 0, 1"},
        {"InternalName", "Tessarbolink"},
        {"LegalTrademarks", ""},
        {"OriginalFilename", "Tessarbolink.EXE"},
        {"ProductName", Utf8(u8"Tessarbolink ｱﾌﾟﾘｹｰｼｮﾝ")},
        {"ProductVersion", "1, 0, 0, 1"},
    };
    EXPECT_EQ(script.versionValues, expected);
}

// The comparison must notice a script that drifted, or the tests above prove
// nothing: a control out of place, a lost tab stop, a changed text.
TEST(ResourceScript, ComparisonNoticesADriftedScript) {
    const std::string original = ProgramScriptText();
    const auto differencesAfter = [&](const std::string& from, const std::string& to) {
        std::string text = original;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
        return Differences(ParseScript(text).dialogs[IDD_MAIN], kMainDialogLayout).size();
    };
    EXPECT_EQ(differencesAfter("281, 179, 50, 14", "280, 179, 50, 14"), 1u);
    EXPECT_EQ(differencesAfter("BS_AUTOCHECKBOX | WS_TABSTOP, 285, 75", "BS_AUTOCHECKBOX, 285, 75"), 1u);
    EXPECT_EQ(differencesAfter("\"開く\"", "\"開け\""), 1u);
    EXPECT_EQ(differencesAfter("IDC_COPY, \"Button\", BS_AUTORADIOBUTTON,", "IDC_COPY, \"Button\", BS_AUTOCHECKBOX,"), 1u);
    EXPECT_EQ(differencesAfter("ES_RIGHT | ES_NUMBER | ", ""), 1u);
}

}  // namespace
