#include "win32/taskbar_progress_win32.h"

#include <objbase.h>
#include <shobjidl.h>

TaskbarProgress::~TaskbarProgress() {
    if (list_) list_->Release();
}

ITaskbarList3* TaskbarProgress::List() {
    if (!tried_) {
        tried_ = true;
        ITaskbarList3* list = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&list)))) {
            if (SUCCEEDED(list->HrInit())) {
                list_ = list;
            } else {
                list->Release();
            }
        }
    }
    return list_;
}

void TaskbarProgress::Show(HWND window, int permille, bool failed) {
    ITaskbarList3* list = List();
    if (!list) return;
    if (shownPermille_ < 0 || failed != shownFailed_) {
        list->SetProgressState(window, failed ? TBPF_ERROR : TBPF_NORMAL);
        shownFailed_ = failed;
    }
    if (permille != shownPermille_) {
        list->SetProgressValue(window, static_cast<ULONGLONG>(permille), 1000);
        shownPermille_ = permille;
    }
}

void TaskbarProgress::Clear(HWND window) {
    if (shownPermille_ < 0 || !list_) return;
    list_->SetProgressState(window, TBPF_NOPROGRESS);
    shownPermille_ = -1;
    shownFailed_ = false;
}
