#include <gtest/gtest.h>

#include <string>

#include "platform/android/AMessage.h"
#include "platform/android/AString.h"

namespace {

using android::AMessage;
using android::AString;
using android::sp;

TEST(FoundationMessage, FieldsKeepFirstSetOrderAndReplaceInPlace) {
    sp<AMessage> msg = new AMessage(33, 4);
    EXPECT_EQ(33u, msg->what());
    EXPECT_EQ(4, msg->target());
    msg->setInt32("usage-report", 1);
    msg->setString("cast-name", "Kitchen");
    msg->setDouble("total-duration", 12.5);
    ASSERT_EQ(3u, msg->countEntries());

    // Setting a name again, even with another type, keeps its place.
    msg->setString("usage-report", "yes");
    msg->setInt32("cast-name", 7);
    ASSERT_EQ(3u, msg->countEntries());
    const char* names[] = {"usage-report", "cast-name", "total-duration"};
    const AMessage::Type types[] = {AMessage::kTypeString, AMessage::kTypeInt32,
                                    AMessage::kTypeDouble};
    for (size_t i = 0; i < 3; ++i) {
        AMessage::Type type = AMessage::kTypeInt32;
        ASSERT_STREQ(names[i], msg->getEntryNameAt(i, &type));
        EXPECT_EQ(types[i], type);
    }
    EXPECT_EQ(nullptr, msg->getEntryNameAt(3, nullptr));

    int32_t i32 = -1;
    double d = -1;
    AString s("untouched");
    EXPECT_FALSE(msg->findInt32("usage-report", &i32));
    EXPECT_TRUE(msg->findString("usage-report", &s));
    EXPECT_EQ(AString("yes"), s);
    EXPECT_FALSE(msg->findString("cast-name", &s));
    EXPECT_EQ(AString("yes"), s);
    EXPECT_TRUE(msg->findInt32("cast-name", &i32));
    EXPECT_EQ(7, i32);
    EXPECT_FALSE(msg->findDouble("cast-name", &d));
    EXPECT_TRUE(msg->findDouble("total-duration", &d));
    EXPECT_DOUBLE_EQ(12.5, d);
    EXPECT_FALSE(msg->findInt32("missing", &i32));
    EXPECT_FALSE(msg->contains("missing"));
    EXPECT_TRUE(msg->contains("total-duration"));
    EXPECT_EQ(7, i32);

    EXPECT_EQ(
        "AMessage(what=33, target=4) {usage-report=\"yes\", cast-name=7, "
        "total-duration=12.5}",
        msg->debugString());
}

TEST(FoundationMessage, StringsCopyUpToTheNulOrTheGivenLength) {
    sp<AMessage> msg = new AMessage();
    const char bytes[] = {'a', '\0', 'b', 'c'};
    msg->setString("whole", "hello");
    msg->setString("prefix", "hello", 3);
    msg->setString("binary", bytes, 3);
    msg->setString("null", nullptr);
    msg->setString("astring", AString("from AString"));

    AString value;
    ASSERT_TRUE(msg->findString("whole", &value));
    EXPECT_EQ("hello", value.str());
    ASSERT_TRUE(msg->findString("prefix", &value));
    EXPECT_EQ("hel", value.str());
    ASSERT_TRUE(msg->findString("binary", &value));
    EXPECT_EQ(std::string("a\0b", 3), value.str());
    ASSERT_TRUE(msg->findString("null", &value));
    EXPECT_TRUE(value.empty());
    ASSERT_TRUE(msg->findString("astring", &value));
    EXPECT_STREQ("from AString", value.c_str());
}

TEST(FoundationMessage, DupIsAnIndependentCopy) {
    sp<AMessage> original = new AMessage(9, 2);
    original->setString("multizone-delay", "120");
    original->setInt32("n", 1);
    sp<AMessage> copy = original->dup();
    ASSERT_NE(original.get(), copy.get());
    EXPECT_EQ(original->debugString(), copy->debugString());

    copy->setString("multizone-delay", "0");
    copy->setWhat(10);
    AString delay;
    ASSERT_TRUE(original->findString("multizone-delay", &delay));
    EXPECT_EQ("120", delay.str());
    EXPECT_EQ(9u, original->what());
    EXPECT_EQ(2u, copy->countEntries());
}

}  // namespace
