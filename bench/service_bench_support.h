#pragma once

// What the benchmarks that run the real service share: the provider emulator with one account,
// the machine settings that point the service at it, and the service's start.

#include <string>

#include "tests/fixtures/provider_emulator.h"
#include "tests/support/child_process.h"

namespace quarnel::bench {

// The emulator with the account alice/s3cret, her host home.example.org, the probe name and an
// IP echo that answers echoAddress; false when it did not start.
bool StartEmulator(test::ProviderEmulator& emulator, const std::string& echoAddress);

// Points the endpoints at the emulator and stores the settings of that account (interval five
// minutes, last update now) below the current QUARNEL_ROOT; false when an override failed.
bool WriteServiceSettings(const test::ProviderEmulator& emulator);

// Starts "<program> /service" in the tree at root, trusting the emulator's certificates.
bool StartService(test::ChildProcess& service, const std::string& program, const std::string& root,
                  const test::ProviderEmulator& emulator);

}  // namespace quarnel::bench
