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

UiManager::UiManager(Sequencer& sequencer) : mSequencer(sequencer) {}

void UiManager::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mUp = true;
    mUpdates.clear();
    mNotes.clear();
}

void UiManager::setUp(bool up) {
    std::lock_guard<std::mutex> guard(mLock);
    if (mUp == up) return;
    mUp = up;
    mNotes.push_back(Note{mSequencer.next(), up ? "up" : "down"});
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
    mUpdates.push_back(UiUpdate{mSequencer.next(), kind, fields});
    return true;
}

std::vector<UiUpdate> UiManager::updates() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mUpdates;
}

Json::Value UiManager::logJson() const {
    std::lock_guard<std::mutex> guard(mLock);
    Json::Value out(Json::arrayValue);
    for (const UiUpdate& u : mUpdates) {
        Json::Value entry(Json::objectValue);
        entry["seq"] = Json::Int64(u.stamp.seq);
        entry["op"] = kindName(u.kind);
        entry["fields"] = Json::Value(Json::objectValue);
        for (const UiField& f : u.fields) entry["fields"][f.key] = f.json();
        out.append(entry);
    }
    return out;
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

void UiManager::collectTimeline(std::vector<TimelineEntry>* out) const {
    std::lock_guard<std::mutex> guard(mLock);
    for (const UiUpdate& u : mUpdates) {
        out->push_back(timelineEntry(
            u.stamp, "ui", std::string(kindName(u.kind)) + " " + orderedFields(u.fields)));
    }
    for (const Note& n : mNotes) out->push_back(timelineEntry(n.stamp, "ui", n.text));
}

}  // namespace orvix::model
