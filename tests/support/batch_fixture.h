#pragma once
// What every batch test works on: a dropped-from folder, a destination
// folder "out" inside another, a log folder, the window's state, a scripted
// host and a clock the test sets.
#include <gtest/gtest.h>

#include <cstdint>

#include "batch/batch_run.h"
#include "fs/fs.h"
#include "support/test_support.h"

namespace testing_support {

class BatchFixture : public ::testing::Test {
protected:
    // Moves by the given format into target/out.
    explicit BatchFixture(const ByteString& format) {
        settings.m_sWhere = target.Join("out");
        settings.m_sFileNameFormat = format;
        settings.m_nMode = 0;
    }

    ByteString In(const ByteString& name) const { return source.Join(name); }
    ByteString Out(const ByteString& name) const { return target.Join("out") + kPathSeparator + name; }

    TempFolder source, target, logs;
    DropSettings settings;
    BatchState state;
    NameProgram program;
    NameRandom random;
    ScriptedHost host;
    int64_t now = 1700000000;
    BatchRun batch{settings, state, program, random, host, [this] { return now; }, logs.Path()};
};

}  // namespace testing_support
