// The hardware backend over fabricated sysfs trees: regular files stand in
// for vendor, device, config, resource and resourceN.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "libmerix32/hw/SysfsBackend.h"
#include "tests/support/TestUtil.h"

namespace {

namespace fs = std::filesystem;

struct Bar {
    uint64_t start, end, flags;
};
constexpr uint64_t kMem = 0x40200;
constexpr uint64_t kIo = 0x40101;

class Tree : public ::testing::Test {
protected:
    void SetUp() override {
        chmod(m_root.c_str(), 0755);
        rack();
    }

    // One PCI function with its identity, configuration space and BARs;
    // each BAR gets a resourceN file of its full length.
    void function(const std::string& name, unsigned vendor, unsigned device,
                  const std::vector<Bar>& bars = {}) {
        std::string dir = m_root + "/" + name;
        fs::create_directories(dir);
        chmod(dir.c_str(), 0755);
        char text[64];
        std::snprintf(text, sizeof text, "0x%04x\n", vendor);
        m_dir.writeText(name + "/vendor", text);
        std::snprintf(text, sizeof text, "0x%04x\n", device);
        m_dir.writeText(name + "/device", text);
        std::string config(256, '\0');
        for (int i = 0; i < 256; ++i) config[i] = static_cast<char>(i ^ 0x5A);
        m_dir.writeText(name + "/config", config);
        std::string resource;
        for (size_t i = 0; i < 7; ++i) {
            const Bar bar = i < bars.size() ? bars[i] : Bar{0, 0, 0};
            std::snprintf(text, sizeof text, "0x%016llx 0x%016llx 0x%016llx\n",
                          static_cast<unsigned long long>(bar.start),
                          static_cast<unsigned long long>(bar.end),
                          static_cast<unsigned long long>(bar.flags));
            resource += text;
            if (bar.end > bar.start)
                m_dir.writeText(name + "/resource" + std::to_string(i),
                                std::string(bar.end - bar.start + 1, '\0'));
        }
        m_dir.writeText(name + "/resource", resource);
    }

    // A rack: cards and a bridge mixed with functions that are no VJX card.
    void rack() {
        function("0000:0a:02.0", 0x10B5, 0x9030,
                 {{0xF0000000, 0xF000007F, kMem}, {0, 0, 0}, {0xF1000000, 0xF1000FFF, kMem}});
        function("0000:00:1f.0", 0x8086, 0x2922);
        function("0000:03:00.0", 0x10B5, 0x9056,
                 {{0xE0000000, 0xE00001FF, kMem}, {0, 0, 0}, {0xE1000000, 0xE100FFFF, kMem}});
        function("0000:10:00.0", 0x1234, 0x9050);  // another maker's chip with the same number
        function("0000:02:00.0", 0x10B5, 0x8111, {{0xD0000000, 0xD000FFFF, kMem}});
        function("0000:01:04.0", 0x10B5, 0x9050,
                 {{0xC0000000, 0xC000007F, kMem}, {0xE000, 0xE07F, kIo}, {0xC1000000, 0xC10000FF, kMem}});
        function("0001:00:00.0", 0x10B5, 0x9054);          // a PLX chip that carries no VJX card
        fs::create_directories(m_root + "/0000:05:00.0");  // no identity files
        m_dir.writeText("README", "not a function");
    }

