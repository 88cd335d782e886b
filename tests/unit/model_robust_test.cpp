// The simulator's knobs for the robustness tests: a setup service that holds requests without
// an answer, and cast records with a running app that has no name or an image without a URL,
// through the model's JSON and the in-process fake alike.
#include <gtest/gtest.h>

#include <string>

#include "sim/model/CastRecords.h"
#include "sim/model/Sequencer.h"
#include "sim/model/SetupService.h"
#include "tests/fakes/FakeCastControl.h"

namespace {

using namespace orvix::model;

TEST(ModelRobust, AHangingSetupServiceHoldsRequestsUntilUpOrDown) {
    Sequencer sequencer;
    SetupService setup(sequencer);
    setup.setBody(R"({"tos_accepted":true})");
    setup.setUp(false);
    setup.setHang();
    SetupAnswer held = setup.answer("/setup/eureka_info");
    EXPECT_TRUE(held.up);
    EXPECT_TRUE(held.hang);
    setup.setUp(true);
    const SetupAnswer answered = setup.answer("/setup/eureka_info");
    EXPECT_FALSE(answered.hang);
    EXPECT_EQ(answered.body, R"({"tos_accepted":true})");
    setup.setHang();
    setup.setUp(false);
    EXPECT_FALSE(setup.current().hang);
    EXPECT_FALSE(setup.current().up);

    const Json::Value log = setup.logJson();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0]["hang"].asBool());
    EXPECT_FALSE(log[1].isMember("hang"));
    std::vector<TimelineEntry> timeline;
    setup.collectTimeline(&timeline);
    bool heldLine = false;
    for (const TimelineEntry& e : timeline) {
        heldLine = heldLine || e.line.find("held without an answer (hang)") != std::string::npos;
    }
    EXPECT_TRUE(heldLine);
}

class RecordingObserver : public chromecast::CastControl::Observer {
public:
    void OnControlConnected() override {}
    void OnControlDisconnected() override {}
    void OnResponse(int32_t, int32_t) override {}
    void OnCastStatus(const chromecast::CastStatus& status) override {
        hadApp = status.runningApp != nullptr;
        appNameNull = hadApp && status.runningApp->appName == nullptr;
    }
    void OnMediaStatus(const chromecast::MediaStatus& status) override {
        const chromecast::MediaMetadata* m =
            status.mediaInfo != nullptr ? status.mediaInfo->metadata : nullptr;
        images = m != nullptr ? m->imageCount : -1;
        urlNull = m != nullptr && m->images != nullptr && m->images[0].url == nullptr;
    }

    bool hadApp = false;
    bool appNameNull = false;
    int32_t images = -1;
    bool urlNull = false;
};

TEST(ModelRobust, RecordsWithAnUnnamedAppOrAnImageWithoutUrlSurviveJsonAndReachTheObserver) {
    CastStatusData status;
    status.appWithoutName = true;
    CastEvent statusEvent = CastEvent::statusEvent(status);
    EXPECT_NE(statusEvent.describe().find("app=record-without-name"), std::string::npos);
    CastEvent back;
    ASSERT_TRUE(fromJson(toJson(statusEvent), &back));
    EXPECT_TRUE(back.status.appWithoutName);
    EXPECT_FALSE(back.status.appName.has_value());

    MediaStatusData media;
    MediaInfoData info;
    MediaMetadataData metadata;
    metadata.imageWithoutUrl = true;
    info.metadata = metadata;
    media.mediaInfo = info;
    CastEvent mediaEvent = CastEvent::mediaEvent(media);
    EXPECT_NE(mediaEvent.describe().find("image=one-without-url"), std::string::npos);
    ASSERT_TRUE(fromJson(toJson(mediaEvent), &back));
    EXPECT_TRUE(back.media.mediaInfo->metadata->imageWithoutUrl);

    RecordingObserver observer;
    orvix::fakes::FakeCastControl::DeliverToObserver(&observer, statusEvent);
    orvix::fakes::FakeCastControl::DeliverToObserver(&observer, mediaEvent);
    EXPECT_TRUE(observer.hadApp && observer.appNameNull);
    EXPECT_EQ(observer.images, 1);
    EXPECT_TRUE(observer.urlNull);
    // Without the flags the records are as before: no app record, no image.
    orvix::fakes::FakeCastControl::DeliverToObserver(&observer,
                                                     CastEvent::statusEvent(CastStatusData()));
    EXPECT_FALSE(observer.hadApp);
    MediaStatusData plain = media;
    plain.mediaInfo->metadata->imageWithoutUrl = false;
    orvix::fakes::FakeCastControl::DeliverToObserver(&observer, CastEvent::mediaEvent(plain));
    EXPECT_EQ(observer.images, 0);
}

}  // namespace
