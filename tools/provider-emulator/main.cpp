// provider-emulator: a stand-in for the dynamic-DNS providers, the IP-echo page and a DNS
// server, on local ports, for tests, benchmarks and demonstrations. README.md describes it.

#include <httplib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/provider-emulator/admin_commands.h"
#include "tools/provider-emulator/dns_responder.h"
#include "tools/provider-emulator/emulator_state.h"
#include "tools/provider-emulator/http_service.h"
#include "tools/provider-emulator/request_log.h"
#include "tools/provider-emulator/test_certificates.h"

namespace emulator {
namespace {

constexpr int kDisabled = -1;

struct Options {
    std::string address = "127.0.0.1";
    int httpPort = 0;
    int httpsPort = 0;
    int https6Port = 0;
    int otherNamePort = 0;
    int expiredPort = 0;
    int dnsPort = 0;
    int adminPort = 0;
    std::string certificates;
    std::string stateFile;
    std::string requestLog;
    std::string allHosts = "all.dnsomatic.com";
    std::vector<std::string> configFiles;
    std::vector<std::string> commands;
    bool exitWithParent = false;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: provider-emulator --certs DIR [--address A] [--http-port N] "
                 "[--https-port N] [--https6-port N]\n"
                 "         [--https-other-name-port N] [--https-expired-port N] [--dns-port N]\n"
                 "         [--admin-port N] [--state-file FILE] [--request-log FILE]\n"
                 "         [--config FILE]... [--command /admin/...]... [--all-hosts NAME]\n"
                 "         [--exit-with-parent]\n"
                 "ports: a number, 0 to let the system pick one, or \"off\"\n"
                 "updates: myip=A or the dual form myip=A,A6 (IPv4 and IPv6, answered\n"
                 "  \"good A,A6\" or \"nochg A,A6\"); a second address that is no IPv6 address\n"
                 "  is refused with \"badagent\" and changes nothing\n");
}

bool ReadPort(const char* text, int& port) {
    if (std::string(text) == "off") {
        port = kDisabled;
        return true;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 0 || value > 65535) {
        return false;
    }
    port = static_cast<int>(value);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--exit-with-parent") {
            options.exitWithParent = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (name == "--address") {
            options.address = value;
        } else if (name == "--http-port") {
            ok = ReadPort(value, options.httpPort);
        } else if (name == "--https-port") {
            ok = ReadPort(value, options.httpsPort);
        } else if (name == "--https6-port") {
            ok = ReadPort(value, options.https6Port);
        } else if (name == "--https-other-name-port") {
            ok = ReadPort(value, options.otherNamePort);
        } else if (name == "--https-expired-port") {
            ok = ReadPort(value, options.expiredPort);
        } else if (name == "--dns-port") {
            ok = ReadPort(value, options.dnsPort);
        } else if (name == "--admin-port") {
            ok = ReadPort(value, options.adminPort);
        } else if (name == "--certs") {
            options.certificates = value;
        } else if (name == "--state-file") {
            options.stateFile = value;
        } else if (name == "--request-log") {
            options.requestLog = value;
        } else if (name == "--config") {
            options.configFiles.push_back(value);
        } else if (name == "--command") {
            options.commands.push_back(value);
        } else if (name == "--all-hosts") {
            options.allHosts = value;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "provider-emulator: bad option %s %s\n", name.c_str(), value);
            return false;
        }
    }
    const bool needsCertificates =
        options.httpsPort != kDisabled || options.https6Port != kDisabled ||
        options.otherNamePort != kDisabled || options.expiredPort != kDisabled;
    return !needsCertificates || !options.certificates.empty();
}

// One listening HTTP(S) server and its thread.
struct Listener {
    std::unique_ptr<httplib::Server> server;
    int port = 0;
    std::thread thread;
};

