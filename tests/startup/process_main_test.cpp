#include "startup/process_main.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "diagnostics/crash_handler.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

// Records every dispatched operation as one text, in order, and answers with preset results.
struct Recorder {
    std::vector<std::string> calls;
    std::int64_t identity = 1, migrate = 1, install = 1, start = 1, stop = 1, remove = 1;
    std::int64_t broadcast = 1, signature = 1, autostartState = 0, beta = 0, configured = 1;

    ProcessActions Actions() {
        ProcessActions a;
        a.recordClientIdentity = [this] { return Log("identity", identity); };
        a.migrateSettings = [this] { return Log("migrate", migrate); };
        a.installService = [this](const std::string& name, const std::string& display,
                                  const std::string& path, const std::string& args,
                                  const std::string& description, const std::string&) {
            return Log(
                "install " + name + "|" + display + "|" + path + "|" + args + "|" + description,
                install);
        };
        a.startServiceByName = [this](const std::string& n) { return Log("start " + n, start); };
        a.stopServiceByName = [this](const std::string& n) { return Log("stop " + n, stop); };
        a.deleteServiceByName = [this](const std::string& n) { return Log("delete " + n, remove); };
        a.broadcastInstanceMessage = [this](int code) {
            return Log("broadcast " + std::to_string(code), broadcast);
        };
        a.verifyFileSignature = [this](const std::string& p) {
            return Log("signature " + p, signature);
        };
        a.setAutostart = [this](const std::string& n, const std::string& p, int flags) {
            return Log("autostart " + n + "|" + p + "|" + std::to_string(flags), autostartState);
        };
        a.installUpdate = [this](const std::string& p, const std::string& v) {
            return Log("installupdate " + p + "|" + v, 1);
        };
        a.configure = [this] { return Log("configure", configured); };
        a.showStatus = [this](StatusForm form) {
            const char* forms[] = {"status", "status --json", "status --check"};
            return Log(forms[static_cast<int>(form)], 0);
        };
        a.showUsage = [this] { return Log("usage", 0); };
        a.showVersion = [this] { return Log("version", 0); };
        a.readSoftwareBeta = [this] { return beta; };
        a.runSystrayProcess = [this] { return Log("systray", 11); };
        a.runSettingProcess = [this] { return Log("setting", 12); };
        a.runServiceProcess = [this] { return Log("service", 0); };
        a.runUpdateProcess = [this](bool b) { return Log(b ? "update beta" : "update", 14); };
        a.programPath = [] { return std::string("/opt/q/quarnel-updater"); };
        a.loadText = [](int id) { return "text" + std::to_string(id); };
        return a;
    }
    std::int64_t Log(const std::string& call, std::int64_t result) {
        calls.push_back(call);
        return result;
    }
};

std::int64_t Scan(Recorder& recorder, const std::vector<std::string>& arguments) {
    return ProcessMain(arguments, recorder.Actions());
}

TEST(ProcessMain, NoArgumentsRunsTheSystray) {
    Recorder r;
    EXPECT_EQ(Scan(r, {}), 11);
    EXPECT_EQ(r.calls, std::vector<std::string>{"systray"});
}

TEST(ProcessMain, TheChosenModeDecidesHowACrashIsReported) {
    struct Case {
        std::vector<std::string> arguments;
        CrashReportKind kind;
    };
    const Case cases[] = {
        {{"/service"}, CrashReportKind::Service}, {{}, CrashReportKind::Window},
        {{"/setting"}, CrashReportKind::Window},  {{"/update"}, CrashReportKind::Window},
        {{"/quit"}, CrashReportKind::Send},       {{"/service", "/quit"}, CrashReportKind::Send},
    };
    for (const Case& c : cases) {
        SetCrashReportKind(c.kind == CrashReportKind::Send ? CrashReportKind::Service
                                                           : CrashReportKind::Send);
        Recorder r;
        Scan(r, c.arguments);
        EXPECT_EQ(GetCrashReportKind(), c.kind) << c.arguments.size();
    }
    SetCrashReportKind(CrashReportKind::Send);
}

TEST(ProcessMain, InstallRunsFourStepsInOrderAndCombinesTheirResults) {
    Recorder r;
    EXPECT_EQ(Scan(r, {"/INSTALL"}), 1);
    EXPECT_EQ(r.calls,
              (std::vector<std::string>{
                  "identity", "migrate",
                  "install Quarnel Updater|text100|/opt/q/quarnel-updater|/service|text121",
                  "start Quarnel Updater"}));

    Recorder failing;
    failing.identity = 0;  // installing as root records no identity; the rest still runs
    EXPECT_EQ(Scan(failing, {"/enable"}), 0);
    EXPECT_EQ(failing.calls.size(), 4u);
}

TEST(ProcessMain, OneShotSwitchesRunInCommandLineOrderAndTheLastResultIsTheExitCode) {
    Recorder r;
    r.stop = 1;
    r.remove = 0;
    r.broadcast = 1;
    EXPECT_EQ(Scan(r, {"/quit", "/uninstall"}), 0);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"broadcast 1", "stop Quarnel Updater",
                                                 "delete Quarnel Updater"}));

    Recorder twice;
    twice.broadcast = 1;
    EXPECT_EQ(Scan(twice, {"/quit", "/quit"}), 1);
    EXPECT_EQ(twice.calls, (std::vector<std::string>{"broadcast 1", "broadcast 1"}));

    Recorder stop;
    stop.stop = 0;
    EXPECT_EQ(Scan(stop, {"/Shutdown"}), 0);
    EXPECT_EQ(stop.calls, (std::vector<std::string>{"stop Quarnel Updater", "broadcast 1"}));
}

