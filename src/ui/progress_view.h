#pragma once
// The texts and the bar of the progress window, from where the work stands.
#include <cstdint>

#include "batch/batch_host.h"
#include "ui/dialog_controls.h"

// A file at least this large shows its bytes as it is copied ("MB" are
// millions of bytes, as the size field's kilobytes are thousands).
constexpr int64_t kLargeFileBytes = 10'000'000;

// Sets the file, the counts ("12 / 340 ファイル"), the bytes of a large file
// ("1,024 / 2,147 MB") and the bar (files done, and the part of the file
// copied, of the files known) from progress; leaves failed and stopping alone.
void FillProgressView(ProgressView& view, const WorkProgress& progress);
