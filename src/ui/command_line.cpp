#include "ui/command_line.h"

namespace {

// Both languages side by side: this text is also where the manual page is
// made from, so it stays plain (no tabs, no escapes) and changes only with
// the options.
constexpr std::u8string_view kUsage =
    u8"Usage: tessarbolink [OPTION]... [--] [FILE]...\n"
    u8"使い方: tessarbolink [オプション]... [--] [ファイル]...\n"
    u8"\n"
    u8"Opens the Tessarbolink window. The files and folders given are handled\n"
    u8"as a drop of them on the window, in the order given, once it is shown.\n"
    u8"Tessarbolink のウィンドウを開きます。指定したファイルとフォルダは、\n"
    u8"ウィンドウが開いたあと、指定した順にドロップと同じように処理されます。\n"
    u8"\n"
    u8"Options / オプション:\n"
    u8"  --help       show this help and exit\n"
    u8"               この説明を表示して終了します\n"
    u8"  --version    show the name and the version and exit\n"
    u8"               名前とバージョンを表示して終了します\n"
    u8"  --           end of the options: every later argument names a file\n"
    u8"               オプションの終わり。以降の引数はすべてファイルです\n"
    u8"\n"
    u8"Any other argument before \"--\" that starts with \"-\" is an error\n"
    u8"(exit status 2).\n"
    u8"\"--\" より前の \"-\" で始まるその他の引数はエラーです（終了コード 2）。\n";

std::string AsBytes(std::u8string_view text) { return std::string(text.begin(), text.end()); }

}  // namespace

CommandLine ReadCommandLine(const std::vector<std::u16string>& arguments) {
    CommandLine line;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != u'-') {
            line.files.push_back(i);
        } else if (argument == u"--") {
            optionsEnded = true;
        } else {
            line.request = argument == u"--help"      ? StartRequest::Help
                           : argument == u"--version" ? StartRequest::Version
                                                      : StartRequest::RefusedOption;
            if (line.request == StartRequest::RefusedOption) line.refused = i;
            return line;
        }
    }
    return line;
}

std::string_view UsageText() {
    static const std::string usage = AsBytes(kUsage);
    return usage;
}

std::string VersionText() { return std::string("Tessarbolink ") + TESSARBOLINK_VERSION + "\n"; }

std::string RefusedOptionText(std::string_view option) {
    std::string quoted = "\"";
    quoted.append(option);
    quoted += '"';
    std::string text = "tessarbolink: unknown option ";
    text += quoted;
    text += '\n';
    text += AsBytes(u8"tessarbolink: 不明なオプションです: ");
    text += quoted;
    text += '\n';
    text += AsBytes(u8"Try \"tessarbolink --help\". / 使い方は \"tessarbolink --help\" で表示されます。\n");
    return text;
}
