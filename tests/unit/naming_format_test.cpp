// The name format engine: compiling formats into codes and running them.
#include <gtest/gtest.h>

#include <string>

#include "naming/name_engine.h"
#include "support/civil_calendar.h"
#include "support/test_support.h"

namespace {

using testing_support::ScriptedHost;

// The local time of these tests is UTC.
LocalDateTime UtcAsLocalTime(int64_t secondsSince1970) { return testing_support::CivilFromSeconds(secondsSince1970); }

// 2024-03-05 07:08:09 UTC.
constexpr int64_t kMarch2024 = 1709622489;
const char* const kMarch2024Digits = "20240305070809";

const ByteString& DefaultFormat() {
    static const ByteString format = Cp932(u8"[ファイルタイトル]_[現在の日付].[拡張子]");
    return format;
}

class NameEngine : public ::testing::Test {
protected:
    // Compiles the format, expecting success, and keeps it for running.
    NameProgram Compile(const ByteString& text) {
        format = text;
        program = "untouched";
        EXPECT_EQ(1, CompileNameFormat(format, program, host));
        return program;
    }

    ByteString NameFor(const ByteString& source) {
        NameContext context{format, serial, random, clock, UtcAsLocalTime, host};
        return BuildTargetName(program, source, context);
    }

    // Compiles the format, expecting failure, and returns the one message shown.
    ScriptedHost::Box CompileFailure(const ByteString& text) {
        format = text;
        program = "T18";
        EXPECT_EQ(0, CompileNameFormat(format, program, host));
        EXPECT_EQ("T18", program) << "a failed compilation must leave the program as it was";
        EXPECT_EQ(1u, host.boxes.size());
        return host.boxes.empty() ? ScriptedHost::Box{} : host.boxes.back();
    }

