#include "tests/fakes/FakeUiManager.h"

#include <vector>

#include "tests/fakes/FakeWorld.h"

namespace orvix::fakes {

namespace {

std::vector<model::UiField> fieldsOf(const android::AMessage& msg) {
    std::vector<model::UiField> fields;
    for (size_t i = 0; i < msg.countEntries(); ++i) {
        android::AMessage::Type type;
        const char* name = msg.getEntryNameAt(i, &type);
        int32_t number = 0;
        double real = 0.0;
        android::AString text;
        if (type == android::AMessage::kTypeInt32 && msg.findInt32(name, &number)) {
            fields.push_back(model::UiField::int32(name, number));
        } else if (type == android::AMessage::kTypeDouble && msg.findDouble(name, &real)) {
            fields.push_back(model::UiField::real(name, real));
        } else if (type == android::AMessage::kTypeString && msg.findString(name, &text)) {
            fields.push_back(model::UiField::string(name, text.str()));
        }
    }
    return fields;
}

class FakeServiceManager : public android::IServiceManager {
public:
    android::sp<android::IBinder> getService(const android::String16& name) const override {
        return checkService(name);
    }

    android::sp<android::IBinder> checkService(const android::String16& name) const override {
        if (name != android::IUIManager::kServiceName) return nullptr;
        if (!Fakes().world().ui().up()) return nullptr;
        return android::IInterface::asBinder(uiManager().get());
    }

private:
    // One service object for the process, like the real UI manager; never destroyed, since
    // the daemon's threads may look it up while statics are torn down.
    static const android::sp<FakeUiManager>& uiManager() {
        static const android::sp<FakeUiManager>* const instance =
            new android::sp<FakeUiManager>(new FakeUiManager());
        return *instance;
    }
};

}  // namespace

android::status_t FakeUiManager::UpdateMetadata(const android::sp<android::AMessage>& msg) {
    if (msg == nullptr) return android::BAD_VALUE;
    return Fakes().world().ui().metadata(fieldsOf(*msg)) ? android::OK : android::DEAD_OBJECT;
}

android::status_t FakeUiManager::UpdateSourceRelease(const android::sp<android::AMessage>& msg) {
    std::vector<model::UiField> fields;
    if (msg != nullptr) fields = fieldsOf(*msg);
    return Fakes().world().ui().clear(fields) ? android::OK : android::DEAD_OBJECT;
}

}  // namespace orvix::fakes

namespace android {

sp<IServiceManager> defaultServiceManager() {
    // Never destroyed, for the same reason as the UI manager itself.
    static const sp<IServiceManager>* const manager =
        new sp<IServiceManager>(new orvix::fakes::FakeServiceManager());
    return *manager;
}

}  // namespace android
