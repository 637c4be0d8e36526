#pragma once
// One batch: what a drop onto the main window sets off.
#include <vector>

#include "batch/batch_host.h"
#include "batch/batch_state.h"
#include "batch/byte_string.h"
#include "naming/name_engine.h"
#include "settings/drop_settings.h"

// A dropped path.  A path that has no code page 932 form reaches the batch
// with convertible false and its unconvertible characters shown as "?"; it is
// counted and logged as a failure, and nothing is touched in its place.
struct DroppedPath {
    ByteString path;
    bool convertible = true;
};

// Runs batches on the window's settings, state and name program, in place.
class BatchRun {
public:
    // logFolder is where "change.log" and "error.log" live, without a trailing
    // separator (ProgramDirNoSlash() in the program).
    BatchRun(DropSettings& settings, BatchState& state, NameProgram& program, NameRandom& random,
             BatchHost& host, Clock clock, ByteString logFolder);

    void RunBatch(const std::vector<DroppedPath>& paths);
    void RunBatch(const std::vector<ByteString>& paths);

    void ProcessDirectory(const ByteString& folder);
    void ProcessFile(const ByteString& source, bool convertible = true);
    void FinishBatch();

private:
    // (implementation details)
};
