#pragma once

// Everything the emulator answers from, changeable while it runs (through the admin commands).
// All access goes through one lock; readers get copies.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace emulator {

struct HostRecord {
    std::string owner;     // account that holds the host name
    std::string address;   // stored address; empty until the first update
    std::string address6;  // stored IPv6 address (canonical); empty until an update names one
};

// A scripted answer for the next update request(s), replacing what the emulator would answer.
struct ScriptedAnswer {
    int status = 200;
    std::string body;
    int remaining = 1;  // 0: until cleared
};

// A fault applied to the next request(s) on the service ports.
struct Fault {
    std::string
        kind;  // delay, trickle, stall, short, chunked, chunked-cut, redirect, huge, endless
    std::string path;  // only requests for this path; empty for any
    int milliseconds = 200;
    std::size_t chunk = 4;
    std::size_t missing = 40;
    std::size_t bytes = 0;
    int status = 302;
    std::string location;
    int remaining = 1;  // 0: until cleared
};

struct DnsRecord {
    std::uint16_t type = 1;  // 1 A, 5 CNAME, 28 AAAA
    std::string data;        // address text or target name
};

struct DnsEntry {
    int rcode = 0;  // 0 NOERROR, 2 SERVFAIL, 3 NXDOMAIN
    std::vector<DnsRecord> answer;
    // Over UDP only the header comes back, marked as cut short (TC); TCP gives the answer.
    bool truncate = false;
    // A forged answer, an A record with the address spoof, comes first over UDP, with one flaw:
    // "port" (from another port than the server's), "question" (for another question; both
    // followed by the true answer), "class" (a CH record) or "owner" (owned by another name; both
    // instead of the true answer).
    std::string forge;
    std::string spoof;
};

class EmulatorState {
  public:
    explicit EmulatorState(std::string allHostsName) : allHostsName_(std::move(allHostsName)) {}

    const std::string& AllHostsName() const { return allHostsName_; }

    void SetAccount(const std::string& user, const std::string& password);
    void DeleteAccount(const std::string& user);
    // True when the account exists with this password.
    bool CheckAccount(const std::string& user, const std::string& password) const;

    void SetHost(const std::string& name, const HostRecord& record);
    std::optional<HostRecord> FindHost(const std::string& name) const;
    // Stores a host's addresses; true when either changed.
    bool UpdateHost(const std::string& name, const std::string& address,
                    const std::string& address6);
    // Host names held by an account, sorted.
    std::vector<std::string> HostsOf(const std::string& user) const;

    // The echo page's exact body; nothing means the caller's address.
    void SetEchoText(std::optional<std::string> text);
    std::optional<std::string> EchoText() const;
    // The same for the echo page of the IPv6 listener.
    void SetEcho6Text(std::optional<std::string> text);
    std::optional<std::string> Echo6Text() const;

    // Pages of the maker's site (/index.html, installers, signatures) by path; an empty body
    // removes the page.
    void SetPage(const std::string& path, std::string body);
    std::optional<std::string> Page(const std::string& path) const;

    void AddScript(const ScriptedAnswer& answer);
    void ClearScripts();
    // Takes the next scripted answer, counting it down.
    std::optional<ScriptedAnswer> TakeScript();

    void AddFault(const Fault& fault);
    void ClearFaults();
    // Takes the first fault that applies to the path, counting it down.
    std::optional<Fault> TakeFault(const std::string& path);

    void SetDnsEntry(const std::string& name, const DnsEntry& entry);
    void DeleteDnsEntry(const std::string& name);
    std::optional<DnsEntry> FindDnsEntry(const std::string& name) const;

  private:
    const std::string allHostsName_;
    mutable std::mutex lock_;
    std::map<std::string, std::string> accounts_;
    std::map<std::string, HostRecord> hosts_;  // by lower-case name
    std::optional<std::string> echoText_;
    std::optional<std::string> echo6Text_;
    std::map<std::string, std::string> pages_;
    std::deque<ScriptedAnswer> scripts_;
    std::deque<Fault> faults_;
    std::map<std::string, DnsEntry> dns_;  // by lower-case name without the final dot
};

// Lower-case ASCII, for host names.
std::string LowerName(std::string name);

}  // namespace emulator
