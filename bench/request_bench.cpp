// A client GET as the looper runs it (the payload in a message, parsed, both consent settings
// read, the reply formatted, logged and written to MID 572) against what jsoncpp alone needs
// for the same documents: parse the request, build the reply, write it compact.
#include <json/json.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>

#include "bench/BenchRows.h"
#include "core/Log.h"
#include "core/Messages.h"
#include "platform/device/EnvItems.h"
#include "tests/support/Daemon.h"

namespace {

constexpr int kRepetitions = 9;

const std::array<std::string, 4> kRequests = {
    R"({"request_type":"get","id":"tos","device_uuid":"phone-1"})",
    R"({"request_type":"get","id":"status","device_uuid":"5b0c1d2e-7f3a-4e8b-9c6d-1a2b3c4d5e6f"})",
    R"({"device_uuid":"tablet","request_type":"get","id":"tos"})",
    R"({"request_type":"get","id":"crash_report","device_uuid":"app-0123456789"})",
};

double PerIteration(const benchmark::State& state, std::chrono::steady_clock::time_point start) {
    const double ns = static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
    return state.iterations() > 0 ? ns / static_cast<double>(state.iterations()) : 0;
}

void SetUpController() {
    orvix::test::Daemon& daemon = orvix::test::SharedDaemon();
    daemon.setSetting(kGoogleCastTOS, "true");
    daemon.setSetting(kGoogleCastUsageReport, "false");
    // On the speaker the lines go to syslog; here they are formatted and then dropped, so the
    // figure holds the formatting but not a log daemon's work.
    orvix::SetLogSink([](int, const std::string& text) { benchmark::DoNotOptimize(text.data()); });
}

void BM_GetInProcess(benchmark::State& state) {
    SetUpController();
    CastController& controller = orvix::test::SharedDaemon().controller();
    size_t i = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const std::string& payload = kRequests[i++ % kRequests.size()];
        android::sp<android::AMessage> msg = new android::AMessage(kWhatClientRequest);
        msg->setString(kKeyMessageData, payload.data(), static_cast<ssize_t>(payload.size()));
        // The looper thread is idle meanwhile: this thread stands in for it.
        controller.HandleClientRequest(msg);
    }
    state.counters["ns"] = PerIteration(state, start);
}

void BM_JsonAlone(benchmark::State& state) {
    size_t i = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const std::string& payload = kRequests[i++ % kRequests.size()];
        Json::CharReaderBuilder readerBuilder;
        std::unique_ptr<Json::CharReader> reader(readerBuilder.newCharReader());
        Json::Value request;
        std::string error;
        reader->parse(payload.data(), payload.data() + payload.size(), &request, &error);
        Json::Value reply(Json::objectValue);
        reply["id"] = "status";
        reply["device_uuid"] = request["device_uuid"].asString();
        reply["tos"] = "activated";
        reply["crash_report"] = false;
        reply["status"] = "success";
        Json::StreamWriterBuilder writerBuilder;
        writerBuilder["indentation"] = "";
        std::string text = Json::writeString(writerBuilder, reply);
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["ns"] = PerIteration(state, start);
}

BENCHMARK(BM_GetInProcess)->MinTime(0.1)->Repetitions(kRepetitions)->UseRealTime();
BENCHMARK(BM_JsonAlone)->MinTime(0.1)->Repetitions(kRepetitions)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    orvix::bench::Collector collector;
    orvix::bench::RunInterleaved(argc, argv, &collector);
    orvix::bench::PrintRatioRow("a client GET handled in process, payload in to reply written (us)",
                                collector.median("BM_GetInProcess", "ns") / 1000,
                                collector.median("BM_JsonAlone", "ns") / 1000, 2, 1.5, true);
    return 0;
}
