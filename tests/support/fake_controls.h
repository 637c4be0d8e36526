#pragma once
// A window without a toolkit for driving CDropDlg: control texts and check
// states in maps, scripted answers for the message boxes and the folder
// browser, and a record of every call in the order it was made.
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ui/dialog_controls.h"
#include "ui/drop_dialog.h"

class FakeControls : public DialogControls {
public:
    struct Box {
        ByteString text;
        ByteString caption;
        MessageButtons buttons;
        MessageIcon icon;
    };

    std::optional<ByteString> GetText(int id) override {
        Record("get " + std::to_string(id));
        if (unconvertible.count(id)) return std::nullopt;
        return texts[id];
    }
    void SetText(int id, const ByteString& text) override {
        Record("set " + std::to_string(id));
        texts[id] = text;
    }
    bool IsChecked(int id) override {
        Record("checked? " + std::to_string(id));
        return checks[id];
    }
    void SetChecked(int id, bool checked) override {
        Record("check " + std::to_string(id));
        checks[id] = checked;
    }
    void FocusAndSelectAll(int id) override {
        Record("focus " + std::to_string(id));
        focused.push_back(id);
    }
    MessageResult ShowMessageBox(const ByteString& text, const ByteString& caption,
                                 MessageButtons buttons, MessageIcon icon) override {
        Record("box");
        boxes.push_back({text, caption, buttons, icon});
        if (onBox) onBox(boxes.back());
        if (buttons == MessageButtons::Ok) return MessageResult::Ok;
        if (nextAnswer_ < answers.size()) return answers[nextAnswer_++];
        return MessageResult::Yes;
    }
    void SetWindowTitle(const ByteString& text) override {
        Record("title");
        titles.push_back(text);
    }
    void RefreshDuringBatch() override {
        Record("refresh");
        if (onRefresh) onRefresh();
    }
    void ShowProgress(const ProgressView& view) override {
        Record("progress");
        progressViews.push_back(view);
        if (onProgress) onProgress(view);
    }
    void HideProgress() override { Record("hide progress"); }
    void EndDialog(int result) override {
        Record("end " + std::to_string(result));
        endResults.push_back(result);
    }
    std::optional<ByteString> BrowseForFolder(const ByteString& title) override {
        Record("browse");
        browseTitles.push_back(title);
        return browseAnswer;
    }
    void RunAboutBox() override {
        Record("about");
        ++aboutRuns;
    }

    void EnableUndo(bool enabled) override {
        undoEnabled = enabled;
    }

    // Adds an entry of the caller's own (the drop callback, say) to the record.
    void Record(const std::string& entry) { calls.push_back(entry); }

    // The main dialog's buttons with a check state, in binding order: 移動,
    // コピー, 変換, エラー, the small-file box, 削除する, 移動・コピーしない, and
    // 空のディレクトリは削除する.  Their states read and written as "0" and "1".
    static constexpr int kButtons[] = {IDC_MOVE,         IDC_COPY,   IDC_CHANGELOG, IDC_ERRORLOG,
                                       IDC_FILEDONTMOVE, IDC_DELETE, IDC_DONTMOVE,  IDC_DELETEDIRECTORY};
    std::string CheckStates() {
        std::string states;
        for (int id : kButtons) states += checks[id] ? '1' : '0';
        return states;
    }
    void SetCheckStates(const std::string& states) {
        for (size_t i = 0; i < states.size(); ++i) checks[kButtons[i]] = states[i] == '1';
    }

    // How many times a control's text was replaced.
    int SetTextCount(int id) const {
        int count = 0;
        for (const auto& call : calls) count += call == "set " + std::to_string(id);
        return count;
    }

    std::map<int, ByteString> texts;
    std::set<int> unconvertible;  // fields holding a character without a code page 932 form
    std::map<int, bool> checks;
    std::vector<MessageResult> answers;  // for Yes/No boxes, in order; Yes when they run out
    std::optional<ByteString> browseAnswer;  // nullopt: the browser is cancelled
    std::function<void()> onRefresh;
    std::function<void(const Box&)> onBox;  // as each box opens
    std::function<void(const ProgressView&)> onProgress;

    std::vector<std::string> calls;
    std::vector<Box> boxes;
    std::vector<ByteString> titles;
    std::vector<ProgressView> progressViews;  // every view the progress window was given
    std::vector<ByteString> browseTitles;
    std::vector<int> focused;
    std::vector<int> endResults;
    int aboutRuns = 0;
    std::optional<bool> undoEnabled;  // the undo item's last state (not in calls)

private:
    size_t nextAnswer_ = 0;
};
