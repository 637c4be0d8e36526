// The Windows resource script against the dialog layout table: the two are
// written separately (the .rc for the Windows program, the table for the Qt
// window and for this test), so this test keeps them from drifting apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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
    const size_t last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// Splits at commas outside string literals ("" inside a literal is a quote).
std::vector<std::string> SplitArguments(const std::string& s) {
    std::vector<std::string> parts(1);
    bool inString = false;
    for (char c : s) {
        if (c == '"') inString = !inString;
        if (c == ',' && !inString) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    for (auto& part : parts) part = Trim(part);
    return parts;
}

// The content of a string literal; the token itself when it is none.
std::string Unquote(const std::string& token) {
    if (token.size() < 2 || token.front() != '"' || token.back() != '"') return token;
    std::string text;
    for (size_t i = 1; i + 1 < token.size(); ++i) {
        text += token[i];
        if (token[i] == '"') ++i;  // "" stands for one quote
    }
    return text;
}

int ParseId(const std::string& token) {
    static const std::map<std::string, int> kNames = {{"IDOK", 1}, {"IDCANCEL", 2}, {"IDC_STATIC", -1}};
    const auto named = kNames.find(token);
    if (named != kNames.end()) return named->second;
    return std::stoi(token);
}

// "A | B | NOT C" -> {A, B}; a flag switched off with NOT is left out.
std::set<std::string> ParseStyles(const std::string& expression) {
    std::set<std::string> styles;
    std::istringstream words(expression);
    std::string word;
    bool negate = false;
    while (words >> word) {
        if (word == "|") continue;
        if (word == "NOT") {
            negate = true;
            continue;
        }
        if (!negate) styles.insert(word);
        negate = false;
    }
    return styles;
}

// CONTROL text, id, class, style, x, y, width, height
std::optional<RcControl> ParseControl(const std::string& line) {
    const std::string body = Trim(line);
    if (body.rfind("CONTROL ", 0) != 0) return std::nullopt;
    const std::vector<std::string> args = SplitArguments(body.substr(8));
    if (args.size() < 8) return std::nullopt;
    RcControl control;
    control.text = Unquote(args[0]);
    control.id = ParseId(args[1]);
    control.windowClass = Unquote(args[2]);
    control.styles = ParseStyles(args[3]);
    control.x = std::stoi(args[4]);
    control.y = std::stoi(args[5]);
    control.width = std::stoi(args[6]);
    control.height = std::stoi(args[7]);
    control.line = body;
    return control;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

RcScript ParseScript(const std::string& text) {
    RcScript script;
    script.text = text;
    std::istringstream lines(text);
    std::string raw;
    RcDialog* dialog = nullptr;
    bool inControls = false, inStrings = false;
    while (std::getline(lines, raw)) {
        const std::string line = Trim(raw);
        if (line.empty() || StartsWith(line, "//")) continue;
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;

        if (second == "DIALOGEX") {
            dialog = &script.dialogs[std::stoi(first)];
            const std::vector<std::string> box = SplitArguments(line.substr(line.find("DIALOGEX") + 8));
            dialog->width = std::stoi(box.at(2));
            dialog->height = std::stoi(box.at(3));
            inControls = false;
        } else if (first == "STRINGTABLE") {
            inStrings = true;
        } else if (first == "BEGIN") {
            inControls = dialog != nullptr;
        } else if (first == "END") {
            dialog = nullptr;
            inControls = inStrings = false;
        } else if (inStrings) {
            script.strings[std::stoi(first)] = Unquote(Trim(line.substr(first.size())));
        } else if (inControls) {
            const std::optional<RcControl> control = ParseControl(line);
            if (control) dialog->controls.push_back(*control);
            else ADD_FAILURE() << "not a CONTROL statement: " << line;
        } else if (dialog && first == "STYLE") {
            dialog->styles = ParseStyles(line.substr(5));
        } else if (dialog && first == "EXSTYLE") {
            dialog->exStyles = ParseStyles(line.substr(7));
        } else if (dialog && first == "CAPTION") {
            dialog->caption = Unquote(Trim(line.substr(7)));
        } else if (dialog && first == "FONT") {
            const std::vector<std::string> font = SplitArguments(line.substr(4));
            dialog->fontPoints = std::stoi(font.at(0));
            dialog->fontName = Unquote(font.at(1));
        } else if (first == "VALUE") {
            const std::vector<std::string> value = SplitArguments(line.substr(5));
            if (value.size() == 2) script.versionValues[Unquote(value[0])] = Unquote(value[1]);
        }
    }
    return script;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::filesystem::path ResourceFolder() {
    return std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "src" / "res";
}

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
        if (has("SS_NOPREFIX")) return ControlKind::LabelNoPrefix;
        return ControlKind::Label;
    }
    return std::nullopt;
}

// Every difference between a dialog of the script and its table, one line each.
std::vector<std::string> Differences(const RcDialog& rc, const DialogSpec& spec) {
    std::vector<std::string> found;
    const auto expect = [&](bool same, const std::string& what) {
        if (!same) found.push_back(what);
    };
    expect(rc.caption == Utf8(spec.caption), "caption: " + rc.caption);
    expect(rc.width == spec.width && rc.height == spec.height, "dialog size");
    expect(rc.fontName == Utf8(spec.fontName) && rc.fontPoints == spec.fontPoints, "font: " + rc.fontName);
    expect(rc.controls.size() == spec.controls.size(),
           "control count " + std::to_string(rc.controls.size()) + " instead of " +
               std::to_string(spec.controls.size()));

    for (size_t i = 0; i < rc.controls.size() && i < spec.controls.size(); ++i) {
        const RcControl& c = rc.controls[i];
        const ControlSpec& s = spec.controls[i];
        const std::string at = "control " + std::to_string(i) + " (" + c.line + "): ";
        expect(c.id == s.id, at + "id");
        expect(KindOf(c) == s.kind, at + "kind");
        const std::string text = s.kind == ControlKind::Icon ? "128" : Utf8(s.text);
        expect(c.text == text, at + "text");
        expect(c.x == s.x && c.y == s.y && c.width == s.width && c.height == s.height, at + "position");
        expect(c.styles.count("WS_TABSTOP") == (s.tabStop ? 1u : 0u), at + "tab stop");
        expect(c.styles.count("WS_GROUP") == (s.group ? 1u : 0u), at + "group");
        // No control is ever disabled, read-only or hidden.
        expect(!c.styles.count("WS_DISABLED") && !c.styles.count("ES_READONLY"), at + "disabled");
    }
    return found;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) all += line + "\n";
    return all;
}

