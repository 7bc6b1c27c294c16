// What "/status" makes of texts it did not write itself: stored answers and systemd's report.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/visible_text.h"
#include "startup/service_status.h"

namespace quarnel {
namespace {

TEST(VisibleText, ControlCharactersAndBrokenUtf8BecomeVisibleAndTheRestStays) {
    struct Case {
        std::string text;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"good 198.51.100.7", "good 198.51.100.7"},
        {"Büro WLAN €", "Büro WLAN €"},
        {"\x1b[2Jclear", "\\x1b[2Jclear"},
        {"title\x1b]0;x\x07", "title\\x1b]0;x\\x07"},
        {"tab\there\r\n", "tab\\x09here\\x0d\\x0a"},
        {"del\x7f", "del\\x7f"},
        {"csi\xc2\x9b"
         "31m",
         "csi\\xc2\\x9b31m"},                // C1 control in UTF-8
        {"raw\x9b", "raw\\x9b"},             // a lone byte that is not UTF-8
        {"cut\xe2\x82", "cut\\xe2\\x82"},    // a sequence cut short
        {"long\xc0\xaf", "long\\xc0\\xaf"},  // an over-long form
        {"back\\slash", "back\\\\slash"},    // so \x1b typed by a server stays distinct
        {std::string("nul\0end", 7), "nul\\x00end"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VisibleText(c.text), c.shown);
    }
}

TEST(ServiceStateFromSystemd, SystemdsWordsBecomeTheServiceState) {
    struct Case {
        std::string output;
        std::string state;
        ServiceRunState run;
    };
    const std::vector<Case> cases = {
        {"LoadState=loaded\nActiveState=active\nSubState=running\n", "running",
         ServiceRunState::Running},
        {"LoadState=loaded\nActiveState=reloading\nSubState=reload\n", "running",
         ServiceRunState::Running},
        {"LoadState=loaded\nActiveState=inactive\nSubState=dead\n", "not running",
         ServiceRunState::Stopped},
        {"LoadState=not-found\nActiveState=inactive\nSubState=dead\n", "not running",
         ServiceRunState::Stopped},
        {"LoadState=loaded\nActiveState=activating\nSubState=start\n", "starting",
         ServiceRunState::Starting},
        {"LoadState=loaded\nActiveState=activating\nSubState=auto-restart\n",
         "restarting after a failure", ServiceRunState::Failed},
        {"LoadState=loaded\nActiveState=deactivating\nSubState=stop-sigterm\n", "stopping",
         ServiceRunState::Stopping},
        {"LoadState=loaded\nActiveState=failed\nSubState=failed\n",
         "failed (journalctl -u quarnel-updater says why)", ServiceRunState::Failed},
        {"", "", ServiceRunState::Unknown},
        {"LoadState=loaded\nActiveState=maintenance\n", "", ServiceRunState::Unknown},
    };
    for (const Case& c : cases) {
        const ServiceState state = ServiceStateFromSystemd(c.output);
        EXPECT_EQ(state.text, c.state) << c.output;
        EXPECT_EQ(state.state, c.run) << c.output;
    }
}

}  // namespace
}  // namespace quarnel
