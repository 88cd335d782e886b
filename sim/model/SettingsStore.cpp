#include "sim/model/SettingsStore.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/model/JsonText.h"

namespace orvix::model {

SettingsStore::SettingsStore(Sequencer& sequencer)
    : mJournal(sequencer, "env", [](const Json::Value& c) {
          return c["from"].asString() + " set " + c["key"].asString() + " = " +
                 quoteJson(c["value"].asString());
      }) {}

void SettingsStore::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mValues.clear();
    mChanges.clear();
    mJournal.clear();
}

bool SettingsStore::get(const std::string& key, std::string* value) const {
    std::lock_guard<std::mutex> guard(mLock);
    auto it = mValues.find(key);
    if (it == mValues.end()) return false;
    *value = it->second;
    return true;
}

std::string SettingsStore::value(const std::string& key) const {
    std::string out;
    get(key, &out);
    return out;
}

bool SettingsStore::set(const std::string& key, const std::string& value, Origin from) {
    std::lock_guard<std::mutex> guard(mLock);
    mValues[key] = value;
    Json::Value entry(Json::objectValue);
    entry["op"] = "set";
    entry["key"] = key;
    entry["value"] = value;
    entry["from"] = originName(from);
    mChanges.push_back(SettingChange{mJournal.log(entry), key, value, from});
    if (mPersistPath.empty()) return true;
    std::string error;
    return saveLocked(mPersistPath, &error);
}

bool SettingsStore::load(const std::string& path, std::string* error) {
    // A first start has no file yet; that is an empty store, not an error.
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
        std::lock_guard<std::mutex> guard(mLock);
        mValues.clear();
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = path + ": cannot be read";
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    Json::Value root;
    if (!parseJson(text.str(), &root) || !root.isObject()) {
        if (error) *error = path + ": not a JSON object";
        return false;
    }
    std::map<std::string, std::string> loaded;
    for (const std::string& key : root.getMemberNames()) {
        const Json::Value& v = root[key];
        if (v.isString()) loaded[key] = v.asString();
    }
    std::lock_guard<std::mutex> guard(mLock);
    mValues = std::move(loaded);
    return true;
}

void SettingsStore::setPersistPath(const std::string& path) {
    std::lock_guard<std::mutex> guard(mLock);
    mPersistPath = path;
}

bool SettingsStore::saveLocked(const std::string& path, std::string* error) const {
    Json::Value root(Json::objectValue);
    for (const auto& kv : mValues) root[kv.first] = kv.second;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    const std::string text = Json::writeString(builder, root) + "\n";

    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            if (error) *error = tmp + ": write failed";
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error) *error = path + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

std::vector<SettingChange> SettingsStore::changes() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mChanges;
}

Json::Value SettingsStore::getJson(const std::string& key) const {
    Json::Value out(Json::objectValue);
    out["key"] = key;
    out["value"] = value(key);
    return out;
}

}  // namespace orvix::model
