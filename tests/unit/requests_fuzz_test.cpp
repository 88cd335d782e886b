// A bounded mutation fuzz of the client request intake: thousands of damaged and hostile
// payloads through the controller's looper, then checks that the daemon still answers and
// that every reply it wrote and every request it kept is well formed.
#include <json/json.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/unit/RequestsTestSupport.h"

using orvix::test::RequestsTest;

namespace {

const std::vector<std::string> kSeeds = {
    R"({"request_type":"get","id":"tos","device_uuid":"phone-1"})",
    R"({"request_type":"set","id":"tos","action":"accepted","device_uuid":"p","user_ip":"1"})",
    R"({"request_type":"set","id":"crash_report","action":"no","device_uuid":"p","user_ip":"1"})",
    R"({"request_type":"set","id":"crash_report","action":"accepted","device_uuid":7,)"
    R"("user_ip":null})",
    R"({"request_type":"get","id":[],"device_uuid":{"a":[1,2,{"b":null}]}})",
    R"([{"request_type":"get"}])",
};

const std::vector<std::string> kTokens = {"{",
                                          "}",
                                          "[",
                                          "]",
                                          "\"",
                                          ":",
                                          ",",
                                          "\\",
                                          "\\u0000",
                                          "\\ud800",
                                          "null",
                                          "true",
                                          "1e999",
                                          "-0",
                                          "18446744073709551616",
                                          "\"request_type\"",
                                          "\"get\"",
                                          "\"set\"",
                                          "\"id\"",
                                          "\"tos\"",
                                          "\"crash_report\"",
                                          "\"action\"",
                                          "\"accepted\"",
                                          "\"device_uuid\"",
                                          "\"user_ip\"",
                                          "/*",
                                          "//",
                                          std::string("\0", 1),
                                          "\xff",
                                          "\xc3",
                                          " "};

class Mutator {
public:
    explicit Mutator(uint32_t seed) : mRandom(seed) {}

    std::string next() {
        std::string text = kSeeds[pick(kSeeds.size())];
        for (size_t n = 1 + pick(4); n > 0; --n) mutate(text);
        return text;
    }

private:
    size_t pick(size_t bound) {
        return std::uniform_int_distribution<size_t>(0, bound - 1)(mRandom);
    }

    void mutate(std::string& text) {
        size_t at = pick(text.size() + 1);
        switch (pick(6)) {
            case 0:  // damage one byte
                if (!text.empty()) text[at % text.size()] = static_cast<char>(pick(256));
                break;
            case 1:
                text.insert(at, kTokens[pick(kTokens.size())]);
                break;
            case 2:
                text.erase(at, pick(8));
                break;
            case 3: {  // splice another seed in
                const std::string& other = kSeeds[pick(kSeeds.size())];
                text.insert(at, other, pick(other.size()), std::string::npos);
                break;
            }
            case 4: {  // nest, sometimes past the reader's limit
                size_t depth = pick(2) ? pick(50) : 990 + pick(40);
                text.insert(at, std::string(depth, pick(2) ? '[' : '{'));
                break;
            }
            default:  // a long text
                text.insert(at, std::string(pick(4096), static_cast<char>('a' + pick(26))));
                break;
        }
    }

    std::mt19937 mRandom;
};

bool IsText(const Json::Value& reply, const char* member) {
    return reply.isMember(member) && reply[member].isString();
}

}  // namespace

TEST_F(RequestsTest, FuzzedRequestsLeaveTheDaemonAnsweringAndItsStateWellFormed) {
    startController();
    uint32_t seed = 20240611;
    if (const char* chosen = getenv("ORVIX_FUZZ_SEED")) seed = std::strtoul(chosen, nullptr, 10);
    SCOPED_TRACE("ORVIX_FUZZ_SEED=" + std::to_string(seed));
    Mutator mutator(seed);

    // Bounded by count and by time, so a slow sanitizer build still finishes promptly.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    size_t sent = 0;
    while (sent < 20000 && std::chrono::steady_clock::now() < deadline) {
        for (int batch = 0; batch < 100; ++batch, ++sent) {
            std::string payload = mutator.next();
            android::sp<android::AMessage> msg = new android::AMessage(kWhatClientRequest);
            msg->setString(kKeyMessageData, payload.data(), static_cast<ssize_t>(payload.size()));
            msg->setTarget(mController->handlerId());
            msg->post();
        }
        settle();
    }
    EXPECT_GT(sent, 500u);

    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    for (const std::string& text : replies()) {
        SCOPED_TRACE(text.substr(0, 200));
        Json::Value reply;
        ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &reply, nullptr));
        ASSERT_TRUE(reply.isObject());
        EXPECT_EQ(reply.size(), 5u);
        EXPECT_TRUE(IsText(reply, "status") && IsText(reply, "device_uuid") && IsText(reply, "id"));
        if (reply["id"] == "status") {
            EXPECT_TRUE(IsText(reply, "tos") && reply["crash_report"].isBool());
        } else {
            // Nothing was answered by the receiver: every SET reply is an immediate failure.
            EXPECT_EQ(reply["status"], "failure");
            EXPECT_TRUE(IsText(reply, "status_msg") && IsText(reply, "action"));
        }
    }

    // Exactly the requests the receiver took are waiting, each a SET it can be answered for.
    std::set<int32_t> taken;
    for (const orvix::model::CastCall& call : world().receiver().calls()) {
        if ((call.op == orvix::model::CastOp::AcceptTos ||
             call.op == orvix::model::CastOp::SetUsageReportOptIn) &&
            call.result.asInt() != -1) {
            taken.insert(call.result.asInt());
        }
    }
    std::vector<int32_t> ids = pendingIds();
    EXPECT_EQ(std::set<int32_t>(ids.begin(), ids.end()), taken);
    for (int32_t id : ids) {
        ClientSetRequest entry = pendingAt(id);
        EXPECT_TRUE(entry.id == "tos" || entry.id == "crash_report") << entry.id;
    }

    // And the daemon still answers.
    size_t before = replies().size();
    request(R"({"request_type":"get","id":"tos","device_uuid":"after-fuzz"})");
    ASSERT_EQ(replies().size(), before + 1);
    EXPECT_NE(lastReply().find(R"("device_uuid":"after-fuzz")"), std::string::npos);
}
