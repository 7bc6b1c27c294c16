#include "tools/provider-emulator/http_service.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "tools/provider-emulator/query_text.h"

namespace emulator {
namespace {

constexpr const char* kTextPlain = "text/plain; charset=utf-8";
constexpr std::size_t kMaxHostsPerUpdate = 20;
// A stream that never ends is cut after this much, in case a client reads forever.
constexpr std::size_t kEndlessLimit = std::size_t{1} << 32;

struct Answer {
    int status = 200;
    std::string body;
};

void Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool IsIPv4(const std::string& text) {
    in_addr ignored{};
    return inet_pton(AF_INET, text.c_str(), &ignored) == 1;
}

// The canonical text of an IPv6 address, or nothing when the text is none.
std::optional<std::string> CanonicalIPv6(const std::string& text) {
    in6_addr address{};
    char canonical[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET6, text.c_str(), &address) != 1 ||
        inet_ntop(AF_INET6, &address, canonical, sizeof canonical) == nullptr) {
        return std::nullopt;
    }
    return std::string(canonical);
}

std::vector<std::string> SplitComma(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(',', start);
        items.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return items;
        }
        start = end + 1;
    }
}

// address6 is empty for a request that names no IPv6 address: the stored one then stays, and the
// answer names the IPv4 address alone, as before the dual form.
std::string UpdateOne(EmulatorState& state, const std::string& user, const std::string& name,
                      const std::string& address, const std::string& address6) {
    const std::string named = address6.empty() ? address : address + "," + address6;
    const auto update = [&](const std::string& host, const HostRecord& record) {
        return state.UpdateHost(host, address, address6.empty() ? record.address6 : address6);
    };
    if (name == state.AllHostsName()) {
        bool changed = false;
        for (const std::string& host : state.HostsOf(user)) {
            changed = update(host, state.FindHost(host).value_or(HostRecord{})) || changed;
        }
        return (changed ? "good " : "nochg ") + named;
    }
    if (name.find('.') == std::string::npos) {
        return "notfqdn";
    }
    const std::optional<HostRecord> record = state.FindHost(name);
    if (!record) {
        return "nohost";
    }
    if (record->owner != user) {
        return "!yours";
    }
    return (update(name, *record) ? "good " : "nochg ") + named;
}

Answer Update(EmulatorState& state, const httplib::Request& request, httplib::Response& response) {
    const auto credentials = ParseBasicAuthorization(request.get_header_value("Authorization"));
    if (!credentials || !state.CheckAccount(credentials->first, credentials->second)) {
        response.set_header("WWW-Authenticate", "Basic realm=\"provider-emulator\"");
        return {401, "badauth"};
    }
    if (std::optional<ScriptedAnswer> scripted = state.TakeScript()) {
        return {scripted->status, scripted->body};
    }
    if (request.get_header_value("User-Agent").empty()) {
        return {200, "badagent"};
    }
    const QueryPairs query = ParseQuery(SplitTarget(request.target).second);
    const std::string hostnames = QueryValue(query, "hostname").value_or("");
    if (hostnames.empty()) {
        return {200, "notfqdn"};
    }
    const std::vector<std::string> names = SplitComma(hostnames);
    if (names.size() > kMaxHostsPerUpdate) {
        return {200, "numhost"};
    }
    std::string address = QueryValue(query, "myip").value_or("");
    // The dual form "myip=<IPv4>,<IPv6>": a second address that is no IPv6 address is refused as
    // a malformed request.
    std::string address6;
    if (const std::size_t comma = address.find(','); comma != std::string::npos) {
        const std::optional<std::string> canonical = CanonicalIPv6(address.substr(comma + 1));
        if (!canonical) {
            return {200, "badagent"};
        }
        address6 = *canonical;
        address.resize(comma);
    }
    if (!IsIPv4(address)) {
        address = request.remote_addr;
    }
    std::string body;
    for (const std::string& name : names) {
        if (!body.empty()) {
            body += '\n';
        }
        body += UpdateOne(state, credentials->first, name, address, address6);
    }
    return {200, body};
}

// The issue tracker takes any key (the request log keeps what was sent): 201 with the new issue,
// 401 without Basic credentials.
Answer NewIssue(const httplib::Request& request) {
    if (!ParseBasicAuthorization(request.get_header_value("Authorization"))) {
        return {401, "<errors><error>API key missing</error></errors>"};
    }
    return {201, "<issue><id>1</id></issue>"};
}