TEST(ProcessMain, AutostartSwitchesGiveTheStateReadBack) {
    Recorder r;
    r.autostartState = 17;
    EXPECT_EQ(Scan(r, {"/userstart"}), 17);
    EXPECT_EQ(Scan(r, {"/autostart"}), 17);
    r.autostartState = 0;
    EXPECT_EQ(Scan(r, {"/nostart"}), 0);
    EXPECT_EQ(r.calls,
              (std::vector<std::string>{"autostart Quarnel Updater|/opt/q/quarnel-updater|16",
                                        "autostart Quarnel Updater|/opt/q/quarnel-updater|1",
                                        "autostart Quarnel Updater|/opt/q/quarnel-updater|0"}));
}

TEST(ProcessMain, TheLastModeSwitchDecidesAndAOneShotAfterwardsEndsInNoMode) {
    Recorder installThenSetting;
    EXPECT_EQ(Scan(installThenSetting, {"/install", "/setting"}), 12);
    EXPECT_EQ(installThenSetting.calls.back(), "setting");

    Recorder settingThenInstall;
    EXPECT_EQ(Scan(settingThenInstall, {"/setting", "/install"}), 1);
    EXPECT_EQ(settingThenInstall.calls.back(), "start Quarnel Updater");

    Recorder modes;
    EXPECT_EQ(Scan(modes, {"/update", "/setting", "/SERVICE"}), 0);
    EXPECT_EQ(modes.calls, std::vector<std::string>{"service"});
}

// The update's root step takes the file and the version after it; its result is the exit code.
TEST(ProcessMain, InstallUpdateTakesTheTwoArgumentsAfterIt) {
    Recorder r;
    EXPECT_EQ(Scan(r, {"/installupdate", "/tmp/q/quarnel-updater.deb", "1.5.3.300"}), 1);
    EXPECT_EQ(r.calls,
              std::vector<std::string>{"installupdate /tmp/q/quarnel-updater.deb|1.5.3.300"});
    Recorder incomplete;
    EXPECT_EQ(Scan(incomplete, {"/installupdate", "/tmp/q/quarnel-updater.deb"}), 0);
    EXPECT_TRUE(incomplete.calls.empty());
}

TEST(ProcessMain, UpdateModeReadsTheBetaChoice) {
    Recorder normal;
    EXPECT_EQ(Scan(normal, {"/update"}), 14);
    EXPECT_EQ(normal.calls, std::vector<std::string>{"update"});
    Recorder beta;
    beta.beta = 1;
    Scan(beta, {"/update"});
    EXPECT_EQ(beta.calls, std::vector<std::string>{"update beta"});
}

// The program's own operations read the choice the settings stored.
TEST(ProcessMain, TheBetaChoiceComesFromTheStore) {
    const test::TemporaryFolder root;
    const test::ScopedEnvironment rootVariable("QUARNEL_ROOT", root.Path());
    const ProcessActions actions = DefaultProcessActions();
    EXPECT_EQ(actions.readSoftwareBeta(), 0);
    ASSERT_EQ(CreateRegistryKey(RegistryHive::LocalMachine, kProductKey), 1);
    ASSERT_EQ(WriteRegistryDword(RegistryHive::LocalMachine, kProductKey, kValueSoftwareBeta, 1),
              1);
    EXPECT_EQ(actions.readSoftwareBeta(), 1);
}

TEST(ProcessMain, LookAlikesAreIgnored) {
    Recorder r;
    EXPECT_EQ(Scan(r, {"/install=1", "-install", "install", "/installx", " /install", "/", "",
                       "-help", "--help=1", "/help", "-v", "--versions"}),
              11);
    EXPECT_EQ(r.calls, std::vector<std::string>{"systray"});
}

TEST(ProcessMain, SignatureChecksTheProgramItself) {
    Recorder r;
    r.signature = 0;
    EXPECT_EQ(Scan(r, {"/signature"}), 0);
    EXPECT_EQ(r.calls, std::vector<std::string>{"signature /opt/q/quarnel-updater"});
}

TEST(ProcessMain, ConfigureAndStatusAreOneShotSwitchesWithTheirOwnExitCodes) {
    Recorder r;
    r.configured = 2;
    EXPECT_EQ(Scan(r, {"/setting", "/CONFIGURE"}), 2);
    r.configured = 0;
    EXPECT_EQ(Scan(r, {"/configure", "/status"}), 0);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"configure", "configure", "status"}));

    // The form of /status is the argument right after it, taken by it; anywhere else it is an
    // argument that matches no switch.
    r.calls.clear();
    EXPECT_EQ(Scan(r, {"/status", "--JSON", "/status", "--check", "--json", "/status"}), 0);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"status --json", "status --check", "status"}));
}

// Asking what the switches do never does any of them, wherever the question stands.
TEST(ProcessMain, HelpAndVersionPrintTheirTextAndNothingElseRuns) {
    struct Case {
        std::vector<std::string> arguments;
        std::string call;
    };
    const std::vector<Case> cases = {
        {{"--help"}, "usage"},
        {{"-h"}, "usage"},
        {{"/?"}, "usage"},
        {{"--HELP"}, "usage"},
        {{"/install", "/uninstall", "-H"}, "usage"},
        {{"/service", "--help", "--version"}, "usage"},
        {{"--version"}, "version"},
        {{"/autostart", "--Version"}, "version"},
    };
    for (const Case& c : cases) {
        Recorder r;
        EXPECT_EQ(Scan(r, c.arguments), 0) << c.arguments.back();
        EXPECT_EQ(r.calls, std::vector<std::string>{c.call}) << c.arguments.back();
    }
}

}  // namespace
}  // namespace quarnel
