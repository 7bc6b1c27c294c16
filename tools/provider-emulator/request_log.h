#pragma once

// The request log: one JSON object per line for every request the emulator receives, written to
// a file (when one is named) and kept in memory for the admin command "/admin/requests".

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace emulator {

class RequestLog {
  public:
    explicit RequestLog(const std::string& path);
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    bool Usable() const { return path_.empty() || file_ != nullptr; }

    // {"time":..., "server":..., "method":..., "target":..., "headers":[[name, value], ...],
    //  "body":...}
    void AddHttp(const std::string& server, const std::string& method, const std::string& target,
                 const std::vector<std::pair<std::string, std::string>>& headers,
                 const std::string& body);
    // {"time":..., "server":"dns", "name":..., "type":...}
    void AddDns(const std::string& name, unsigned type);

    // The lines kept in memory, each ended by a line feed.
    std::string Lines() const;
    void ClearLines();

  private:
    void Add(std::string line);

    std::string path_;
    std::FILE* file_ = nullptr;
    mutable std::mutex lock_;
    std::deque<std::string> lines_;
};

}  // namespace emulator
