#include "ui/progress_view.h"

#include <algorithm>

namespace {

// "%d" with a comma between every three digits.
void AppendGrouped(ByteString& text, int64_t value) {
    ByteString digits;
    AppendDecimal(digits, value);
    const size_t sign = digits[0] == '-' ? 1 : 0;
    text.append(digits, 0, sign);
    for (size_t i = sign; i < digits.size(); ++i) {
        if (i > sign && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
}

}  // namespace

void FillProgressView(ProgressView& view, const WorkProgress& progress) {
    static const ByteString files = Cp932(u8" ファイル");
    // The walk may not have counted the file it is handling yet.
    const int64_t known = std::max<int64_t>(progress.filesKnown, progress.filesDone + (progress.file.empty() ? 0 : 1));

    view.file.assign(progress.file);

    view.counts.clear();
    AppendDecimal(view.counts, progress.filesDone);
    view.counts += " / ";
    AppendDecimal(view.counts, known);
    view.counts += files;

    view.bytes.clear();
    const bool copying = progress.bytesTotal > 0;
    if (copying && progress.bytesTotal >= kLargeFileBytes) {
        constexpr int64_t kMegabyte = 1'000'000;
        AppendGrouped(view.bytes, progress.bytesDone / kMegabyte);
        view.bytes += " / ";
        AppendGrouped(view.bytes, progress.bytesTotal / kMegabyte);
        view.bytes += " MB";
    }

    // In thousandths of the files known; a file being copied counts by its part done.
    int64_t done = int64_t{progress.filesDone} * 1000;
    if (copying) done += std::clamp<int64_t>(progress.bytesDone, 0, progress.bytesTotal) * 1000 / progress.bytesTotal;
    view.permille = known > 0 ? static_cast<int>(std::min<int64_t>(done / known, 1000)) : 0;
}
