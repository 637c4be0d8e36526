#pragma once
// What the benchmarks share: folders of fresh files, the headless batch, a
// stopwatch and the peak memory of a child process.
#include <functional>
#include <string>
#include <vector>

#include "batch/batch_run.h"

namespace bench {

[[noreturn]] void Fail(const std::string& what);

double SecondsOf(const std::function<void()>& work);

// "file0000042.dat" and so on: names of one length, sorted as created.
std::string FileName(int i);

// Creates the folder (with its parents) and count files of size bytes in it.
void CreateFiles(const std::string& folder, int count, long size);

// The names in a folder, "." and ".." left out.
std::vector<std::string> ListNames(const std::string& folder);

// A fresh work folder under /tmp, or the given one.
std::string WorkFolder(const std::string& given);

// The settings of the benchmarks' batches: the default format, the given
// mode (0 move, 1 copy), into destination, logs off.
DropSettings BenchSettings(const std::string& destination, int32_t mode);

// Runs one batch headless, as a drop of folder, and fails unless every file
// succeeded.
void RunBatchOn(const std::string& folder, const std::string& destination, int32_t mode, const std::string& logs,
                BatchRecorder* recorder = nullptr);

// Undoes the batch of the journal headless, and fails unless every file
// went back.
void RunUndoOn(const std::string& journal, const std::string& logs);

// The peak resident size of this process so far, in KiB.
long PeakResidentKiB();

// Runs this program again with the arguments and returns the number it
// prints on its standard output (the child's peak in KiB).
long RunChildForNumber(const char* self, const std::vector<std::string>& arguments);

// Runs this program again as "--memory-child <folder>" on a fresh folder of
// count small files, and returns the child's peak resident size in KiB: so
// that nothing the benchmark itself allocated counts.
long MeasureMemoryInChild(const char* self, const std::string& dir, int count);

// Best of the rounds for each side, every run on fresh files in fresh folders.
struct Comparison {
    double batch = 1e30;
    double other = 1e30;
};

// Each round creates count files of size bytes for each side in
// <dir>/<label><round>-<side>/in (in sourceDir instead of dir when given: on
// another file system), runs the side on in -> out and checks that out holds
// count files.  The order of the sides alternates from round to round, so
// that neither always meets a warmer cache.
Comparison CompareOnFreshFiles(const std::string& dir, const std::string& label, int rounds, int count, long size,
                               const std::function<double(const std::string&, const std::string&)>& batchSide,
                               const std::function<double(const std::string&, const std::string&)>& otherSide,
                               const std::string& sourceDir = std::string());

}  // namespace bench