bool StartListener(Listener& listener, std::unique_ptr<httplib::Server> server,
                   const std::string& address, int port) {
    if (!server->is_valid()) {
        return false;
    }
    // Headers and body go out as separate writes; without this, Nagle's algorithm holds the body
    // back until the client's delayed acknowledgement, 40 ms per answer.
    server->set_tcp_nodelay(true);
    if (port == 0) {
        port = server->bind_to_any_port(address);
        if (port <= 0) {
            return false;
        }
    } else if (!server->bind_to_port(address, port)) {
        return false;
    }
    listener.port = port;
    listener.server = std::move(server);
    httplib::Server* raw = listener.server.get();
    listener.thread = std::thread([raw] { raw->listen_after_bind(); });
    return true;
}

void StopListener(Listener& listener) {
    if (listener.server) {
        listener.server->stop();
    }
    if (listener.thread.joinable()) {
        listener.thread.join();
    }
}

bool WriteStateFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
        if (!out.flush()) {
            return false;
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool ApplyConfigFile(EmulatorState& state, RequestLog& log, const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "provider-emulator: cannot read %s\n", path.c_str());
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const AdminResult result = ApplyAdminCommand(state, log, "", line);
        if (result.status != 200) {
            std::fprintf(stderr, "provider-emulator: %s:%d: %s", path.c_str(), number,
                         result.body.c_str());
            return false;
        }
    }
    return true;
}