// Sends the body as the fault says (or plainly when there is none).
void Deliver(httplib::Response& response, const Answer& answer, const std::optional<Fault>& fault) {
    response.status = answer.status;
    const std::string kind = fault ? fault->kind : "";
    auto body = std::make_shared<std::string>(answer.body);
    if (kind == "trickle" || kind == "stall") {
        const Fault f = *fault;
        response.set_content_provider(
            body->size(), kTextPlain,
            [body, f](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (f.kind == "trickle") {
                    if (offset > 0)
                        Sleep(f.milliseconds);
                    const std::size_t piece = std::min(length, f.chunk);
                    return sink.write(body->data() + offset, piece);
                }
                // stall: the first half at once, then silence, then the rest.
                const std::size_t half = body->size() / 2;
                if (offset < half) {
                    return sink.write(body->data() + offset, half - offset);
                }
                Sleep(f.milliseconds);
                return sink.write(body->data() + offset, length);
            });
    } else if (kind == "short") {
        response.set_content_provider(
            body->size() + fault->missing, kTextPlain,
            [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset < body->size()) {
                    return sink.write(body->data() + offset, body->size() - offset);
                }
                return false;  // the announced rest never comes; the connection is closed
            });
    } else if (kind == "chunked" || kind == "chunked-cut") {
        const Fault f = *fault;
        auto sent = std::make_shared<std::size_t>(0);
        response.set_chunked_content_provider(
            kTextPlain, [body, f, sent](std::size_t, httplib::DataSink& sink) {
                if (*sent >= body->size()) {
                    if (f.kind == "chunked-cut") {
                        return false;  // no final chunk: the connection just closes
                    }
                    sink.done();
                    return true;
                }
                if (*sent > 0)
                    Sleep(f.milliseconds);
                const std::size_t piece = std::min(f.chunk, body->size() - *sent);
                const bool written = sink.write(body->data() + *sent, piece);
                *sent += piece;
                return written;
            });
    } else {
        response.set_content(answer.body, kTextPlain);
    }
}

void DeliverGenerated(httplib::Response& response, const Fault& fault) {
    auto block = std::make_shared<std::string>(65536, 'x');
    if (fault.kind == "huge") {
        response.set_content_provider(
            fault.bytes, kTextPlain,
            [block](std::size_t, std::size_t length, httplib::DataSink& sink) {
                return sink.write(block->data(), std::min(length, block->size()));
            });
        return;
    }
    auto sent = std::make_shared<std::size_t>(0);
    // overlong: announces half of the bytes, then sends them all in chunks.
    const bool overlong = fault.kind == "overlong";
    const std::size_t limit = overlong ? fault.bytes : kEndlessLimit;
    if (overlong) {
        response.set_header("Content-Length", std::to_string(fault.bytes / 2));
    }
    response.set_chunked_content_provider(
        kTextPlain, [block, sent, limit, overlong](std::size_t, httplib::DataSink& sink) {
            if (*sent >= limit) {
                if (!overlong) {
                    return false;  // endless: cut without a final chunk
                }
                sink.done();
                return true;
            }
            const std::size_t piece = std::min(block->size(), limit - *sent);
            if (!sink.write(block->data(), piece)) {
                return false;
            }
            *sent += piece;
            return true;
        });
}

void Handle(const std::string& label, EmulatorState& state, RequestLog& log,
            const httplib::Request& request, httplib::Response& response) {
    std::vector<std::pair<std::string, std::string>> headers;
    for (const auto& [name, value] : request.headers) {
        // The library adds the peer's and its own address as pseudo headers; they were not sent.
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" &&
            name != "LOCAL_PORT") {
            headers.emplace_back(name, value);
        }
    }
    log.AddHttp(label, request.method, request.target, headers, request.body);

    const std::string path = SplitTarget(request.target).first;
    const std::optional<Fault> fault = state.TakeFault(path);
    if (fault && fault->kind == "delay") {
        Sleep(fault->milliseconds);
    }
    if (fault && fault->kind == "redirect") {
        response.status = fault->status;
        response.set_header("Location", fault->location);
        response.set_content("redirected to " + fault->location + "\n", kTextPlain);
        return;
    }
    if (fault && (fault->kind == "huge" || fault->kind == "endless" || fault->kind == "overlong")) {
        DeliverGenerated(response, *fault);
        return;
    }

    Answer answer;
    if (path == "/nic/update") {
        answer = Update(state, request, response);
    } else if (path == "/") {
        const std::optional<std::string> text =
            label == "https6" ? state.Echo6Text() : state.EchoText();
        answer.body = text.value_or(request.remote_addr);
    } else if (path == "/issues.xml" && request.method == "POST") {
        answer = NewIssue(request);
    } else if (const auto page = state.Page(path)) {
        answer.body = *page;
    } else if (path == "/changelog.html") {
        answer.body =
            "<html><body><h1>Changes</h1><p>Build 295: the emulator's change log.</p>"
            "</body></html>\n";
    } else {
        answer = {404, "not found\n"};
    }
    Deliver(response, answer, fault);
}

}  // namespace

void InstallServiceHandler(httplib::Server& server, const std::string& label, EmulatorState& state,
                           RequestLog& log) {
    // Ordinary handlers for every path (the library reads a request's body before calling them;
    // HEAD requests reach the GET handler).
    const auto handler = [label, &state, &log](const httplib::Request& request,
                                               httplib::Response& response) {
        Handle(label, state, log, request, response);
    };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Patch(".*", handler);
    server.Delete(".*", handler);
    server.Options(".*", handler);
}

}  // namespace emulator
