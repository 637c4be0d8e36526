#pragma once
// Steps of the Linux file layer that the tests drive by path, to reach the
// moments between a check and the act that follows it.
#include <string>

#include "fs/fs_posix_internal.h"

namespace testing_support {

// The move itself, without the early "destination already exists" check: it
// must still refuse a destination that exists by the time it runs.
inline bool MoveWithoutPrecheck(const ByteString& source, const ByteString& destination) {
    std::string from, to;
    return fs_posix::ToNative(source, from) && fs_posix::ToNative(destination, to) &&
           fs_posix::MoveNative(fs_posix::PathPlace(from), to);
}

// The move to another file system (copy, publish, remove the source), as a
// rename that meets a device boundary goes on.
inline bool MoveAcrossDevices(const ByteString& source, const ByteString& destination) {
    std::string from, to;
    return fs_posix::ToNative(source, from) && fs_posix::ToNative(destination, to) &&
           fs_posix::MoveAcrossDevicesNative(fs_posix::PathPlace(from), to);
}

}  // namespace testing_support