    ScriptedHost host;
    ByteString format;
    NameProgram program;
    int32_t serial = 0;
    NameRandom random;
    Clock clock = [] { return kMarch2024; };
};

TEST_F(NameEngine, FormatsCompileToCodesThatBuildTheName) {
    struct Case {
        ByteString format;
        NameProgram codes;
        ByteString name;
    };
    const Case cases[] = {
        {DefaultFormat(), "T18X01N12X01E08", "report_" + std::string(kMarch2024Digits) + ".txt"},
        {"", "", ""},
        {Cp932(u8"記録[連番]"), "X01X01X01X01L06", Cp932(u8"記録0")},  // double bytes copied one by one
        // ー is 0x81 0x5B and ‐ is 0x81 0x5D: characters, not brackets.
        {Cp932(u8"コピー_[連番]"), "X01X01X01X01X01X01X01L06", Cp932(u8"コピー_0")},
        {Cp932(u8"2024‐[連番]"), "X01X01X01X01X01X01L06", Cp932(u8"2024‐0")},
        {Cp932(u8"ー[連番]x"), "X01X01L06X01", Cp932(u8"ー0x")},
        // A "[" inside a token restarts it; what the restart passed over is
        // literal text, and the literals after it stay in step.
        {Cp932(u8"a[[乱数]b"), "X01X01R06X01", "a[41b"},
        {Cp932(u8"a[x[乱数]b"), "X01X01X01R06X01", "a[x41b"},
        // An unclosed bracket silently swallows the rest of the format.
        {Cp932(u8"ab[連番-x.txt"), "X01X01", "ab"},
        {Cp932(u8"ab[連番]-[乱数"), "X01X01L06X01", "ab0-"},
        {Cp932(u8"ab[‐"), "X01X01", "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        serial = 0;
        random.Seed(1);
        EXPECT_EQ(c.codes, Compile(c.format));
        EXPECT_EQ(c.name, NameFor("C:\\data\\report.txt"));
    }
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(NameEngine, TitleAndExtensionComeFromTheLastComponentReadByCharacters) {
    Compile(Cp932(u8"[ファイルタイトル]_[連番].[拡張子]"));
    const struct {
        ByteString source;
        ByteString name;
    } cases[] = {
        {Cp932(u8"C:\\data\\申請書.pdf"), Cp932(u8"申請書_0.pdf")},  // 申 is 0x90 0x5C
        {Cp932(u8"C:\\data\\表.txt"), Cp932(u8"表_0.txt")},
        {Cp932(u8"/home/ソフト/能力.txt"), Cp932(u8"能力_0.txt")},
        {"C:\\data\\b.pdf", "b_0.pdf"},
        {"C:\\v1.2\\README", "README_0."},  // no extension: the format's dot stays
        {"C:\\data\\.profile", ".profile_0."},
        {"/home/user/archive.tar.gz", "archive.tar_0.gz"},
    };
    for (const auto& c : cases) {
        serial = 0;
        EXPECT_EQ(c.name, NameFor(c.source)) << c.source;
    }
}

TEST_F(NameEngine, SerialNumbersAdvanceAcrossFilesOfABatch) {
    EXPECT_EQ("L06X01L06", Compile(Cp932(u8"[連番]-[連番]")));
    EXPECT_EQ("0-1", NameFor("C:\\a.txt"));
    EXPECT_EQ("2-3", NameFor("C:\\b.txt"));
    EXPECT_EQ(4, serial);
    serial = 98;
    EXPECT_EQ("98-99", NameFor("C:\\c.txt"));
}

TEST_F(NameEngine, RandomNumbersFollowTheGeneratorsSequence) {
    EXPECT_EQ("R06", Compile(Cp932(u8"[乱数]")));
    random.Seed(1);
    for (const char* expected : {"41", "18467", "6334", "26500", "19169", "15724"})
        EXPECT_EQ(expected, NameFor("C:\\a.txt"));
}

TEST_F(NameEngine, CompileErrorsShowTheirMessageAndKeepThePreviousProgram) {
    const ByteString caption = Cp932(u8"エラー");
    const ByteString badFormat = Cp932(u8"ファイル名フォーマットが不正です。");
    const ByteString unknownToken = Cp932(u8"未知の形式です。");
    struct Case {
        ByteString format;
        ByteString message;
    };
    const Case cases[] = {
        {"abc]", badFormat},
        {"]", badFormat},
        {Cp932(u8"ab[連番]c]"), badFormat},
        {Cp932(u8"‐]"), badFormat},  // the character passes, the "]" after it does not
        {Cp932(u8"[ファイル]"), unknownToken},
        {Cp932(u8"[乱数 ]"), unknownToken},
        {"[]", unknownToken},
        {Cp932(u8"[連番][連番連番]"), unknownToken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        host.boxes.clear();
        const auto box = CompileFailure(c.format);
        EXPECT_EQ("show", box.kind);
        EXPECT_EQ(c.message, box.text);
        EXPECT_EQ(caption, box.caption);
    }
}

TEST_F(NameEngine, UnknownCodeShowsAMessageAndDoesNotAdvance) {
    format = "abc";
    ByteString name = "x";
    int32_t position = 1;
    NameContext context{format, serial, random, clock, UtcAsLocalTime, host};
    EXPECT_EQ(0, RunNameCode("Q05", position, "C:\\a.txt", name, context));
    EXPECT_EQ(1, position);
    EXPECT_EQ("x", name);
    ASSERT_EQ(1u, host.boxes.size());
    EXPECT_EQ(Cp932(u8"未知のフォーマットが使用されました。"), host.boxes[0].text);
    EXPECT_EQ(Cp932(u8"エラー"), host.boxes[0].caption);

    // The rest of the program still runs, one position short.
    program = "X01Z01X01";
    EXPECT_EQ("ab", NameFor("C:\\a.txt"));
}

TEST_F(NameEngine, LiteralCodesCopyOnlyFromInsideTheFormat) {
    format = "ab";
    NameContext context{format, serial, random, clock, UtcAsLocalTime, host};
    ByteString name;
    for (int32_t start : {-1, 2, 3, INT32_MIN}) {
        int32_t position = start;
        EXPECT_EQ(1, RunNameCode("X01", position, "C:\\a.txt", name, context));
        EXPECT_EQ(start + 1, position);
    }
    EXPECT_EQ("", name);

    // Programs cut short mid-code are read without running past their end.
    program = "X01X";
    EXPECT_EQ("ab", NameFor("C:\\a.txt"));
}

TEST_F(NameEngine, DateTokenReadsTheClockOncePerCode) {
    int64_t now = kMarch2024;
    int calls = 0;
    clock = [&] {
        ++calls;
        return now++;
    };
    Compile(Cp932(u8"[現在の日付]-[現在の日付]"));
    EXPECT_EQ("20240305070809-20240305070810", NameFor("C:\\a.txt"));
    EXPECT_EQ(2, calls);
}

TEST_F(NameEngine, DateTokenWorksForAnyYear) {
    Compile(Cp932(u8"[現在の日付]"));
    struct Case {
        int64_t seconds;
        const char* digits;
    };
    const Case cases[] = {
        {0, "19700101000000"},
        {2147483647, "20380119031407"},
        {2147483648, "20380119031408"},  // past the 32-bit count
        {4102444800, "21000101000000"},
        {253402300799, "99991231235959"},
        {327416950923, "123450607010203"},  // a five-digit year just gets longer
        {-30610224002, "09991231235958"},   // a three-digit year is zero-padded
    };
    for (const Case& c : cases) {
        clock = [&] { return c.seconds; };
        EXPECT_EQ(c.digits, NameFor("C:\\a.txt")) << c.seconds;
    }
}

}  // namespace
