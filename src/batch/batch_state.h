#pragma once
#include <cstdint>
#include "text/byte_string.h"

// The state of the current batch, owned by the main window.  Reset at the
// start of each batch, never at its end.
struct BatchState {
    int32_t m_nSuccess = 0;  // moved, copied, or deleted / left as small
    int32_t m_nFailure = 0;  // move, copy or deletion failed
    int32_t m_nTotal = 0;    // files handed to the per-file step
    int32_t m_nSerial = 0;   // next value of the serial-number token
    ByteString m_sChangeLog; // log lines of successful moves and copies
    ByteString m_sErrorLog;  // log lines of failures
};
