#include "batch/in_order_files.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <utility>

#include "text/cp932_scan.h"

namespace {

// How long the batch's thread waits before it tells the window again.
constexpr auto kTellEvery = std::chrono::milliseconds(40);

}  // namespace

struct InOrderFiles::Entry : CopyProgress {
    enum class State { Waiting, Working, Done };

    ByteString file;
    ByteString key;
    Work work;
    Report report;
    State state = State::Waiting;
    std::atomic<int64_t> bytes{0};
    std::atomic<int64_t> size{0};

    void Copied(int64_t copied, int64_t total) override {
        bytes.store(copied, std::memory_order_relaxed);
        size.store(total, std::memory_order_relaxed);
    }
};

InOrderFiles::InOrderFiles(int threads, Waiting waiting) : threads_(std::max(threads, 1)), waiting_(std::move(waiting)) {}

InOrderFiles::~InOrderFiles() {
    // Work begun is finished (a file is never left half-handled); work not
    // begun is dropped, its file untouched.
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return std::none_of(entries_.begin(), entries_.end(),
                                [](const auto& entry) { return entry->state == Entry::State::Working; });
        });
        for (auto& entry : entries_) entry->state = Entry::State::Done;
        ending_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

bool InOrderFiles::KeyInFlight(const ByteString& key) {
    std::lock_guard lock(mutex_);
    return std::any_of(entries_.begin(), entries_.end(), [&](const auto& entry) { return entry->key == key; });
}

void InOrderFiles::Add(const ByteString& file, ByteString key, Work work, Report report) {
    if (KeyInFlight(key)) Finish();
    auto entry = std::make_unique<Entry>();
    entry->file = file;
    entry->key = std::move(key);
    entry->work = std::move(work);
    entry->report = std::move(report);
    {
        std::unique_lock lock(mutex_);
        if (workers_.size() < static_cast<size_t>(threads_)) workers_.emplace_back(&InOrderFiles::WorkerLoop, this);
        entries_.push_back(std::move(entry));
    }
    changed_.notify_all();
    // A few files ahead of the workers, no more: a stop, or a file server
    // that went away, finds little handed over.
    for (;;) {
        TellDone();
        {
            std::lock_guard lock(mutex_);
            if (entries_.size() <= static_cast<size_t>(threads_) * 2) return;
        }
        WaitABit();
    }
}

void InOrderFiles::AddNow(const ByteString& key, const Work& work, CopyProgress& inlineProgress, Report report) {
    if (KeyInFlight(key)) Finish();
    work(inlineProgress);
    Then(std::move(report));
}

void InOrderFiles::Then(Report report) {
    auto entry = std::make_unique<Entry>();
    entry->report = std::move(report);
    entry->state = Entry::State::Done;
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    // Told at once when nothing before it is still at work.
    TellDone();
}

void InOrderFiles::Finish() {
    for (;;) {
        TellDone();
        {
            std::lock_guard lock(mutex_);
            if (entries_.empty()) return;
        }
        WaitABit();
    }
}

void InOrderFiles::DropWaiting() {
    std::lock_guard lock(mutex_);
    for (auto& entry : entries_) {
        if (entry->state != Entry::State::Waiting) continue;
        entry->state = Entry::State::Done;
        entry->report = nullptr;
    }
}

void InOrderFiles::TellDone() {
    for (;;) {
        std::unique_ptr<Entry> done;
        {
            std::lock_guard lock(mutex_);
            if (entries_.empty() || entries_.front()->state != Entry::State::Done) return;
            done = std::move(entries_.front());
            entries_.pop_front();
        }
        if (done->report) done->report();
    }
}

void InOrderFiles::WaitABit() {
    const Entry* oldest = nullptr;
    {
        std::unique_lock lock(mutex_);
        if (!entries_.empty() && entries_.front()->state != Entry::State::Done) {
            changed_.wait_for(lock, kTellEvery);
            if (!entries_.empty() && entries_.front()->state != Entry::State::Done) oldest = entries_.front().get();
        }
    }
    // Only this thread removes entries: the oldest stays until it is told.
    if (oldest && waiting_)
        waiting_(oldest->file, oldest->bytes.load(std::memory_order_relaxed),
                 oldest->size.load(std::memory_order_relaxed));
}

void InOrderFiles::WorkerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        Entry* next = nullptr;
        changed_.wait(lock, [&] {
            if (ending_) return true;
            for (auto& entry : entries_) {
                if (entry->state == Entry::State::Waiting) {
                    next = entry.get();
                    return true;
                }
            }
            return false;
        });
        if (ending_) return;
        next->state = Entry::State::Working;
        lock.unlock();
        next->work(*next);
        lock.lock();
        next->state = Entry::State::Done;
        changed_.notify_all();
    }
}

ByteString NameKey(const ByteString& name) {
    ByteString key;
    key.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const size_t length = Cp932CharLength(name, i);
        if (length == 1) {
            const char c = name[i];
            key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        } else {
            key += "\x81\x40";  // any double-byte character
        }
        i += length;
    }
    return key;
}
