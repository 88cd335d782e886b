// Reading the simulator's logs in the scenario tests: the calls of one operation, the bus
// writes of one MID, argument lists to compare with.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/e2e/E2eSupport.h"

namespace orvix::e2e {

inline Json::Value ArgList(std::initializer_list<Json::Value> values) {
    Json::Value list(Json::arrayValue);
    for (const Json::Value& v : values) list.append(v);
    return list;
}

// The last entry of log for op; null when there is none.
inline Json::Value LastOp(const Json::Value& log, const std::string& op) {
    const auto entries = WithOp(log, op);
    return entries.empty() ? Json::Value() : entries.back();
}

// The argument lists of every entry for op, oldest first.
inline std::vector<Json::Value> ArgsOf(const Json::Value& log, const std::string& op) {
    std::vector<Json::Value> out;
    for (const Json::Value& entry : WithOp(log, op)) out.push_back(entry["args"]);
    return out;
}

// The entries of `bus log` on mid written by from ("daemon" or "app").
inline std::vector<Json::Value> BusWrites(const Json::Value& log, int mid,
                                          const std::string& from = "daemon") {
    std::vector<Json::Value> out;
    if (!log.isArray()) return out;
    for (const Json::Value& w : log) {
        if (w["mid"].asInt() == mid && w["from"].asString() == from) out.push_back(w);
    }
    return out;
}

inline uint64_t SeqOf(const Json::Value& entry) {
    return entry["seq"].asUInt64();
}

}  // namespace orvix::e2e
