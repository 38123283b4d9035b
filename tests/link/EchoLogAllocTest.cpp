// A log whose append runs out of memory empties itself and the command goes on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "link/EchoLog.h"

// The replacement pairs malloc with free; GCC cannot see that and warns at -O2.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
bool g_refuseAllocations = false;
}  // namespace

// Global allocation that can be told to fail, for this test program only.
void* operator new(std::size_t size) {
    if (g_refuseAllocations) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(EchoLogMemory, FailedAppendEmptiesTheLogSilently) {
    EchoLog log;
    const uint8_t bytes[3] = {0x33, 0x02, 0xEE};
    log.Append(1, bytes, false);
    log.Append(1, bytes + 1, true);
    ASSERT_EQ(log.Render(), "> 33 \r\n< 02 \r\n");

    // Bigger than the room left in the log's block: the append has to allocate.
    const std::vector<uint8_t> big(2 << 20, 0x55);
    g_refuseAllocations = true;
    log.Append(static_cast<int32_t>(big.size()), big.data(), false);  // neither throws nor keeps
    g_refuseAllocations = false;                                      // a partial chunk

    EXPECT_TRUE(log.Chunks().empty());
    EXPECT_EQ(log.ByteCount(), 0u);
    EXPECT_EQ(log.Render(), "");
    log.Append(1, bytes + 2, false);
    EXPECT_EQ(log.Render(), "> EE \r\n");
}

TEST(EchoLogMemory, RecorderGoesOnAfterAFailedAppend) {
    EchoLogRecorder recorder;
    const uint8_t byte = 0xBB;
    recorder.LogChunk(1, &byte, false);
    const std::vector<uint8_t> big(2 << 20, 0x55);
    g_refuseAllocations = true;
    recorder.LogChunk(static_cast<int32_t>(big.size()), big.data(), false);
    g_refuseAllocations = false;
    recorder.RefreshLog();
    EXPECT_EQ(recorder.Text(), "");
}

}  // namespace
