#pragma once

// The DNS exchange itself, run in the helper process (helper/dns_operation.cpp): one A query, the
// way the system's resolver library would send it, but with every answer checked before it
// counts. Not for the program's own process: it parses what a server sent.

#include <sys/socket.h>

#include <string>
#include <vector>

#include "ddns/dns_answer.h"
#include "ddns/dns_query.h"

namespace quarnel {

struct DnsServer {
    sockaddr_storage address{};
    socklen_t length = 0;
};

struct DnsExchangeSettings {
    std::vector<DnsServer> servers;  // at most three are asked
    int timeoutMs = 5000;            // per server and try
    int tries = 2;
};

// The settings of the system's resolver configuration (/etc/resolv.conf: its IPv4 and IPv6
// servers, time-out and tries); with given servers, those (entries that name none skipped)
// instead of the configured ones. Nothing when the configuration cannot be read, or when given
// servers name none.
bool ReadDnsExchangeSettings(const std::vector<ResolverAddress>& given,
                             DnsExchangeSettings& settings);

// Asks each server in turn, tries times, for the A record of host: over UDP, and over TCP to the
// same server when its answer was cut short. An answer counts only when it comes from the server
// asked (address and port), carries the query's id, is marked as a response and answers exactly
// the question asked; anything else is ignored while the wait goes on. A refusal or a server
// failure lets the next server try. The whole exchange ends after totalMs at the latest.
DnsAnswer ExchangeDnsQuery(const std::string& host, const DnsExchangeSettings& settings,
                           int totalMs);

}  // namespace quarnel
