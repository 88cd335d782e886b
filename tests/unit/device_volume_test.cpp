// Volume and mute between the receiver, the source-switch service, the bus and the mixer.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "device/VolumeMute.h"
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

namespace {

// An `amixer` of our own at the front of PATH that appends its arguments to a file. While
// held it waits (up to five seconds) for release(), so a test can look at the world while
// the daemon is inside system().
class RecordingMixer {
public:
    RecordingMixer() {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvix-mixer-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) return;
        mDir = pattern;
        std::ofstream(mDir + "/amixer")
            << "#!/bin/sh\necho \"$*\" >> '" << mDir << "/calls'\ni=0\nwhile [ -e '" << mDir
            << "/hold' ] && [ $i -lt 500 ]; do sleep 0.01; i=$((i+1)); done\n";
        chmod((mDir + "/amixer").c_str(), 0755);
        const char* path = getenv("PATH");
        mOldPath = path != nullptr ? path : "";
        setenv("PATH", (mDir + ":" + mOldPath).c_str(), 1);
    }
    ~RecordingMixer() {
        setenv("PATH", mOldPath.c_str(), 1);
        for (const char* name : {"/hold", "/calls", "/amixer"}) unlink((mDir + name).c_str());
        rmdir(mDir.c_str());
    }
    bool ready() const { return !mDir.empty(); }
    void hold() { std::ofstream(mDir + "/hold") << "1"; }
    void release() { unlink((mDir + "/hold").c_str()); }
    // One line per run, the arguments joined by blanks.
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::ifstream in(mDir + "/calls");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    std::string mDir;
    std::string mOldPath;
};

const char kUnmuted[] = "castcontroller: HandleOnVolumeEvent() Alsa mixer is in UNMUTE state";

sp<AMessage> VolumeEvent(int32_t volume) {
    sp<AMessage> msg = new AMessage(kWhatVolumeEvent);
    msg->setInt32(kKeyVolumeEventData, volume);
    return msg;
}

Names Synced(std::vector<int> volumes) {
    Names out;
    for (int v : volumes) out.push_back("cast:CastCliSyncVolume[" + std::to_string(v) + "]");
    return out;
}

}  // namespace

TEST(DeviceVolumeText, WholeNumbersUpTo100PassAndEverythingElseIs30WithItsLine) {
    LogCapture log;
    const std::string prefix = "castcontroller: ConvertStringtoInteger() ";
    const std::string notANumber = prefix + "String to Integer Volume conversion Failed!" +
                                   std::string(16, ' ') + "Using default volume : 30";
    const std::string outOfBounds = prefix + "Volume bound check failed, Ignore volume!" +
                                    std::string(16, ' ') + "using default volume:30";
    const struct {
        std::string text;
        int value;
        std::string line;
    } cases[] = {
        // clang-format off
        {"42", 42, ""}, {"0", 0, ""}, {"100", 100, ""}, {"", 0, ""}, {" 42", 42, ""},
        {"abc", 30, notANumber}, {"42 ", 30, notANumber}, {"4x2", 30, notANumber},
        {std::string("42\0", 3), 30, notANumber},
        {"150", 30, outOfBounds}, {"101", 30, outOfBounds}, {"-5", 30, outOfBounds},
        {"4294967338", 30, outOfBounds},  // 42 once wrapped to 32 bits
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("text '" + c.text + "'");
        log.clear();
        EXPECT_EQ(ConvertStringtoInteger(c.text, true), c.value);
        EXPECT_EQ(log.texts(), c.line.empty() ? Names{} : Names{c.line});
        EXPECT_EQ(log.count("", LOG_ERR), log.lines().size());
    }
}

TEST_F(DeviceTest, ABurstFromSeveralBinderThreadsIsAppliedInPostOrder) {
    startDevice();
    size_t m = mark();
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([this, t] {
            for (int i = 0; i < kPerThread; ++i) {
                mListener->OnVolumeChangeEvent(std::to_string(t * kPerThread + i).c_str());
            }
        });
    }
    for (std::thread& sender : senders) sender.join();
    settle();
    Names applied = since(m);
    ASSERT_EQ(applied.size(), static_cast<size_t>(kThreads * kPerThread));
    // Each sender posted its volumes in rising order; so must they arrive (and so each once).
    int last[kThreads] = {-1, -1, -1, -1};
    for (const std::string& call : applied) {
        int volume = std::stoi(call.substr(call.find('[') + 1));
        EXPECT_GT(volume, last[volume / kPerThread]) << "out of post order";
        last[volume / kPerThread] = volume;
    }
}

