#pragma once

// A test fixture with a running provider emulator, the test CA trusted through SSL_CERT_FILE,
// no proxy, and a private registry root.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/fixtures/provider_emulator.h"
#include "tests/fixtures/request_record.h"
#include "tests/support/test_support.h"

namespace quarnel::test {

class EmulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(emulator_.Start(EmulatorOptions())) << "provider emulator did not start";
        caFile_.emplace("SSL_CERT_FILE", emulator_.CaFile());
    }
    virtual ProviderEmulator::Options EmulatorOptions() { return {}; }

    std::string HttpUrl(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(emulator_.HttpPort()) + path;
    }
    std::string HttpsUrl(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(emulator_.HttpsPort()) + path;
    }
    std::string Admin(const std::string& command) {
        int status = 0;
        const std::string answer = emulator_.Admin(command, &status);
        EXPECT_EQ(status, 200) << command << ": " << answer;
        return answer;
    }
    std::vector<RequestRecord> Records() const { return ParseRequestRecords(emulator_.Requests()); }
    RequestRecord LastRecord() const {
        const std::vector<RequestRecord> records = Records();
        return records.empty() ? RequestRecord{} : records.back();
    }

    TemporaryFolder root_;
    ScopedEnvironment quarnelRoot_{"QUARNEL_ROOT", root_.Path()};
    // Loopback traffic must never go through a proxy the environment may name.
    ScopedEnvironment noProxy_{"no_proxy", "*"};
    ScopedEnvironment certificateFolder_{"SSL_CERT_DIR", std::nullopt};
    ProviderEmulator emulator_;
    std::optional<ScopedEnvironment> caFile_;
};

}  // namespace quarnel::test
