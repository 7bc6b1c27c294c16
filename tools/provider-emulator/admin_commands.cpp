#include "tools/provider-emulator/admin_commands.h"

#include <arpa/inet.h>

#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "tools/provider-emulator/query_text.h"

namespace emulator {
namespace {

AdminResult Ok(std::string body = "ok\n") {
    return {200, std::move(body)};
}

AdminResult Bad(const std::string& why) {
    return {400, "error: " + why + "\n"};
}

bool ReadNumber(const QueryPairs& query, std::string_view key, long minimum, long maximum,
                long& value) {
    const std::optional<std::string> text = QueryValue(query, key);
    if (!text) {
        return true;
    }
    char* end = nullptr;
    const long number = std::strtol(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || number < minimum || number > maximum) {
        return false;
    }
    value = number;
    return true;
}

bool IsIPv4(const std::string& text) {
    in_addr ignored{};
    return inet_pton(AF_INET, text.c_str(), &ignored) == 1;
}

bool IsIPv6(const std::string& text) {
    in6_addr ignored{};
    return inet_pton(AF_INET6, text.c_str(), &ignored) == 1;
}

AdminResult Account(EmulatorState& state, const QueryPairs& query) {
    const auto user = QueryValue(query, "user");
    if (!user || user->empty()) {
        return Bad("account needs user");
    }
    if (QueryValue(query, "delete")) {
        state.DeleteAccount(*user);
        return Ok();
    }
    state.SetAccount(*user, QueryValue(query, "password").value_or(""));
    return Ok();
}

AdminResult Host(EmulatorState& state, const QueryPairs& query) {
    const auto name = QueryValue(query, "name");
    if (!name || name->empty()) {
        return Bad("host needs name");
    }
    const auto user = QueryValue(query, "user");
    if (!user) {
        const auto record = state.FindHost(*name);
        if (!record) {
            return {404, "error: no such host\n"};
        }
        return Ok(record->address + (record->address6.empty() ? "" : "," + record->address6) +
                  "\n");
    }
    const std::string address = QueryValue(query, "address").value_or("");
    if (!address.empty() && !IsIPv4(address)) {
        return Bad("address is not an IPv4 address");
    }
    state.SetHost(*name, {*user, address, {}});
    return Ok();
}

// ipv6: the echo page of the IPv6 listener.
AdminResult Echo(EmulatorState& state, const QueryPairs& query, bool ipv6) {
    const auto set = [&state, ipv6](std::optional<std::string> text) {
        ipv6 ? state.SetEcho6Text(std::move(text)) : state.SetEchoText(std::move(text));
    };
    if (QueryValue(query, "reset")) {
        set(std::nullopt);
        return Ok();
    }
    const auto text = QueryValue(query, "text");
    if (!text) {
        return Bad("echo needs text or reset");
    }
    set(*text);
    return Ok();
}

// A page of the maker's site: its text, or the bytes of a file (an installer, a signature).
AdminResult Page(EmulatorState& state, const QueryPairs& query) {
    const auto path = QueryValue(query, "path");
    if (!path || path->empty() || path->front() != '/') {
        return Bad("page needs a path starting with /");
    }
    if (const auto file = QueryValue(query, "file")) {
        std::ifstream in(*file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        if (!in) {
            return Bad("page file cannot be read");
        }
        state.SetPage(*path, bytes.str());
        return Ok();
    }
    state.SetPage(*path, QueryValue(query, "text").value_or(""));
    return Ok();
}

// The maker's /index.html with the four meta tags; a value not given leaves its tag out.
AdminResult Software(EmulatorState& state, const QueryPairs& query) {
    std::string page = "<!DOCTYPE html>\n<html><head><title>Quarnel Updater</title>\n";
    for (const char* name : {"software-version", "software-beta-version", "software-download",
                             "software-beta-download"}) {
        if (const auto value = QueryValue(query, name)) {
            page += "<meta name=\"" + std::string(name) + "\" content=\"" + *value + "\">\n";
        }
    }
    page += "</head><body><p>Quarnel Updater</p></body></html>\n";
    state.SetPage("/index.html", page);
    return Ok();
}

AdminResult Script(EmulatorState& state, const QueryPairs& query) {
    if (QueryValue(query, "clear")) {
        state.ClearScripts();
        return Ok();
    }
    const auto body = QueryValue(query, "body");
    if (!body) {
        return Bad("script needs body or clear");
    }
    ScriptedAnswer answer;
    answer.body = *body;
    // The maintenance answer comes with a server error status, as the providers send it.
    long status = body->rfind("911", 0) == 0 ? 500 : 200;
    long times = 1;
    if (!ReadNumber(query, "status", 100, 599, status) ||
        !ReadNumber(query, "times", 0, 1000000, times)) {
        return Bad("status must be 100..599 and times 0..1000000");
    }
    answer.status = static_cast<int>(status);
    answer.remaining = static_cast<int>(times);
    state.AddScript(answer);
    return Ok();
}

AdminResult AddFault(EmulatorState& state, const QueryPairs& query) {
    if (QueryValue(query, "clear")) {
        state.ClearFaults();
        return Ok();
    }
    Fault fault;
    fault.kind = QueryValue(query, "kind").value_or("");
    static const char* const kinds[] = {"delay",       "trickle",  "stall", "short",   "chunked",
                                        "chunked-cut", "redirect", "huge",  "endless", "overlong"};
    bool known = false;
    for (const char* kind : kinds) {
        known = known || fault.kind == kind;
    }
    if (!known) {
        return Bad("unknown fault kind");
    }
    fault.path = QueryValue(query, "path").value_or("");
    fault.location = QueryValue(query, "location").value_or("");
    long ms = fault.milliseconds, chunk = 4, missing = 40, bytes = 0, status = 302, times = 1;
    if (!ReadNumber(query, "ms", 0, 600000, ms) || !ReadNumber(query, "chunk", 1, 1 << 20, chunk) ||
        !ReadNumber(query, "missing", 1, 1 << 30, missing) ||
        !ReadNumber(query, "bytes", 0, 1L << 34, bytes) ||
        !ReadNumber(query, "status", 100, 599, status) ||
        !ReadNumber(query, "times", 0, 1000000, times)) {
        return Bad("a number is out of range");
    }
    if (fault.kind == "redirect" && fault.location.empty()) {
        return Bad("redirect needs location");
    }
    fault.milliseconds = static_cast<int>(ms);
    fault.chunk = static_cast<std::size_t>(chunk);
    fault.missing = static_cast<std::size_t>(missing);
    fault.bytes = static_cast<std::size_t>(bytes);
    fault.status = static_cast<int>(status);
    fault.remaining = static_cast<int>(times);
    state.AddFault(fault);
    return Ok();
}

// answer=CNAME:target.example,A:203.0.113.7 ; rcode=NXDOMAIN|SERVFAIL|NOERROR
AdminResult Dns(EmulatorState& state, const QueryPairs& query) {
    const auto name = QueryValue(query, "name");
    if (!name || name->empty()) {
        return Bad("dns needs name");
    }
    if (QueryValue(query, "delete")) {
        state.DeleteDnsEntry(*name);
        return Ok();
    }
    DnsEntry entry;
    const std::string rcode = QueryValue(query, "rcode").value_or("NOERROR");
    if (rcode == "NOERROR") {
        entry.rcode = 0;
    } else if (rcode == "SERVFAIL") {
        entry.rcode = 2;
    } else if (rcode == "NXDOMAIN") {
        entry.rcode = 3;
    } else {
        return Bad("rcode must be NOERROR, SERVFAIL or NXDOMAIN");
    }
    entry.truncate = QueryValue(query, "truncate").has_value();
    entry.forge = QueryValue(query, "forge").value_or("");
    entry.spoof = QueryValue(query, "spoof").value_or("203.0.113.66");
    if ((!entry.forge.empty() && entry.forge != "port" && entry.forge != "question" &&
         entry.forge != "class" && entry.forge != "owner") ||
        !IsIPv4(entry.spoof)) {
        return Bad("forge must be port, question, class or owner; spoof an IPv4 address");
    }
    const std::string answer = QueryValue(query, "answer").value_or("");
    std::size_t start = 0;
    while (start < answer.size()) {
        std::size_t end = answer.find(',', start);
        if (end == std::string::npos) {
            end = answer.size();
        }
        const std::string item = answer.substr(start, end - start);
        start = end + 1;
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos) {
            return Bad("answer items are TYPE:DATA");
        }
        DnsRecord record;
        const std::string type = item.substr(0, colon);
        record.data = item.substr(colon + 1);
        if (type == "A" && IsIPv4(record.data)) {
            record.type = 1;
        } else if (type == "CNAME" && !record.data.empty()) {
            record.type = 5;
        } else if (type == "AAAA" && IsIPv6(record.data)) {
            record.type = 28;
        } else {
            return Bad("answer items are A:<IPv4>, AAAA:<IPv6> or CNAME:<name>");
        }
        entry.answer.push_back(record);
    }
    state.SetDnsEntry(*name, entry);
    return Ok();
}

}  // namespace

AdminResult ApplyAdminCommand(EmulatorState& state, RequestLog& log, const std::string& stateText,
                              const std::string& target) {
    const auto [path, queryText] = SplitTarget(target);
    const QueryPairs query = ParseQuery(queryText);
    if (path == "/admin/state") {
        return Ok(stateText);
    }
    if (path == "/admin/account") {
        return Account(state, query);
    }
    if (path == "/admin/host") {
        return Host(state, query);
    }
    if (path == "/admin/echo" || path == "/admin/echo6") {
        return Echo(state, query, path == "/admin/echo6");
    }
    if (path == "/admin/page") {
        return Page(state, query);
    }
    if (path == "/admin/software") {
        return Software(state, query);
    }
    if (path == "/admin/script") {
        return Script(state, query);
    }
    if (path == "/admin/fault") {
        return AddFault(state, query);
    }
    if (path == "/admin/dns") {
        return Dns(state, query);
    }
    if (path == "/admin/requests") {
        if (QueryValue(query, "clear")) {
            log.ClearLines();
            return Ok();
        }
        return Ok(log.Lines());
    }
    if (path == "/admin/reset") {
        state.ClearScripts();
        state.ClearFaults();
        state.SetEchoText(std::nullopt);
        state.SetEcho6Text(std::nullopt);
        log.ClearLines();
        return Ok();
    }
    return {404, "error: unknown admin command\n"};
}

}  // namespace emulator
