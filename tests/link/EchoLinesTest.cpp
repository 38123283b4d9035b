// Lines of the echo log rendered one at a time, at 16 and 12 bytes a line.

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "link/DeviceException.h"
#include "link/EchoLines.h"
#include "link/LinkFailure.h"

namespace {

void Append(EchoLog& log, std::vector<uint8_t> bytes, bool received) {
    log.Append(static_cast<int32_t>(bytes.size()), bytes.data(), received);
}

std::string AllLines(const EchoLines& lines, const EchoLog& log, const char* end) {
    std::string text;
    lines.WriteText(log, lines.LineCount(), end, [&](const std::string& piece) {
        text += piece;
        return true;
    });
    return text;
}

TEST(EchoLines, SixteenBytesAreTheLogsOwnRenderingLineForLine) {
    std::mt19937 random(7);
    EchoLog log;
    for (int i = 0; i < 400; ++i) {
        std::vector<uint8_t> bytes(random() % 40 + 1);
        for (uint8_t& b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        Append(log, bytes, random() % 2 == 0);
    }
    EchoLines lines;
    lines.Update(log);
    EXPECT_EQ(AllLines(lines, log, "\r\n"), log.Render());
}

TEST(EchoLines, TwelveBytesPutTheWiderGapAfterTheSixth) {
    EchoLog log;
    std::vector<uint8_t> counting(20);
    for (std::size_t i = 0; i < counting.size(); ++i) {
        counting[i] = static_cast<uint8_t>(i + 1);
    }
    Append(log, counting, false);
    Append(log, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}, true);
    Append(log, {0x33}, true);
    EchoLines lines(12);
    lines.Update(log);
    ASSERT_EQ(lines.LineCount(), 4u);
    EXPECT_EQ(lines.Line(log, 0), "> 01 02 03 04 05 06  07 08 09 0A 0B 0C ");
    EXPECT_EQ(lines.Line(log, 1), "> 0D 0E 0F 10 11 12  13 14 ");
    EXPECT_EQ(lines.Line(log, 2), "< AA BB CC DD EE FF  ");
    EXPECT_EQ(lines.Line(log, 3), "< 33 ");
    EXPECT_EQ(lines.Line(log, 4), "");  // past the end
    EXPECT_EQ(lines.LineLength(), lines.Line(log, 0).size());

    lines.SetBytesPerLine(16);
    lines.Update(log);
    ASSERT_EQ(lines.LineCount(), 4u);
    EXPECT_EQ(lines.Line(log, 0), "> 01 02 03 04 05 06 07 08  09 0A 0B 0C 0D 0E 0F 10 ");
    EXPECT_EQ(lines.Line(log, 1), "> 11 12 13 14 ");
}

TEST(EchoLines, FollowsAGrowingLogAndStartsOverWhenItWasEmptied) {
    EchoLog log;
    EchoLines lines;
    lines.Update(log);
    EXPECT_EQ(lines.LineCount(), 0u);
    Append(log, std::vector<uint8_t>(32, 0x11), true);
    lines.Update(log);
    EXPECT_EQ(lines.LineCount(), 2u);
    Append(log, std::vector<uint8_t>(17, 0x22), false);
    lines.Update(log);
    EXPECT_EQ(lines.LineCount(), 4u);
    EXPECT_EQ(lines.Line(log, 3), "> 22 ");
    log.Clear();
    Append(log, {0x33}, false);
    lines.Update(log);
    ASSERT_EQ(lines.LineCount(), 1u);
    EXPECT_EQ(lines.Line(log, 0), "> 33 ");
}

TEST(EchoLines, WholeTextComesInPiecesAndStopsAtAFailedWrite) {
    EchoLog log;
    for (int i = 0; i < 30000; ++i) {
        Append(log, std::vector<uint8_t>(32, static_cast<uint8_t>(i)), true);
    }
    EchoLines lines;
    lines.Update(log);
    int pieces = 0;
    std::size_t bytes = 0;
    EXPECT_TRUE(lines.WriteText(log, lines.LineCount(), "\n", [&](const std::string& piece) {
        ++pieces;
        bytes += piece.size();
        return true;
    }));
    EXPECT_GT(pieces, 1);
    EXPECT_EQ(bytes, 60000u * 52u);
    int calls = 0;
    EXPECT_FALSE(lines.WriteText(log, lines.LineCount(), "\n", [&](const std::string&) {
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 1);
}

TEST(LinkFailure, OnlyHangUpErrorsAreALostLine) {
    using MCommunication::ComException;
    struct Case {
        uint32_t code;
        bool lost;
    };
    for (const Case c : {Case{EIO, true}, Case{ENXIO, true}, Case{ENODEV, true}, Case{EBADF, false},
                         Case{ENOENT, false}, Case{EBUSY, false}}) {
        const LinkFailure failure = DescribeLinkFailure(ComException(c.code));
        EXPECT_EQ(failure.lineLost, c.lost) << c.code;
        EXPECT_EQ(failure.text, MCommunication::ErrorText(ComException(c.code)));
    }
    EXPECT_FALSE(IsLineLost(MCommunication::LLDevException()));
    EXPECT_EQ(LineLostText("Input/output error"), "Связь с прибором потеряна: Input/output error");
}

}  // namespace
