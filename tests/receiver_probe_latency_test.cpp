// streamtool probe reads the capture time back from the test picture's stamp and reports the latency.
#include <regex>

#include "program_process.h"
#include "receiver_test_server.h"
#include "receiver_test_util.h"

namespace {

TEST(ProbeLatency, ReportedFromTheStampedTestPicture) {
    receiver_test::ThreadServer server(true);
    program_test::Program probe(
        "streamtool", {"probe", "--video-port", std::to_string(server.VideoPort()), "--sound-port",
                       std::to_string(server.SoundPort()), "--frames", "30", "--seconds", "10", "127.0.0.1"});
    ASSERT_TRUE(probe.WaitForExit(15000));
    EXPECT_EQ(probe.ExitCode(), 0) << probe.Errors();
    EXPECT_TRUE(
        std::regex_search(probe.Output(), std::regex("latency_median_ms=[0-9.]+ latency_p99_ms=[0-9.]+")))
        << probe.Output();
}

}  // namespace
