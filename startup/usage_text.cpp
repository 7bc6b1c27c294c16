#include "startup/usage_text.h"

#include "settings/schema.h"

namespace quarnel {

std::string UsageText() {
    return "Usage: quarnel-updater [SWITCH]...\n"
           "Keeps a host name at a dynamic-DNS provider pointed at this machine's public IPv4\n"
           "address. Switches are compared regardless of letter case and run in order; without a\n"
           "switch the system tray starts.\n"
           "\n"
           "Modes (the last one given runs; a one-shot switch after it ends the program instead):\n"
           "  /service            run the update service (under systemd or in the foreground)\n"
           "  /setting            open the settings window\n"
           "  /update             run the software update\n"
           "\n"
           "One-shot switches (exit code 1 on success, 0 on failure, unless noted):\n"
           "  /install, /enable   record the installing user, migrate the stored settings,\n"
           "                      install and start the service (root)\n"
           "  /uninstall, /disable  stop and remove the service (root)\n"
           "  /shutdown, /stop    stop the service and close the tray and settings windows\n"
           "  /quit               close the tray, settings and update windows\n"
           "  /autostart          start the tray at log-in for all users (root); the exit code\n"
           "                      is the resulting state: 1 all users, 16 this user, 17 both,\n"
           "                      0 none\n"
           "  /userstart          start the tray at log-in for this user (state as above)\n"
           "  /nostart            remove both tray autostart entries (0 when both are gone)\n"
           "  /signature          verify the program's own signature\n"
           "\n"
           "This build's own commands (exit code 0 on success, non-zero on failure):\n"
           "  /configure          change the settings without a window: asks on a terminal, or\n"
           "                      reads Name=Value lines from standard input (Username, Password,\n"
           "                      Hostname, Provider, Interval, LocalFilter, LocalNetworks,\n"
           "                      WirelessFilter, WirelessNetworks, UpdateHost, HookUser and\n"
           "                      the endpoint names such as IPEcho, Resolvers, ProbeHost); 1 bad\n"
           "                      input, 2 the store cannot be written (root)\n"
           "  /status             print the service's state, the settings, the last result and\n"
           "                      the newest events\n"
           "  /status --json      the same as one JSON document: format, time, service{state,\n"
           "                      installed, text}, settings{provider, providerNumber,\n"
           "                      hostname, username, intervalMinutes, localFilter,\n"
           "                      localNetworks, wirelessFilter, wirelessNetworks, changed},\n"
           "                      lastAttempt{time, outcome, event, code, answer, address,\n"
           "                      message, reachedProvider}, lastUpdate{time, address,\n"
           "                      accepted}, lastCheck{time, found}, nextCheck{time},\n"
           "                      endpointOverrides, networkFilter{allowsUpdates,\n"
           "                      localNetwork}; a value that cannot be known is null and\n"
           "                      <name>Reason says why\n"
           "  /status --check     print one line: 0 healthy (running, the last update accepted\n"
           "                      lately), 1 not (the line says why), 2 cannot tell\n"
           "  /installupdate FILE VERSION\n"
           "                      the software update's root step (through pkexec): install\n"
           "                      FILE only when it is this program's signed package of VERSION,\n"
           "                      newer than the installed one; 1 installed, 11 and up refused\n"
           "  --help, -h, /?      print this text\n"
           "  --version           print the program's name, version and build\n"
           "\n"
           "Environment: LOGLEVEL=0..7 (debug log), LOGPORT=<port> (log datagrams to 127.0.0.1),\n"
           "QUARNEL_ROOT=<folder> (keep every file below that folder).\n"
           "Hooks: the programs in /etc/quarnel-updater/hooks.d run after each recorded outcome,\n"
           "as an unprivileged user, told of it by QUARNEL_EVENT (update, nochg, error, outage),\n"
           "QUARNEL_CODE, QUARNEL_ADDRESS, QUARNEL_HOSTNAME, QUARNEL_PROVIDER, QUARNEL_MESSAGE;\n"
           "only programs root alone can change run, each for at most 10 seconds.\n"
           "See quarnel-updater(1) for files, exit codes and endpoints.\n";
}

std::string VersionText() {
    return std::string("quarnel-updater (Quarnel Updater) ") + QUARNEL_VERSION_TEXT + ", build " +
           std::to_string(CurrentBuild) + "\n";
}

}  // namespace quarnel
