// The server's log file: refusals held to their rate, failed writes counted.
#include "server/ServerLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

namespace cloakline::server {
namespace {

TEST(ServerLogTest, ABurstOfRefusalsEndsInASummaryThatAccountsForEveryLine) {
    const auto path = std::filesystem::path(testing::TempDir()) / "server-log-burst.log";
    std::filesystem::remove(path);
    {
        TServerLog log(path.string());
        log.SetRefusalLinesPerSecond(2);
        for (int i = 0; i < 50; ++i) {
            log.Refusal("127.0.0.9", "400 bad request from 127.0.0.9 line\r\nforged");
        }
        log.Refusal("127.0.0.10", "405 from 127.0.0.10");
        // A client that goes quiet still gets its summary while the log runs.
        bool summed = false;
        for (int i = 0; i < 50 && !summed; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::ifstream now(path);
            summed =
                std::string(std::istreambuf_iterator<char>(now), {}).find("held back") != std::string::npos;
        }
        EXPECT_TRUE(summed) << "no summary within 5 s";
    }
    std::ifstream in(path);
    std::string line;
    std::uint64_t written = 0;
    std::uint64_t held = 0;
    int other = 0;
    const std::regex summary(R"(^\S+ (\d+) more refusals? from 127\.0\.0\.9 held back$)");
    while (std::getline(in, line)) {
        std::smatch match;
        if (std::regex_match(line, match, summary)) {
            held += std::stoull(match[1]);
        } else if (line.ends_with(" 400 bad request from 127.0.0.9 line  forged")) {
            ++written;
        } else {
            EXPECT_TRUE(line.ends_with(" 405 from 127.0.0.10")) << line;
            ++other;
        }
    }
    EXPECT_EQ(written + held, 50u);
    EXPECT_GT(held, 0u);
    EXPECT_EQ(other, 1);
}

TEST(ServerLogTest, AFullDiskIsCountedAndNothingThrows) {
    ASSERT_TRUE(std::filesystem::exists("/dev/full"));
    TServerLog log("/dev/full");
    EXPECT_EQ(log.WriteFailures(), 0u);
    EXPECT_NO_THROW(log.Line("started"));
    EXPECT_EQ(log.WriteFailures(), 1u);
    EXPECT_NO_THROW(log.Refusal("127.0.0.9", "400 from 127.0.0.9"));
    EXPECT_EQ(log.WriteFailures(), 2u);
}

}  // namespace
}  // namespace cloakline::server