int Run(const Options& options) {
    if (options.exitWithParent) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    }
    // Block the stop signals before any thread starts, so that only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    RequestLog log(options.requestLog);
    if (!log.Usable()) {
        std::fprintf(stderr, "provider-emulator: cannot open %s\n", options.requestLog.c_str());
        return 2;
    }
    EmulatorState state(options.allHosts);
    for (const std::string& path : options.configFiles) {
        if (!ApplyConfigFile(state, log, path)) {
            return 2;
        }
    }
    for (const std::string& command : options.commands) {
        const AdminResult result = ApplyAdminCommand(state, log, "", command);
        if (result.status != 200) {
            std::fprintf(stderr, "provider-emulator: %s: %s", command.c_str(), result.body.c_str());
            return 2;
        }
    }

    TestCertificates certificates;
    const bool anyHttps = options.httpsPort != kDisabled || options.https6Port != kDisabled ||
                          options.otherNamePort != kDisabled || options.expiredPort != kDisabled;
    if (anyHttps && !LoadTestCertificates(options.certificates, certificates)) {
        return 2;
    }

    struct Planned {
        const char* label;
        int port;
        const CertifiedKey* tls;
    };
    const Planned planned[] = {
        {"http", options.httpPort, nullptr},
        {"https", options.httpsPort, &certificates.server},
        {"https-other-name", options.otherNamePort, &certificates.otherName},
        {"https-expired", options.expiredPort, &certificates.expired},
    };
    Listener listeners[4];
    for (std::size_t i = 0; i < 4; ++i) {
        if (planned[i].port == kDisabled) {
            continue;
        }
        std::unique_ptr<httplib::Server> server;
        if (planned[i].tls) {
            server = std::make_unique<httplib::SSLServer>(planned[i].tls->certificate.get(),
                                                          planned[i].tls->key.get());
        } else {
            server = std::make_unique<httplib::Server>();
        }
        InstallServiceHandler(*server, planned[i].label, state, log);
        if (!StartListener(listeners[i], std::move(server), options.address, planned[i].port)) {
            std::fprintf(stderr, "provider-emulator: cannot listen for %s on %s port %d\n",
                         planned[i].label, options.address.c_str(), planned[i].port);
            for (Listener& started : listeners)
                StopListener(started);
            return 2;
        }
    }

    // The IPv6 echo and service on ::1, where the machine has it (as the DNS responder).
    Listener ipv6;
    if (options.https6Port != kDisabled) {
        auto server = std::make_unique<httplib::SSLServer>(certificates.server.certificate.get(),
                                                           certificates.server.key.get());
        InstallServiceHandler(*server, "https6", state, log);
        StartListener(ipv6, std::move(server), "::1", options.https6Port);
    }

    DnsResponder dns(state, log);
    if (options.dnsPort != kDisabled) {
        if (!dns.Bind(options.address, options.dnsPort)) {
            std::fprintf(stderr, "provider-emulator: cannot bind DNS on %s port %d\n",
                         options.address.c_str(), options.dnsPort);
            for (Listener& started : listeners)
                StopListener(started);
            StopListener(ipv6);
            return 2;
        }
        dns.Start();
    }

    std::string stateText;
    stateText += "PID=" + std::to_string(::getpid()) + "\n";
    stateText += "ADDRESS=" + options.address + "\n";
    stateText += "HTTP_PORT=" + std::to_string(listeners[0].port) + "\n";
    stateText += "HTTPS_PORT=" + std::to_string(listeners[1].port) + "\n";
    stateText += "HTTPS6_PORT=" + std::to_string(ipv6.port) + "\n";
    stateText += "HTTPS_OTHER_NAME_PORT=" + std::to_string(listeners[2].port) + "\n";
    stateText += "HTTPS_EXPIRED_PORT=" + std::to_string(listeners[3].port) + "\n";
    stateText += "DNS_PORT=" + std::to_string(dns.Port()) + "\n";
    stateText += "DNS6_PORT=" + std::to_string(dns.Port6()) + "\n";

    if (anyHttps) {
        char resolved[PATH_MAX];
        const std::string caPath = options.certificates + "/ca.pem";
        stateText += "CA_FILE=" +
                     std::string(::realpath(caPath.c_str(), resolved) ? resolved : caPath.c_str()) +
                     "\n";
    }

    Listener admin;
    if (options.adminPort != kDisabled) {
        auto server = std::make_unique<httplib::Server>();
        const std::string* stateTextPointer = &stateText;
        server->set_pre_routing_handler(
            [&state, &log, stateTextPointer](const httplib::Request& request,
                                             httplib::Response& response) {
                const AdminResult result =
                    ApplyAdminCommand(state, log, *stateTextPointer, request.target);
                response.status = result.status;
                response.set_content(result.body, "text/plain; charset=utf-8");
                return httplib::Server::HandlerResponse::Handled;
            });
        // The port is known only after binding; the state text is complete before the admin
        // thread starts and is not changed afterwards.
        int adminPort = options.adminPort;
        if (adminPort == 0) {
            adminPort = server->bind_to_any_port(options.address);
        } else if (!server->bind_to_port(options.address, adminPort)) {
            adminPort = -1;
        }
        if (adminPort <= 0) {
            std::fprintf(stderr, "provider-emulator: cannot bind the admin port\n");
            for (Listener& started : listeners)
                StopListener(started);
            StopListener(ipv6);
            return 2;
        }
        admin.port = adminPort;
        stateText += "ADMIN_PORT=" + std::to_string(adminPort) + "\n";
        admin.server = std::move(server);
        httplib::Server* raw = admin.server.get();
        admin.thread = std::thread([raw] { raw->listen_after_bind(); });
    } else {
        stateText += "ADMIN_PORT=0\n";
    }

    std::fputs(stateText.c_str(), stdout);
    std::fflush(stdout);
    if (!options.stateFile.empty() && !WriteStateFile(options.stateFile, stateText)) {
        std::fprintf(stderr, "provider-emulator: cannot write %s\n", options.stateFile.c_str());
    }

    int received = 0;
    sigwait(&stopSignals, &received);

    StopListener(admin);
    for (Listener& listener : listeners)
        StopListener(listener);
    StopListener(ipv6);
    dns.Stop();
    return 0;
}

}  // namespace
}  // namespace emulator

int main(int argc, char** argv) {
    emulator::Options options;
    if (!emulator::ParseOptions(argc, argv, options)) {
        emulator::Usage();
        return 2;
    }
    return emulator::Run(options);
}
