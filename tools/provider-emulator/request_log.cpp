#include "tools/provider-emulator/request_log.h"

#include <chrono>
#include <cstddef>
#include <ctime>

#include "tools/provider-emulator/query_text.h"

namespace emulator {
namespace {

// Memory kept for "/admin/requests"; older lines stay only in the file.
constexpr std::size_t kMaxLinesKept = 10000;

std::string CurrentTimeText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(millis));
    return text;
}

}  // namespace

RequestLog::RequestLog(const std::string& path) : path_(path) {
    if (!path_.empty()) {
        file_ = std::fopen(path_.c_str(), "ae");
    }
}

RequestLog::~RequestLog() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void RequestLog::AddHttp(const std::string& server, const std::string& method,
                         const std::string& target,
                         const std::vector<std::pair<std::string, std::string>>& headers,
                         const std::string& body) {
    std::string line = "{\"time\":" + JsonString(CurrentTimeText()) +
                       ",\"server\":" + JsonString(server) + ",\"method\":" + JsonString(method) +
                       ",\"target\":" + JsonString(target) + ",\"headers\":[";
    bool first = true;
    for (const auto& [name, value] : headers) {
        line += first ? "[" : ",[";
        line += JsonString(name) + "," + JsonString(value) + "]";
        first = false;
    }
    line += "],\"body\":" + JsonString(body) + "}";
    Add(std::move(line));
}

void RequestLog::AddDns(const std::string& name, unsigned type) {
    Add("{\"time\":" + JsonString(CurrentTimeText()) + ",\"server\":\"dns\",\"name\":" +
        JsonString(name) + ",\"type\":" + std::to_string(type) + "}");
}

void RequestLog::Add(std::string line) {
    std::lock_guard guard(lock_);
    if (file_ != nullptr) {
        std::fprintf(file_, "%s\n", line.c_str());
        std::fflush(file_);
    }
    lines_.push_back(std::move(line));
    if (lines_.size() > kMaxLinesKept) {
        lines_.pop_front();
    }
}

std::string RequestLog::Lines() const {
    std::lock_guard guard(lock_);
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += '\n';
    }
    return text;
}

void RequestLog::ClearLines() {
    std::lock_guard guard(lock_);
    lines_.clear();
}

}  // namespace emulator
