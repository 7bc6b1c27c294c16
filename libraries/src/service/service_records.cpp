#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "libraries/src/service/service_internal.h"

namespace quarnel {
namespace {

struct RecordTable {
    std::mutex lock;
    bool created = false;
    std::map<std::string, std::shared_ptr<ServiceRecord>> records;
};

RecordTable& Table() {
    static RecordTable table;
    return table;
}

// Reads the state of the named record; false when there is none.
bool ReadState(const std::string& name, std::uint32_t& state) {
    const std::shared_ptr<ServiceRecord> record = FindServiceRecord(name);
    if (!record) {
        return false;
    }
    const std::lock_guard<std::mutex> guard(record->statusLock);
    state = record->status.currentState;
    return true;
}

}  // namespace

void CreateServiceRecordTable() {
    RecordTable& table = Table();
    const std::lock_guard<std::mutex> guard(table.lock);
    table.records.clear();
    table.created = true;
}

bool RegisterServiceRecord(const std::string& name, ServiceMainFunction mainCallback,
                           ServiceControlFunction controlCallback) {
    RecordTable& table = Table();
    const std::lock_guard<std::mutex> guard(table.lock);
    if (!table.created) {
        return false;
    }
    std::shared_ptr<ServiceRecord>& record = table.records[name];
    if (!record) {
        record = std::make_shared<ServiceRecord>();
        record->name = name;
    }
    const std::lock_guard<std::mutex> statusGuard(record->statusLock);
    record->statusHandle = 0;
    record->mainCallback = std::move(mainCallback);
    record->controlCallback = std::move(controlCallback);
    return true;
}

void RemoveServiceRecord(const std::string& name) {
    RecordTable& table = Table();
    const std::lock_guard<std::mutex> guard(table.lock);
    table.records.erase(name);
}

std::shared_ptr<ServiceRecord> FindServiceRecord(const std::string& name) {
    RecordTable& table = Table();
    const std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.records.find(name);
    return found == table.records.end() ? nullptr : found->second;
}

std::vector<std::string> RegisteredServiceNames() {
    RecordTable& table = Table();
    const std::lock_guard<std::mutex> guard(table.lock);
    std::vector<std::string> names;
    for (const auto& entry : table.records) {
        names.push_back(entry.first);
    }
    return names;
}

bool IsServiceActive(const std::string& name) {
    std::uint32_t state = 0;
    return ReadState(name, state) && state != ServiceStopped && state != ServiceStopPending;
}

bool IsServicePaused(const std::string& name) {
    std::uint32_t state = 0;
    return ReadState(name, state) && state == ServicePaused;
}

bool IsServiceRunning(const std::string& name) {
    std::uint32_t state = 0;
    return ReadState(name, state) && state == ServiceRunning;
}

bool QueryServiceRecordStatus(const std::string& name, ServiceStatus& status) {
    const std::shared_ptr<ServiceRecord> record = FindServiceRecord(name);
    if (!record) {
        return false;
    }
    const std::lock_guard<std::mutex> guard(record->statusLock);
    status = record->status;
    return true;
}

std::string ServiceStateName(std::uint32_t state) {
    switch (state) {
        case ServiceStopped:
            return "SERVICE_STOPPED";
        case ServiceStartPending:
            return "SERVICE_START_PENDING";
        case ServiceStopPending:
            return "SERVICE_STOP_PENDING";
        case ServiceRunning:
            return "SERVICE_RUNNING";
        case ServiceContinuePending:
            return "SERVICE_CONTINUE_PENDING";
        case ServicePausePending:
            return "SERVICE_PAUSE_PENDING";
        case ServicePaused:
            return "SERVICE_PAUSED";
        default:
            return "SERVICE_STATE_" + std::to_string(state);
    }
}

bool ReportServiceRecordStatus(const ServiceRecord& record) {
    return ReportStatusToServiceManager(record.status,
                                        ServiceStateName(record.status.currentState));
}

}  // namespace quarnel