// ---------------------------------------------------------------------------

TEST(ResourceScript, BothDialogsMatchTheLayoutTable) {
    const RcScript script = ParseScript(ProgramScriptText());
    for (const DialogSpec* spec : {&kMainDialogSpec, &kAboutDialogSpec}) {
        SCOPED_TRACE("template " + std::to_string(spec->templateId));
        ASSERT_EQ(script.dialogs.count(spec->templateId), 1u);
        EXPECT_EQ(Joined(Differences(script.dialogs.at(spec->templateId), *spec)), "");
    }
}

TEST(ResourceScript, DialogFramesAreFixedSizeModalPopups) {
    const RcScript script = ParseScript(ProgramScriptText());
    for (int templateId : {kMainDialogSpec.templateId, kAboutDialogSpec.templateId}) {
        SCOPED_TRACE(templateId);
        ASSERT_EQ(script.dialogs.count(templateId), 1u);
        const std::set<std::string>& styles = script.dialogs.at(templateId).styles;
        for (const char* required : {"DS_MODALFRAME", "WS_POPUP", "WS_CAPTION", "WS_SYSMENU", "DS_SETFONT"}) {
            EXPECT_EQ(styles.count(required), 1u) << required;
        }
        for (const char* refused : {"WS_MINIMIZEBOX", "WS_MAXIMIZEBOX", "WS_THICKFRAME", "WS_SIZEBOX"}) {
            EXPECT_EQ(styles.count(refused), 0u) << refused;
        }
    }
    // The main window: centred in the work area, with its own taskbar button.
    const RcDialog& main = script.dialogs.at(kMainDialogSpec.templateId);
    EXPECT_EQ(main.styles.count("DS_CENTER"), 1u);
    EXPECT_EQ(main.exStyles.count("WS_EX_APPWINDOW"), 1u);
}

TEST(ResourceScript, MenuStringIconVersionRecordAndManifest) {
    const RcScript script = ParseScript(ProgramScriptText());
    EXPECT_EQ(script.strings.at(101), Utf8(u8"Tessarbolink のﾊﾞｰｼﾞｮﾝ情報(&A)..."));

    // Resources are only read back when the script is compiled; check they are there.
    EXPECT_NE(script.text.find("128 ICON \"tessarbolink.ico\""), std::string::npos);
    EXPECT_FALSE(ReadFile(ResourceFolder() / "tessarbolink.ico").empty());
    EXPECT_NE(script.text.find("RT_MANIFEST \"tessarbolink.manifest\""), std::string::npos);
    const std::string manifest = ReadFile(ResourceFolder() / "tessarbolink.manifest");
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
    // The texts are UTF-8 and must be compiled as such.
    EXPECT_NE(script.text.find("#pragma code_page(65001)"), std::string::npos);

    EXPECT_NE(script.text.find("FILEVERSION 1,0,0,1"), std::string::npos);
    EXPECT_NE(script.text.find("PRODUCTVERSION 1,0,0,1"), std::string::npos);
    EXPECT_NE(script.text.find("BLOCK \"041104b0\""), std::string::npos);
    EXPECT_NE(script.text.find("VALUE \"Translation\", 0x411, 1200"), std::string::npos);
    const std::map<std::string, std::string> expected = {
        {"CompanyName", ""},
        {"FileVersion", "1, 0, 0, 1"},
        {"InternalName", "Tessarbolink"},
        {"LegalTrademarks", ""},
        {"OriginalFilename", "Tessarbolink.EXE"},
        {"ProductName", Utf8(u8"Tessarbolink ｱﾌﾟﾘｹｰｼｮﾝ")},
        {"ProductVersion", "1, 0, 0, 1"},
    };
    std::map<std::string, std::string> values = script.versionValues;
    values.erase("Translation");
    EXPECT_EQ(values, expected);
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
        return Differences(ParseScript(text).dialogs[102], kMainDialogSpec).size();
    };
    EXPECT_EQ(differencesAfter("281, 179, 50, 14", "281, 179, 50, 14"), 0u);
    EXPECT_EQ(differencesAfter("281, 179, 50, 14", "280, 179, 50, 14"), 1u);
    EXPECT_EQ(differencesAfter("BS_AUTOCHECKBOX | WS_TABSTOP, 285, 75", "BS_AUTOCHECKBOX, 285, 75"), 1u);
    EXPECT_EQ(differencesAfter("\"開く\"", "\"開け\""), 1u);
    EXPECT_EQ(differencesAfter("1014, \"Button\", BS_AUTORADIOBUTTON,", "1014, \"Button\", BS_AUTOCHECKBOX,"), 1u);
    EXPECT_EQ(differencesAfter("ES_RIGHT | ES_NUMBER | ", ""), 1u);
}

}  // namespace
