#pragma once
#include "text/byte_string.h"

// The services of the main window that the batch and the name engine call.
class BatchHost {
public:
    virtual ~BatchHost() = default;
    // Modal question with Yes and No, Yes the default, no icon.  True only for Yes.
    virtual bool AskYesNo(const ByteString& text, const ByteString& caption) = 0;
    // Modal message with an OK button and no icon.
    virtual void ShowMessage(const ByteString& text, const ByteString& caption) = 0;
    // Replaces the window title at once.
    virtual void SetTitle(const ByteString& text) = 0;
};
