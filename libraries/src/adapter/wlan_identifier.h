#pragma once

// The wireless network (SSID) an adapter is connected to. Empty for wired adapters, adapters
// that are not associated, and where the wireless configuration interface is missing.

#include <string>
#include <string_view>

namespace quarnel {

std::string GetWLANIdentifier(std::string_view guid);
// The SSID of the adapter that carries the primary address.
std::string GetGatewayWLANIdentifier();

// SSID bytes as text: up to the first zero byte; bytes that are not UTF-8 are read as
// ISO 8859-1, so every SSID has a stable text.
std::string SsidBytesToText(std::string_view bytes);

}  // namespace quarnel
