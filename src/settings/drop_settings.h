#pragma once
#include <cstdint>
#include "text/byte_string.h"

// The nine persisted settings, named by their keys in the settings file.
// Flags hold 0 or 1 and the rules test them for exactly 1; m_nMode is 0 for
// move and any other value for copy.
struct DropSettings {
    ByteString m_sWhere;            // destination folder
    ByteString m_sFileNameFormat;   // file-name format
    int32_t m_nMode = 1;            // 0 move, otherwise copy
    int32_t m_bChangeLog = 0;       // write "change.log"
    int32_t m_bErrorLog = 0;        // write "error.log"
    int32_t m_bFileDontMove = 0;    // small-file rule on
    int32_t m_nKBytes = 10;         // small-file threshold in units of 1000 bytes
    int32_t m_nDontMoveMode = 0;    // 0 delete small files, 1 leave them
    int32_t m_bDeleteDerectory = 0; // remove folders that end up empty
};
