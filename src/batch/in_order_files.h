#pragma once
// Files worked on a few at a time, told about one after another.
//
// A move to a file server waits a round trip for each request, so a batch
// keeps several files in flight on threads of its own.  Everything else stays
// on the batch's thread and in the order of the files: their names are
// decided before they are handed over, and what became of each (counts, log
// lines, the journal, the title) is told in the order they were handed over,
// exactly as a batch that handles one file after another tells it.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fs/copy_progress.h"
#include "text/byte_string.h"

class InOrderFiles {
public:
    // The work on one file, on a worker thread (or on the batch's own when
    // it is done at once); progress hears of its copy.
    using Work = std::function<void(CopyProgress& progress)>;
    // What became of it, on the batch's thread.
    using Report = std::function<void()>;
    // While the batch's thread waits, at least every few tens of
    // milliseconds: the oldest file still at work, and how far its copy got.
    using Waiting = std::function<void(const ByteString& file, int64_t bytes, int64_t size)>;

    InOrderFiles(int threads, Waiting waiting);
    ~InOrderFiles();
    InOrderFiles(const InOrderFiles&) = delete;
    InOrderFiles& operator=(const InOrderFiles&) = delete;

    // Hands over the work on file; its report comes after those of
    // everything handed over before.  key: the file's new name as any file
    // system could read it (see NameKey): work whose key is that of work not
    // yet told waits for everything before it, so that of two files that
    // want one name the first gets it, as one after another.
    void Add(const ByteString& file, ByteString key, Work work, Report report);
    // The same, done at once on the batch's thread (a rename within one file
    // system costs less than handing it over); inlineProgress hears of it.
    void AddNow(const ByteString& key, const Work& work, CopyProgress& inlineProgress, Report report);
    // A report without work, after everything handed over before.
    void Then(Report report);
    // Waits for all the work handed over and tells each, in order.
    void Finish();
    // A stop: work not yet begun is dropped, untold, as if never handed over.
    void DropWaiting();

private:
    struct Entry;

    void WorkerLoop();
    // Tells every entry at the front that is done.  Called without the lock.
    void TellDone();
    // Waits a little for work to end; tells the oldest at work meanwhile.
    void WaitABit();
    bool KeyInFlight(const ByteString& key);

    const int threads_;
    Waiting waiting_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Entry>> entries_;  // not yet told, in order
    std::vector<std::thread> workers_;
    bool ending_ = false;
};

// A new name as a file system that does not tell case apart reads it, and
// then some: letters of both cases as one, and each double-byte character as
// any other (code page 932 has several codes for some characters, and cased
// letters among them).  Two names that any file system may take for one get
// the same key; others mostly do not.
ByteString NameKey(const ByteString& name);
