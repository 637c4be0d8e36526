#pragma once
#include "naming/name_engine.h"
#include "text/byte_string.h"

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
};
