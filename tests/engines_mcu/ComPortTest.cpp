// The internal communication port against the simulated mailbox.
#include <string>
#include <vector>

#include "tests/engines_storage/EngineSupport.h"

namespace {

using namespace enginetest;
using U32s = std::vector<uint32_t>;

// The five bytes an application of version "9.14" answers to "R".
void ExpectVersion914(const char* answer, int isp) {
    EXPECT_EQ(std::string(answer, 4), std::string("\x09"
                                                  "41\x01",
                                                  4));
    EXPECT_EQ(static_cast<unsigned char>(answer[4]), isp);
}

TEST(ComPort, ByteThousandFitsAndByteThousandOneIsDropped) {
    // At the link's pace the host keeps the ring drained (wrapping it many
    // times) while 201 answers (1005 bytes) pile up in its buffer.
    OneCard c("80,fw=9.14,isp=3,fpga=3", "datasheet");
    CVjxPci& p = c.pci;
    ASSERT_EQ(p.Com_open(), 1);
    const std::string requests(201, 'R');
    ASSERT_EQ(p.Com_write(requests.data(), requests.size()), 1);
    std::vector<char> buffer(1005);
    EXPECT_EQ(p.Com_read(buffer.data(), 1005), 0);

    // The first thousand are all there, without another access.
    c.rack.clearTrace();
    ASSERT_EQ(p.Com_read(buffer.data(), 1000), 1);
    EXPECT_TRUE(c.accesses().empty());
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        ExpectVersion914(&buffer[static_cast<size_t>(5 * i)], 3);
    }
    // Byte 1001 (the last answer's first byte) is gone; 1002 follows.
    for (int expected : {int('4'), int('1'), 1, 3, -1}) EXPECT_EQ(p.Com_read(), expected);
}

TEST(ComPort, WritesGoOutInChunksOfAtMost63) {
    OneCard c("80,mcu=silent");
    CVjxPci& p = c.pci;
    ASSERT_EQ(p.Com_open(), 1);
    struct Case {
        size_t length;
        U32s chunks;
    };
    const Case cases[] = {{0, {0}},
                          {1, {1}},
                          {63, {63}},
                          {64, {63, 1}},
                          {126, {63, 63}},
                          {127, {63, 63, 1}},
                          {200, {63, 63, 63, 11}}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.length);
        std::string data;
        for (size_t i = 0; i < k.length; ++i) data += static_cast<char>(i * 7 + 3);
        c.rack.clearTrace();
        ASSERT_EQ(p.Com_write(data.data(), data.size()), 1);
        EXPECT_EQ(c.writes(kTbuf), k.chunks);
        EXPECT_EQ(c.writes(kTstart).size(), k.chunks.size());
        EXPECT_EQ(c.sent(), data);
        for (uint32_t address : c.writes(kRama)) {
            EXPECT_GE(address, 1u);
            EXPECT_LE(address, 63u);
        }
    }
}

TEST(ComPort, TransmitterBusyPastTheTimeoutFailsTheWrite) {
    // At 300 baud one chunk of 63 bytes takes two seconds on the wire.
    OneCard c("80,mcu=silent,link=baud:300", "datasheet");
    CVjxPci& p = c.pci;
    ASSERT_EQ(p.Com_open(), 1);
    const std::string data(64, 'x');
    const uint64_t t0 = NowUs();
    EXPECT_EQ(p.Com_write(data.data(), data.size()), 0);
    EXPECT_GE(NowUs() - t0, 50000u);
    EXPECT_LT(NowUs() - t0, 60000u);
    // The first chunk went; nothing of the second reached the window.
    EXPECT_EQ(c.writes(kTbuf), U32s{63});
    EXPECT_EQ(c.writes(kRamd).size(), 63u);
}

TEST(ComPort, SlowReplyArrivesByteByByteAndNothingIsLostOnATimeout) {
    // 1200 baud: about 8.3 ms a byte, so the request and the five answer
    // bytes take some 50 ms in all.
    OneCard c("80,fw=9.14,isp=3,fpga=3,link=baud:1200", "datasheet");
    CVjxPci& p = c.pci;
    ASSERT_EQ(p.Com_open(), 1);

    // The timeout bounds the silence before each byte, not the whole read.
    p.Com_setTimeout(20);
    const uint64_t t0 = NowUs();
    ASSERT_EQ(p.Com_write('R'), 1);
    char answer[5];
    ASSERT_EQ(p.Com_read(answer, 5), 1);
    EXPECT_GE(NowUs() - t0, 6 * 8333u);
    ExpectVersion914(answer, 3);

    // Too short a timeout for the first byte: the read fails, but what
    // arrives meanwhile stays for the next read.
    p.Com_setTimeout(5);
    ASSERT_EQ(p.Com_write('R'), 1);
    EXPECT_EQ(p.Com_read(), -1);
    p.Com_setTimeout(50);
    ASSERT_EQ(p.Com_read(answer, 5), 1);
    ExpectVersion914(answer, 3);
}

}  // namespace
