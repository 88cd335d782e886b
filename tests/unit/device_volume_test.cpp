// Volume and mute between the receiver, the source-switch service, the bus and the mixer.
#include <climits>
#include <functional>
#include <set>
#include <stdexcept>
#include <thread>

#include "device/VolumeMute.h"
#include "tests/unit/DeviceTestSupport.h"

using android::AMessage;
using android::sp;
using orvix::fakes::Fakes;
using orvix::fakes::WaitFor;
using orvix::test::DeviceTest;
using orvix::test::LogCapture;
using orvix::test::RecordingMixer;

namespace {

const std::string kConversionFailed =
    "castcontroller: ConvertStringtoInteger() String to Integer Volume conversion Failed!" +
    std::string(16, ' ') + "Using default volume : 30";
const std::string kBoundFailed =
    "castcontroller: ConvertStringtoInteger() Volume bound check failed, Ignore volume!" +
    std::string(16, ' ') + "using default volume:30";

sp<AMessage> VolumeEvent(int32_t volume) {
    sp<AMessage> msg = new AMessage(kWhatVolumeEvent);
    msg->setInt32(kKeyVolumeEventData, volume);
    return msg;
}

}  // namespace

TEST(DeviceVolumeText, WholeNumbersUpTo100PassAndEverythingElseIs30WithItsLine) {
    LogCapture log;
    struct Case {
        std::string text;
        int value;
        size_t conversionLines;
        size_t boundLines;
    };
    const Case cases[] = {
        {"42", 42, 0, 0},
        {"0", 0, 0, 0},
        {"100", 100, 0, 0},
        {"", 0, 0, 0},
        {" 42", 42, 0, 0},
        {"+7", 7, 0, 0},
        {"abc", 30, 1, 0},
        {"42 ", 30, 1, 0},
        {" ", 30, 1, 0},
        {"4x2", 30, 1, 0},
        {std::string("42\0", 3), 30, 1, 0},
        {"150", 30, 0, 1},
        {"101", 30, 0, 1},
        {"-5", 30, 0, 1},
        {"-1", 30, 0, 1},
        {"4294967338", 30, 0, 1},
        {"99999999999999999999999", 30, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("text '" + c.text + "'");
        log.clear();
        EXPECT_EQ(ConvertStringtoInteger(c.text, true), c.value);
        EXPECT_EQ(log.count(kConversionFailed, LOG_ERR), c.conversionLines);
        EXPECT_EQ(log.count(kBoundFailed, LOG_ERR), c.boundLines);
        EXPECT_EQ(log.lines().size(), c.conversionLines + c.boundLines);
    }
}

TEST_F(DeviceTest, DeviceVolumeTextReachesTheReceiverConverted) {
    startDevice();
    uint64_t m = mark();
    for (const char* text : {"42", "abc", "150", "-5", "42 ", "", " 42"}) {
        ASSERT_TRUE(Fakes().volume(text));
        Fakes().drain();
        settle();
    }
    EXPECT_EQ(since(m),
              (std::vector<std::string>{"cast:CastCliSyncVolume[42]", "cast:CastCliSyncVolume[30]",
                                        "cast:CastCliSyncVolume[30]", "cast:CastCliSyncVolume[30]",
                                        "cast:CastCliSyncVolume[30]", "cast:CastCliSyncVolume[0]",
                                        "cast:CastCliSyncVolume[42]"}));
    EXPECT_TRUE(mLog.has("castcontroller: OnVolumeChangeEvent() Received volume abc", LOG_INFO));
    EXPECT_TRUE(mLog.has("castcontroller: HandleOnVolumeEvent() called, received volume data 30",
                         LOG_INFO));
    // Not muted: every event says so, and the mixer is left alone.
    EXPECT_EQ(
        mLog.count("castcontroller: HandleOnVolumeEvent() Alsa mixer is in UNMUTE state", LOG_ERR),
        7u);
}

TEST_F(DeviceTest, ABurstFromSeveralBinderThreadsIsAppliedInPostOrder) {
    startDevice();
    uint64_t m = mark();
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

    std::vector<int> applied;
    for (const auto& call : world().receiver().calls()) {
        if (call.stamp.seq > m && call.op == orvix::model::CastOp::CastCliSyncVolume) {
            applied.push_back(call.args[0].asInt());
        }
    }
    ASSERT_EQ(applied.size(), static_cast<size_t>(kThreads * kPerThread));
    EXPECT_EQ(std::set<int>(applied.begin(), applied.end()).size(), applied.size());
    // Each sender posted its volumes in rising order; so must they arrive.
    int last[kThreads] = {-1, -1, -1, -1};
    for (int volume : applied) {
        int sender = volume / kPerThread;
        EXPECT_GT(volume, last[sender]) << "out of post order";
        last[sender] = volume;
    }
}

TEST_F(DeviceTest, CastVolumeAndMuteReachTheService) {
    startDevice();
    uint64_t m = mark();
    for (int32_t volume : {57, 150, 100, -3, 0, INT_MIN}) Fakes().castVolume(volume);
    Fakes().drain();
    EXPECT_EQ(since(m), (std::vector<std::string>{
                            "source:UpdateAppVolume[\"57\"]", "source:UpdateAppVolume[\"100\"]",
                            "source:UpdateAppVolume[\"100\"]", "source:UpdateAppVolume[\"0\"]",
                            "source:UpdateAppVolume[\"0\"]", "source:UpdateAppVolume[\"0\"]"}));
    EXPECT_TRUE(
        mLog.has("castcontroller: handleOnVolumeChanges() called ++, volume 150 TID:", LOG_INFO));
    EXPECT_TRUE(mLog.has("castcontroller: onVolumeMuteCallback() MID 64 buffer 100", LOG_INFO));

    m = mark();
    mLog.clear();
    Fakes().castMute(1);
    Fakes().drain();
    EXPECT_TRUE(gCastMuted);
    EXPECT_TRUE(mLog.has("castcontroller: onVolumeMuteCallback() MID 63 buffer MUTE state 1 type 1",
                         LOG_INFO));
    // Out-of-range values are dropped with their line and leave the flag alone.
    for (int32_t bad : {2, -1}) Fakes().castMute(bad);
    Fakes().drain();
    EXPECT_TRUE(gCastMuted);
    EXPECT_TRUE(mLog.has("castcontroller: handleOnMuteChanges() invalid volume level 2", LOG_ERR));
    EXPECT_TRUE(mLog.has("castcontroller: handleOnMuteChanges() invalid volume level -1", LOG_ERR));
    EXPECT_TRUE(
        mLog.has("castcontroller: handleOnMuteChanges() called ++, volume -1 TID:", LOG_INFO));
    Fakes().castMute(0);
    Fakes().drain();
    EXPECT_FALSE(gCastMuted);
    EXPECT_TRUE(mLog.has("MID 63 buffer UNMUTE state 0 type 1", LOG_INFO));
    EXPECT_EQ(since(m), (std::vector<std::string>{"source:UpdateAppMuteStat[true]",
                                                  "source:UpdateAppMuteStat[false]"}));

    // Only the exact word mutes; a report from the device has no state line; any MID but 63
    // is a volume, passed on as it stands.
    m = mark();
    mLog.clear();
    for (const char* payload : {"mute", "MUTE ", "Mute"}) {
        gCastMuted = true;
        onVolumeMuteCallback(kMidMute, payload, kVolumeFromDevice);
        EXPECT_FALSE(gCastMuted) << payload;
    }
    onVolumeMuteCallback(kMidVolume + 1, "abc", kVolumeFromCast);
    EXPECT_EQ(mLog.count(" state "), 0u);
    EXPECT_EQ(since(m), (std::vector<std::string>{
                            "source:UpdateAppMuteStat[false]", "source:UpdateAppMuteStat[false]",
                            "source:UpdateAppMuteStat[false]", "source:UpdateAppVolume[\"abc\"]"}));
}

TEST_F(DeviceTest, DeviceVolumeWhileMutedUnmutesCastThenMixerThenServiceThenSetsVolume) {
    RecordingMixer mixer;
    ASSERT_TRUE(mixer.ready());
    startDevice();
    gCastMuted = true;
    uint64_t m = mark();

    // Hold the mixer command to see what happened before it, and what did not yet.
    mixer.hold();
    sp<AMessage> event = VolumeEvent(55);
    event->setTarget(mController->handlerId());
    event->post();
    ASSERT_TRUE(WaitFor([&] { return mixer.calls().size() == 1; }));
    EXPECT_EQ(since(m), (std::vector<std::string>{"cast:CastCliSyncMute[0]"}));
    mixer.release();
    settle();

    EXPECT_EQ(mixer.calls(), (std::vector<std::string>{"set Master unmute"}));
    EXPECT_EQ(since(m), (std::vector<std::string>{"cast:CastCliSyncMute[0]",
                                                  "source:UpdateAppMuteStat[false]",
                                                  "cast:CastCliSyncVolume[55]"}));
    EXPECT_FALSE(gCastMuted);
    EXPECT_TRUE(mLog.has("castcontroller: onVolumeMuteCallback() MID 63 buffer UNMUTE", LOG_INFO));
    EXPECT_FALSE(mLog.has(" state 0 type "));
    EXPECT_FALSE(mLog.has("Alsa mixer is in UNMUTE state"));

    // Unmuted now: the volume only (clamped), with the line; no field means 0.
    m = mark();
    postAndSettle(VolumeEvent(120));
    postAndSettle(VolumeEvent(-7));
    postAndSettle(new AMessage(kWhatVolumeEvent));
    EXPECT_EQ(since(m),
              (std::vector<std::string>{"cast:CastCliSyncVolume[100]", "cast:CastCliSyncVolume[0]",
                                        "cast:CastCliSyncVolume[0]"}));
    EXPECT_EQ(
        mLog.count("castcontroller: HandleOnVolumeEvent() Alsa mixer is in UNMUTE state", LOG_ERR),
        3u);
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnVolumeEvent() called, received volume data 0", LOG_INFO));
    EXPECT_EQ(mixer.calls().size(), 1u);
}

TEST_F(DeviceTest, DeviceVolumeWithoutCastControlIsOnlyLogged) {
    RecordingMixer mixer;
    ASSERT_TRUE(mixer.ready());
    startDevice(false);
    gCastMuted = true;
    uint64_t m = mark();
    postAndSettle(VolumeEvent(40));
    EXPECT_TRUE(mLog.has("castcontroller: HandleOnVolumeEvent() called, received volume data 40",
                         LOG_INFO));
    EXPECT_EQ(mLog.lines().size(), 1u);
    EXPECT_TRUE(since(m).empty());
    EXPECT_TRUE(mixer.calls().empty());
    EXPECT_TRUE(gCastMuted);
}

TEST_F(DeviceTest, SetvemovolumeGivesTheBusVolumeToCast) {
    startDevice();
    uint64_t m = mark();
    for (const char* text : {"55", "", "abc"}) {
        Fakes().appWrite(kMidVolume, text);
        Fakes().drain();
        setvemovolume();
    }
    EXPECT_EQ(since(m),
              (std::vector<std::string>{"cast:CastCliSyncVolume[55]", "cast:CastCliSyncVolume[30]",
                                        "cast:CastCliSyncVolume[30]"}));
    EXPECT_TRUE(
        mLog.has("castcontroller: setvemovolume() setting device volume:55 to cast CLI", LOG_INFO));
    // The empty bus text stands for 30 without a conversion error; "abc" has one.
    EXPECT_EQ(mLog.count(kConversionFailed, LOG_ERR), 1u);
}

TEST_F(DeviceTest, AnExceptionStopsAtTheEdgeOfTheLibraryCallbackOrWorker) {
    startDevice();
    std::function<void(const int&, const std::string&, VolumeMediaType)> saved =
        onVolumeMuteCallback;
    onVolumeMuteCallback = [](const int&, const std::string&, VolumeMediaType) {
        throw std::runtime_error("volume boom");
    };
    Fakes().castVolume(10);
    Fakes().castMute(1);
    Fakes().drain();
    onVolumeMuteCallback = saved;
    EXPECT_TRUE(
        mLog.has("castcontroller: handleOnVolumeChanges() stopped by an exception: volume "
                 "boom",
                 LOG_ERR));
    EXPECT_TRUE(
        mLog.has("castcontroller: handleOnMuteChanges() stopped by an exception: volume "
                 "boom",
                 LOG_ERR));

    // The release worker takes its copy of the slot when the library calls.
    std::function<void(bool)> release = releaseResourceCallback;
    releaseResourceCallback = [](bool) { throw std::runtime_error("release boom"); };
    Fakes().castReleaseResources();
    EXPECT_TRUE(mLog.waitFor(
        "castcontroller: handleOnReleaseResources() stopped by an exception: release boom",
        LOG_ERR));
    releaseResourceCallback = release;
}