TEST_F(DeviceTest, CastVolumeAndMuteReachTheService) {
    startDevice();
    size_t m = mark();
    for (int32_t volume : {57, 150, -3, INT_MIN}) Fakes().castVolume(volume);
    Fakes().drain();
    EXPECT_EQ(since(m), (Names{"source:UpdateAppVolume[\"57\"]", "source:UpdateAppVolume[\"100\"]",
                               "source:UpdateAppVolume[\"0\"]", "source:UpdateAppVolume[\"0\"]"}));
    EXPECT_TRUE(mLog.has("castcontroller: onVolumeMuteCallback() MID 64 buffer 100", LOG_INFO));

    // Mute values other than 0 and 1 are dropped with their line and leave the flag alone.
    m = mark();
    for (int32_t mute : {1, 2, -1}) Fakes().castMute(mute);
    Fakes().drain();
    EXPECT_TRUE(gCastMuted);
    Fakes().castMute(0);
    Fakes().drain();
    EXPECT_FALSE(gCastMuted);
    EXPECT_EQ(since(m),
              (Names{"source:UpdateAppMuteStat[true]", "source:UpdateAppMuteStat[false]"}));
    for (const char* line : {"onVolumeMuteCallback() MID 63 buffer MUTE state 1 type 1",
                             "onVolumeMuteCallback() MID 63 buffer UNMUTE state 0 type 1"}) {
        EXPECT_TRUE(mLog.has(std::string("castcontroller: ") + line, LOG_INFO)) << line;
    }
    for (const char* line : {"invalid volume level 2", "invalid volume level -1"}) {
        EXPECT_TRUE(mLog.has(std::string("castcontroller: handleOnMuteChanges() ") + line, LOG_ERR))
            << line;
    }
}

TEST_F(DeviceTest, DeviceVolumeWhileMutedUnmutesCastThenMixerThenServiceThenSetsVolume) {
    RecordingMixer mixer;
    ASSERT_TRUE(mixer.ready());
    startDevice();
    gCastMuted = true;
    size_t m = mark();
    // Hold the mixer command to see what happened before it, and what did not yet.
    mixer.hold();
    sp<AMessage> event = VolumeEvent(55);
    event->setTarget(mController->handlerId());
    event->post();
    ASSERT_TRUE(fakes::WaitFor([&] { return mixer.calls().size() == 1; }));
    EXPECT_EQ(since(m), Names{"cast:CastCliSyncMute[0]"});
    mixer.release();
    settle();
    EXPECT_EQ(mixer.calls(), Names{"set Master unmute"});
    EXPECT_EQ(since(m), (Names{"cast:CastCliSyncMute[0]", "source:UpdateAppMuteStat[false]",
                               "cast:CastCliSyncVolume[55]"}));
    EXPECT_FALSE(gCastMuted);
    EXPECT_FALSE(mLog.has(kUnmuted));

    // Unmuted now: the volume only (clamped, converted from the device's text), with the line;
    // no field means 0.
    m = mark();
    postAndSettle(VolumeEvent(120));
    postAndSettle(VolumeEvent(-7));
    postAndSettle(new AMessage(kWhatVolumeEvent));
    ASSERT_TRUE(Fakes().volume("abc"));
    deliver();
    EXPECT_EQ(since(m), Synced({100, 0, 0, 30}));
    EXPECT_EQ(mLog.count(kUnmuted, LOG_ERR), 4u);
    EXPECT_EQ(mixer.calls().size(), 1u);
}

TEST_F(DeviceTest, AnExceptionStopsAtTheEdgeOfTheLibraryCallbackOrWorker) {
    startDevice();
    auto saved = onVolumeMuteCallback;
    onVolumeMuteCallback = [](const int&, const std::string&, VolumeMediaType) {
        throw std::runtime_error("volume boom");
    };
    Fakes().castVolume(10);
    Fakes().castMute(1);
    Fakes().drain();
    onVolumeMuteCallback = saved;
    for (const char* who : {"handleOnVolumeChanges", "handleOnMuteChanges"}) {
        EXPECT_TRUE(mLog.has(
            std::string("castcontroller: ") + who + "() stopped by an exception: volume boom",
            LOG_ERR));
    }
    // The release worker takes its copy of the slot when the library calls.
    auto release = releaseResourceCallback;
    releaseResourceCallback = [](bool) { throw std::runtime_error("release boom"); };
    Fakes().castReleaseResources();
    EXPECT_TRUE(mLog.waitFor(
        "castcontroller: handleOnReleaseResources() stopped by an exception: release boom",
        LOG_ERR));
    releaseResourceCallback = release;
}

}  // namespace orvix::test
