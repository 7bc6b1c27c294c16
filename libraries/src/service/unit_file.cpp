#include "libraries/src/service/unit_file.h"

#include <cstddef>
#include <cstdio>

#include "platform/text.h"

namespace quarnel {
namespace {

bool IsPlainUnitCharacter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '.' || c == '_' || c == '-' || c == '+' || c == ',' || c == ':' || c == '=' ||
           c == '@' || c >= 0x80;
}

// Splits on blanks; empty words are dropped.
template <typename Visit>
void ForEachWord(std::string_view text, Visit visit) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (end > start) {
            visit(text.substr(start, end - start));
        }
        start = end + 1;
    }
}

}  // namespace

std::string UnitFileName(std::string_view serviceName) {
    std::string name;
    for (const char c : serviceName) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            name += c;
        } else if (c >= 'A' && c <= 'Z') {
            name += static_cast<char>(c - 'A' + 'a');
        } else {
            name += '-';
        }
    }
    return name + ".service";
}

std::string QuoteUnitWord(std::string_view word, bool isArgument) {
    bool plain = !word.empty();
    for (const char c : word) {
        plain = plain && IsPlainUnitCharacter(static_cast<unsigned char>(c));
    }
    if (plain) {
        return std::string(word);
    }
    std::string quoted = "\"";
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '%' || (c == '$' && isArgument)) {
            quoted += c;
            quoted += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string UnitCommandLine(std::string_view programPath, std::string_view arguments) {
    std::string line = QuoteUnitWord(programPath, false);
    ForEachWord(arguments, [&line](std::string_view word) { line += " " + QuoteUnitWord(word); });
    return line;
}

std::string UnitDescription(std::string_view description) {
    std::string line;
    for (const char c : description) {
        if (c == '\r') {
            continue;
        }
        if (c == '\n') {
            line += ' ';
        } else if (c == '%') {
            line += "%%";
        } else {
            line += c;
        }
    }
    return line;
}

std::string BuildServiceUnit(const ServiceUnitSettings& settings) {
    std::string dependencies;
    for (const std::string& dependency : SplitText(settings.dependencies, '\n')) {
        if (!dependency.empty()) {
            dependencies += (dependencies.empty() ? "" : " ") + dependency;
        }
    }

    // systemctl and the journal show Description= as the unit's name in every status line, so
    // it is the short display name; the long text is a comment for whoever reads the file.
    std::string unit;
    unit += "# " + UnitDescription(settings.displayName) + "\n";
    if (!settings.description.empty()) {
        unit += "# " + UnitDescription(settings.description) + "\n";
    }
    unit +=
        "# Written by \"quarnel-updater /install\"; \"quarnel-updater /uninstall\" removes it.\n";
    unit += "[Unit]\n";
    if (!settings.displayName.empty()) {
        unit += "Description=" + UnitDescription(settings.displayName) + "\n";
    }
    unit += "Documentation=man:quarnel-updater(1)\n";
    if (!dependencies.empty()) {
        unit += "After=" + dependencies + "\n";
        unit += "Wants=" + dependencies + "\n";
    }
    unit +=
        "\n"
        "[Service]\n"
        // The service reports READY=1 itself once its update thread runs.
        "Type=notify\n"
        "ExecStart=" +
        UnitCommandLine(settings.programPath, settings.arguments) +
        "\n"
        // SIGHUP makes the service re-read its settings and run an update at once.
        "ExecReload=/bin/kill -HUP $MAINPID\n"
        "Restart=on-failure\n"
        "NoNewPrivileges=yes\n"
        "ProtectSystem=strict\n"
        "ProtectHome=yes\n"
        "PrivateTmp=yes\n"
        // The store and event log, the debug logs (private to root, as the tmpfiles rule
        // creates them) and the control socket are the only places the service writes.
        "StateDirectory=quarnel-updater\n"
        "LogsDirectory=quarnel-updater\n"
        "LogsDirectoryMode=0700\n"
        "RuntimeDirectory=quarnel-updater\n"
        // Keep the folder over an automatic restart so a client never sees it vanish and
        // come back; it is removed when the service stops for good.
        "RuntimeDirectoryPreserve=restart\n"
        // Local sockets (instance channel, control socket, syslog), IPv4/IPv6 for the
        // providers, netlink for addresses, routes and the wireless network name.
        "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"
        // Providers, resolvers and the IP echo are unicast hosts anywhere; nothing the service
        // or its helper does needs multicast, broadcast or the reserved IPv4 block.
        "IPAddressDeny=any\n"
        "IPAddressAllow=0.0.0.0/1 128.0.0.0/2 192.0.0.0/3 ::/1 8000::/2 c000::/3 e000::/4 "
        "f000::/5 f800::/6 fc00::/7 fe00::/8\n"
        // Root for the store, the leases and the buses; of root's powers only what starting
        // the transfer helper takes: it leaves root for its own user (setgroups, setgid,
        // setuid), and the service kills it, then no longer root, at its deadline or on stop.
        "CapabilityBoundingSet=CAP_KILL CAP_SETGID CAP_SETUID\n"
        "AmbientCapabilities=\n"
        // The helper installs its own, narrower filter on top (seccomp) and restricts its own
        // file access (Landlock, in no group of systemd's yet).
        "SystemCallFilter=@system-service seccomp landlock_create_ruleset landlock_add_rule "
        "landlock_restrict_self\n"
        // Background priority comes from the unit below, so the service never needs to change
        // priorities or limits itself (its own attempt is refused and ignored).
        "SystemCallFilter=~@resources\n"
        "SystemCallErrorNumber=EPERM\n"
        "SystemCallArchitectures=native\n"
        "Nice=19\n"
        "IOSchedulingClass=idle\n"
        "ProtectKernelTunables=yes\n"
        "ProtectKernelModules=yes\n"
        "ProtectKernelLogs=yes\n"
        "ProtectClock=yes\n"
        "ProtectHostname=yes\n"
        "ProtectControlGroups=yes\n"
        // Only its own processes in /proc, and nothing else there: the service reads no other
        // process and no system-wide /proc file.
        "ProtectProc=invisible\n"
        "ProcSubset=pid\n"
        "PrivateDevices=yes\n"
        "DevicePolicy=closed\n"
        "PrivateMounts=yes\n"
        "RestrictNamespaces=yes\n"
        "RestrictRealtime=yes\n"
        "RestrictSUIDSGID=yes\n"
        "LockPersonality=yes\n"
        "MemoryDenyWriteExecute=yes\n"
        "KeyringMode=private\n"
        // Every file and folder that others must read (the machine-wide settings, the event
        // log) gets its mode set explicitly; everything else stays private to root.
        "UMask=0077\n"
        "\n"
        "[Install]\n"
        "WantedBy=multi-user.target\n";
    return unit;
}

std::string FindUnitCommandLine(std::string_view unitText) {
    constexpr std::string_view kKey = "ExecStart=";
    for (const std::string& piece : SplitText(unitText, '\n')) {
        std::string_view line = piece;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        if (line.substr(0, kKey.size()) == kKey) {
            return std::string(line.substr(kKey.size()));
        }
    }
    return {};
}

}  // namespace quarnel
