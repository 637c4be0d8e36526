#pragma once
#include <cstdint>
#include <string_view>

#include "naming/name_engine.h"
#include "text/byte_string.h"

// Where a batch or an undo stands, reported as it goes so that the window can
// show it.  file is only valid during the call.
struct WorkProgress {
    std::string_view file;   // the path of the file being handled
    int32_t filesDone = 0;   // files handled before it
    int32_t filesKnown = 0;  // files known so far: the walk finds more as it goes
    int64_t bytesDone = 0;   // of the file, while it is being copied
    int64_t bytesTotal = 0;  // the size of a file being copied; 0 otherwise
};

// The services of the main window that the batch calls: the name engine's
// messages, and a question and the title besides.
class BatchHost : public NameMessages {
public:
    // Modal question with Yes and No, Yes the default, no icon.  True only for Yes.
    virtual bool AskYesNo(const ByteString& text, const ByteString& caption) = 0;
    // Sets the window title.  The window may show titles that follow each
    // other quickly at the display's pace, but shows the last one before any
    // message box and when the batch ends.
    virtual void SetTitle(const ByteString& text) = 0;
    // Where the work stands: as each file begins, and from inside a long
    // copy.  A window shows it at its own pace; a host without one ignores it.
    virtual void ReportProgress(const WorkProgress& progress) { (void)progress; }
    // Whether the user asked to stop.  Asked between files, never inside one:
    // the file being handled is always finished or left as it was.
    virtual bool StopRequested() { return false; }
};
