#pragma once
// A long copy tells how far it got as it goes (a move to another file system
// or volume copies too), so that whoever asked for it can show that and keep
// its window answering.  The copy goes in pieces and reports between them;
// the report cannot cut it short, so no file is ever left half-copied.
#include <chrono>
#include <cstddef>
#include <cstdint>

class CopyProgress {
public:
    // bytes of size copied so far (size as the copy began).
    virtual void Copied(int64_t bytes, int64_t size) = 0;

protected:
    ~CopyProgress() = default;
};

// The pieces of one copy: each as large as some tens of milliseconds of
// reading and writing allow (from 64 KiB on a slow share to 64 MiB on a fast
// disk), so that the reports come often and cost the copy next to nothing.
class CopyPieces {
public:
    static constexpr size_t kFirstPiece = size_t{1} << 20;
    static constexpr size_t kSmallestPiece = size_t{64} << 10;
    static constexpr size_t kLargestPiece = size_t{64} << 20;

    // progress may be nullptr (nobody listens); size is the file's size.
    CopyPieces(CopyProgress* progress, int64_t size);

    // How many bytes the next piece copies.
    size_t Next() const { return piece_; }
    // A piece of this many bytes is done (on the disk too, where the copy
    // is flushed as it goes): tells the progress and sizes the next piece by
    // the time this one took.
    void Done(size_t bytes);
    // Bytes passed over without copying (a hole of a sparse file): told to
    // the progress, not timed.
    void Skipped(int64_t bytes);
    int64_t Copied() const { return copied_; }

private:
    using SteadyClock = std::chrono::steady_clock;

    CopyProgress* progress_;
    int64_t size_;
    int64_t copied_ = 0;
    size_t piece_ = kFirstPiece;
    SteadyClock::time_point pieceStart_;
};
