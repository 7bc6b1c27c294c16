#include "tools/provider-emulator/emulator_state.h"

#include <algorithm>
#include <utility>

namespace emulator {

std::string LowerName(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    while (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    return name;
}

void EmulatorState::SetAccount(const std::string& user, const std::string& password) {
    std::lock_guard guard(lock_);
    accounts_[user] = password;
}

void EmulatorState::DeleteAccount(const std::string& user) {
    std::lock_guard guard(lock_);
    accounts_.erase(user);
}

bool EmulatorState::CheckAccount(const std::string& user, const std::string& password) const {
    std::lock_guard guard(lock_);
    const auto found = accounts_.find(user);
    return found != accounts_.end() && found->second == password;
}

void EmulatorState::SetHost(const std::string& name, const HostRecord& record) {
    std::lock_guard guard(lock_);
    hosts_[LowerName(name)] = record;
}

std::optional<HostRecord> EmulatorState::FindHost(const std::string& name) const {
    std::lock_guard guard(lock_);
    const auto found = hosts_.find(LowerName(name));
    if (found == hosts_.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool EmulatorState::UpdateHost(const std::string& name, const std::string& address,
                               const std::string& address6) {
    std::lock_guard guard(lock_);
    HostRecord& record = hosts_[LowerName(name)];
    const bool changed = record.address != address || record.address6 != address6;
    record.address = address;
    record.address6 = address6;
    return changed;
}

std::vector<std::string> EmulatorState::HostsOf(const std::string& user) const {
    std::lock_guard guard(lock_);
    std::vector<std::string> names;
    for (const auto& [name, record] : hosts_) {
        if (record.owner == user) {
            names.push_back(name);
        }
    }
    return names;
}

void EmulatorState::SetEchoText(std::optional<std::string> text) {
    std::lock_guard guard(lock_);
    echoText_ = std::move(text);
}

std::optional<std::string> EmulatorState::EchoText() const {
    std::lock_guard guard(lock_);
    return echoText_;
}

void EmulatorState::SetEcho6Text(std::optional<std::string> text) {
    std::lock_guard guard(lock_);
    echo6Text_ = std::move(text);
}

std::optional<std::string> EmulatorState::Echo6Text() const {
    std::lock_guard guard(lock_);
    return echo6Text_;
}

void EmulatorState::SetPage(const std::string& path, std::string body) {
    std::lock_guard guard(lock_);
    if (body.empty()) {
        pages_.erase(path);
    } else {
        pages_[path] = std::move(body);
    }
}

std::optional<std::string> EmulatorState::Page(const std::string& path) const {
    std::lock_guard guard(lock_);
    const auto found = pages_.find(path);
    return found == pages_.end() ? std::nullopt : std::optional<std::string>(found->second);
}

void EmulatorState::AddScript(const ScriptedAnswer& answer) {
    std::lock_guard guard(lock_);
    scripts_.push_back(answer);
}

void EmulatorState::ClearScripts() {
    std::lock_guard guard(lock_);
    scripts_.clear();
}

std::optional<ScriptedAnswer> EmulatorState::TakeScript() {
    std::lock_guard guard(lock_);
    if (scripts_.empty()) {
        return std::nullopt;
    }
    ScriptedAnswer answer = scripts_.front();
    if (answer.remaining == 1) {
        scripts_.pop_front();
    } else if (answer.remaining > 1) {
        --scripts_.front().remaining;
    }
    return answer;
}

void EmulatorState::AddFault(const Fault& fault) {
    std::lock_guard guard(lock_);
    faults_.push_back(fault);
}

void EmulatorState::ClearFaults() {
    std::lock_guard guard(lock_);
    faults_.clear();
}

std::optional<Fault> EmulatorState::TakeFault(const std::string& path) {
    std::lock_guard guard(lock_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (!it->path.empty() && it->path != path) {
            continue;
        }
        Fault fault = *it;
        if (it->remaining == 1) {
            faults_.erase(it);
        } else if (it->remaining > 1) {
            --it->remaining;
        }
        return fault;
    }
    return std::nullopt;
}

void EmulatorState::SetDnsEntry(const std::string& name, const DnsEntry& entry) {
    std::lock_guard guard(lock_);
    dns_[LowerName(name)] = entry;
}

void EmulatorState::DeleteDnsEntry(const std::string& name) {
    std::lock_guard guard(lock_);
    dns_.erase(LowerName(name));
}

std::optional<DnsEntry> EmulatorState::FindDnsEntry(const std::string& name) const {
    std::lock_guard guard(lock_);
    const auto found = dns_.find(LowerName(name));
    if (found == dns_.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace emulator
