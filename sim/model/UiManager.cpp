#include "sim/model/UiManager.h"

#include "sim/model/JsonText.h"

namespace orvix::model {

namespace {

const char* kindName(UiUpdate::Kind kind) {
    return kind == UiUpdate::Kind::Metadata ? "metadata" : "clear";
}

std::string orderedFields(const std::vector<UiField>& fields) {
    std::string text = "{";
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) text += ",";
        text += quoteJson(fields[i].key) + ":" + compactJson(fields[i].json());
    }
    return text + "}";
}

}  // namespace

UiField UiField::int32(const std::string& key, int32_t value) {
    UiField f;
    f.key = key;
    f.type = Type::Int32;
    f.i32 = value;
    return f;
}

UiField UiField::real(const std::string& key, double value) {
    UiField f;
    f.key = key;
    f.type = Type::Double;
    f.d = value;
    return f;
}

UiField UiField::string(const std::string& key, const std::string& value) {
    UiField f;
    f.key = key;
    f.type = Type::String;
    f.s = value;
    return f;
}

Json::Value UiField::json() const {
    switch (type) {
        case Type::Int32:
            return Json::Value(i32);
        case Type::Double:
            return Json::Value(d);
        case Type::String:
            return Json::Value(s);
    }
    return Json::Value();
}

UiManager::UiManager(Sequencer& sequencer)
    : mJournal(sequencer, "ui", [](const Json::Value& u) {
          return u["op"].asString() + " " + compactJson(u["fields"]);
      }) {}

void UiManager::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mUp = true;
    mUpdates.clear();
    mJournal.clear();
}

void UiManager::setUp(bool up) {
    std::lock_guard<std::mutex> guard(mLock);
    if (mUp == up) return;
    mUp = up;
    mJournal.note(up ? "up" : "down");
}

bool UiManager::up() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mUp;
}

bool UiManager::metadata(const std::vector<UiField>& fields) {
    return record(UiUpdate::Kind::Metadata, fields);
}

bool UiManager::clear(const std::vector<UiField>& fields) {
    return record(UiUpdate::Kind::Clear, fields);
}

bool UiManager::record(UiUpdate::Kind kind, const std::vector<UiField>& fields) {
    std::lock_guard<std::mutex> guard(mLock);
    if (!mUp) return false;
    Json::Value entry(Json::objectValue);
    entry["op"] = kindName(kind);
    entry["fields"] = Json::Value(Json::objectValue);
    for (const UiField& f : fields) entry["fields"][f.key] = f.json();
    mUpdates.push_back(UiUpdate{mJournal.log(entry), kind, fields});
    return true;
}

std::vector<UiUpdate> UiManager::updates() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mUpdates;
}

std::string UiManager::logText() const {
    std::lock_guard<std::mutex> guard(mLock);
    std::string text = "[";
    for (size_t i = 0; i < mUpdates.size(); ++i) {
        const UiUpdate& u = mUpdates[i];
        if (i > 0) text += ",";
        text += "{\"seq\":" + std::to_string(u.stamp.seq) + ",\"op\":\"" + kindName(u.kind) +
                "\",\"fields\":" + orderedFields(u.fields) + "}";
    }
    return text + "]";
}

}  // namespace orvix::model
