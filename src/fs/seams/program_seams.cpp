// The seams of the file layer as the programs have them: every write may
// store all it is given, every system facility may be used, and nothing
// happens between the steps.
#include "fs/fs_seams.h"

namespace fs_seams {

size_t WriteAllowance(size_t size) { return size; }
void Wrote(size_t) {}
bool KernelCopyAllowed() { return true; }
bool RenameNoReplaceAllowed() { return true; }
bool UnnamedTempFilesAllowed() { return true; }
void BeforePublish() {}
void BeforeSourceRemoval() {}
void AfterMoveReported(const std::wstring&, const std::wstring&) {}
bool TreatAsSparse() { return false; }

}  // namespace fs_seams