    testsupport::TempDir m_dir;
    const std::string m_root = m_dir.dir();
};

TEST_F(Tree, CardsAndBridgesAreNumberedApartInBusOrder) {
    merix::SysfsBackend backend(m_root);
    const uint16_t expected[] = {0x9050, 0x9056, 0x9030};
    const uint8_t buses[] = {0x01, 0x03, 0x0a};
    for (unsigned k = 0; k < 3; ++k) {
        int handle = 0;
        ASSERT_EQ(backend.open(&handle, 0x1001 + k, false), 0) << backend.errorString();
        uint16_t id = 0;
        EXPECT_EQ(backend.getDeviceId(handle, &id), 0);
        EXPECT_EQ(id, expected[k]);
        vjxDeviceInfo info;
        ASSERT_EQ(backend.getDeviceInfo(handle, &info), 0);
        EXPECT_EQ(info.bus, buses[k]);
        EXPECT_EQ(backend.close(handle), 0);
    }
    int handle = 0;
    EXPECT_NE(backend.open(&handle, 0x1004, false), 0);
    EXPECT_NE(std::string(backend.errorString()).find("0x1004"), std::string::npos) << backend.errorString();
    EXPECT_NE(backend.open(&handle, 0x1000, false), 0);
    EXPECT_NE(backend.open(&handle, 0, false), 0);

    ASSERT_EQ(backend.open(&handle, 0x1001, true), 0) << backend.errorString();
    uint16_t id = 0;
    backend.getDeviceId(handle, &id);
    EXPECT_EQ(id, 0x8111);
    EXPECT_NE(backend.open(&handle, 0x1002, true), 0);
}

TEST_F(Tree, DeviceInformationRecordLayoutAndConfigurationReads) {
    merix::SysfsBackend backend(m_root);
    int handle = 0;
    ASSERT_EQ(backend.open(&handle, 0x1001, false), 0);
    unsigned char raw[40];
    std::memset(raw, 0xEE, sizeof raw);
    ASSERT_EQ(sizeof(vjxDeviceInfo), 40u);
    ASSERT_EQ(backend.getDeviceInfo(handle, reinterpret_cast<vjxDeviceInfo*>(raw)), 0);
    uint64_t length0, length2;
    std::memcpy(&length0, raw + 16, 8);
    std::memcpy(&length2, raw + 32, 8);
    EXPECT_EQ(raw[2], 0x01);  // bus
    EXPECT_EQ(raw[3], 0x04);  // device
    EXPECT_EQ(raw[4], 0x00);  // function
    EXPECT_EQ(length0, 0x80u);
    EXPECT_EQ(length2, 0x100u);
    EXPECT_EQ(raw[0], 0);
    EXPECT_EQ(raw[15], 0);
    // Configuration space comes from the config file, never past its end.
    unsigned char bytes[4] = {};
    ASSERT_EQ(backend.configDump(handle, 0x2C, 4, bytes), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(bytes[i], (0x2C + i) ^ 0x5A);
    unsigned char tail[16];
    EXPECT_NE(backend.configDump(handle, 250, 16, tail), 0);
    EXPECT_NE(std::string(backend.errorString()).find("config"), std::string::npos) << backend.errorString();
    EXPECT_EQ(backend.configDump(handle, 0, 0, nullptr), 0);
}

TEST_F(Tree, MemoryRegistersAreMappedFromTheResourceFile) {
    merix::SysfsBackend backend(m_root);
    int handle = 0;
    ASSERT_EQ(backend.open(&handle, 0x1001, false), 0);
    // Memory spaces 0 and 2 (mapped), I/O space 1 (read and written in place),
    // each up to its last byte.
    for (uint8_t space : {0, 1, 2}) {
        SCOPED_TRACE(space);
        const unsigned last = space == 2 ? 0xFF : 0x7F;
        ASSERT_EQ(backend.write32(handle, space, 0x4C, 0x11223344), 0) << backend.errorString();
        ASSERT_EQ(backend.write8(handle, space, last, 0xA5), 0) << backend.errorString();
        uint32_t word = 0;
        uint8_t byte = 0;
        ASSERT_EQ(backend.read32(handle, space, 0x4C, &word), 0);
        EXPECT_EQ(word, 0x11223344u);
        ASSERT_EQ(backend.read8(handle, space, 0x4D, &byte), 0);
        EXPECT_EQ(byte, 0x33);
        ASSERT_EQ(backend.read8(handle, space, last, &byte), 0);
        EXPECT_EQ(byte, 0xA5);
    }
    EXPECT_EQ(backend.close(handle), 0);

    // The stores reached the device (here: the file behind the mapping).
    const testsupport::Bytes content = testsupport::readBytes(m_root + "/0000:01:04.0/resource0");
    ASSERT_EQ(content.size(), 0x80u);
    EXPECT_EQ(content[0x4C], 0x44);
    EXPECT_EQ(content[0x4F], 0x11);
}

TEST_F(Tree, AccessesOutsideASpaceAreRefused) {
    merix::SysfsBackend backend(m_root);
    int handle = 0;
    ASSERT_EQ(backend.open(&handle, 0x1002, false), 0);
    uint32_t word = 0;
    uint8_t byte = 0;
    EXPECT_NE(backend.read32(handle, 0, 0x200, &word), 0);
    EXPECT_NE(backend.read32(handle, 0, 0x1FE, &word), 0);
    EXPECT_NE(backend.read32(handle, 0, 0x2, &word), 0);  // not word-aligned
    EXPECT_NE(backend.read8(handle, 0, 0xFFFFFFFF, &byte), 0);
    EXPECT_NE(backend.read8(handle, 1, 0, &byte), 0);  // no BAR 1
    EXPECT_NE(std::string(backend.errorString()).find("address space 1"), std::string::npos)
        << backend.errorString();
    EXPECT_NE(backend.read8(handle, 6, 0, &byte), 0);
    EXPECT_NE(backend.read8(handle, 255, 0, &byte), 0);
    EXPECT_EQ(backend.read8(handle, 0, 0x1FF, &byte), 0);

    // A resource file shorter than its BAR is never read past its end.
    truncate((m_root + "/0000:03:00.0/resource2").c_str(), 16);
    EXPECT_EQ(backend.read32(handle, 2, 12, &word), 0);
    EXPECT_NE(backend.read32(handle, 2, 16, &word), 0);
}

TEST_F(Tree, MissingFilesAndHandlesAreReported) {
    fs::remove(m_root + "/0000:0a:02.0/resource0");
    merix::SysfsBackend backend(m_root);
    EXPECT_STRNE(backend.errorString(), "");
    int handle = 0;
    ASSERT_EQ(backend.open(&handle, 0x1003, false), 0);
    uint8_t byte = 0;
    EXPECT_NE(backend.read8(handle, 0, 0, &byte), 0);
    EXPECT_NE(std::string(backend.errorString()).find("resource0"), std::string::npos)
        << backend.errorString();
    EXPECT_EQ(backend.read8(handle, 2, 0, &byte), 0);
    fs::remove(m_root + "/0000:0a:02.0/config");
    unsigned char bytes[4];
    EXPECT_NE(backend.configDump(handle, 0, 4, bytes), 0);

    EXPECT_EQ(backend.close(handle), 0);
    EXPECT_NE(backend.close(handle), 0);
    EXPECT_NE(backend.read8(handle, 2, 0, &byte), 0);
    EXPECT_NE(std::string(backend.errorString()).find("not open"), std::string::npos)
        << backend.errorString();
    uint16_t id;
    EXPECT_NE(backend.getDeviceId(12345, &id), 0);

    fs::remove(m_root + "/0000:01:04.0/resource");
    EXPECT_NE(backend.open(&handle, 0x1001, false), 0);

    merix::SysfsBackend nowhere(m_root + "/missing");
    EXPECT_NE(nowhere.open(&handle, 0x1001, false), 0);
    EXPECT_NE(std::string(nowhere.errorString()).find(m_root + "/missing"), std::string::npos);
}

TEST_F(Tree, PermissionFailureSaysRootRightsAreNeeded) {
    std::string bar = m_root + "/0000:01:04.0/resource0";
    chmod(bar.c_str(), 0600);
    // Root passes any permission check, so the access runs as nobody.
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        merix::SysfsBackend backend(m_root);
        int handle = 0;
        uint8_t byte = 0;
        if (backend.open(&handle, 0x1001, false) != 0) _exit(4);
        if (backend.read8(handle, 0, 0, &byte) == 0) _exit(5);
        _exit(std::string(backend.errorString()).find("root rights") != std::string::npos ? 0 : 6);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
