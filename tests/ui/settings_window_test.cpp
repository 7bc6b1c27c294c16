#include "ui/settings_window.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/accounts.h"
#include "platform/paths.h"
#include "resources/texts.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/support/test_support.h"
#include "tests/ui/qt_application.h"
#include "ui/diagnose_window.h"
#include "ui/setting_watch.h"
#include "ui/update_window.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;

std::int64_t Dword(std::string_view name) {
    return ReadRegistryDword(kHive, kSettingsKey, name);
}

// A settings store on a temporary root, the window on it, and the service control and autostart
// calls recorded.
class SettingsWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        test::EnsureQtApplication();
        // The old root's variable is restored before the new one is set.
        window_.reset();
        environment_.reset();
        root_ = std::make_unique<test::TemporaryFolder>();
        environment_ = std::make_unique<test::ScopedEnvironment>("QUARNEL_ROOT", root_->Path());
        ASSERT_EQ(CreateRegistryKey(kHive, kSettingsKey), 1);
        apply_.serviceExists = [] { return std::int64_t{1}; };
        apply_.controlService = [this](std::uint32_t code) {
            controlCodes_.push_back(code);
            return std::int64_t{1};
        };
        apply_.setAutostart = [this](int mode) {
            autostart_ = mode;
            return std::int64_t{mode};
        };
    }

    SettingsWindow& Open(bool wirelessTab = true, std::int64_t autostartState = 0) {
        SettingsWindowOperations operations;
        operations.store = [this](const SettingsValues& values) {
            return StoreSettings(values, apply_);
        };
        operations.reportFailure = [this](const std::string& text) { reported_ = text; };
        operations.openUrl = [this](const std::string& url) { opened_ = url; };
        SettingsWindowSetup setup;
        setup.wirelessTab = wirelessTab;
        setup.currentNetwork = "aa:bb:cc:dd:ee:ff";
        setup.currentWireless = "cafe";
        window_ =
            std::make_unique<SettingsWindow>(ReadSettingsForm(autostartState), setup, operations);
        return *window_;
    }

    template <typename Control>
    Control& Find(const char* name, const char* page = nullptr) {
        QWidget* scope = window_.get();
        if (page != nullptr) {
            scope = window_->findChild<QWidget*>(page);
        }
        auto* control = scope != nullptr ? scope->findChild<Control*>(name) : nullptr;
        EXPECT_NE(control, nullptr) << name;
        return *control;
    }

    std::unique_ptr<test::TemporaryFolder> root_;
    std::unique_ptr<test::ScopedEnvironment> environment_;
    ApplyOperations apply_;
    std::vector<std::uint32_t> controlCodes_;
    int autostart_ = -1;
    std::string reported_;
    std::string opened_;
    std::unique_ptr<SettingsWindow> window_;
};

TEST_F(SettingsWindowTest, TabsAndGeneralControlsInOrderWithTheirTexts) {
    for (const bool wireless : {true, false}) {
        SettingsWindow& window = Open(wireless);
        std::vector<int> tabTexts = {122, 158, 123, 124};
        if (!wireless) {
            tabTexts.erase(tabTexts.begin() + 2);
        }
        ASSERT_EQ(window.Tabs().count(), static_cast<int>(tabTexts.size()));
        for (std::size_t i = 0; i < tabTexts.size(); ++i) {
            EXPECT_EQ(window.Tabs().tabText(static_cast<int>(i)).toStdString(),
                      LoadResourceText(tabTexts[i]));
        }
        EXPECT_GE(window.width(), 400);  // wider only when the texts need it
        EXPECT_EQ(window.height(), 270);
    }
    const auto& interval = Find<QComboBox>("interval");
    ASSERT_EQ(interval.count(), 6);
    EXPECT_EQ(interval.itemText(5).toStdString(), "120 minutes");
    const auto& provider = Find<QComboBox>("provider");
    ASSERT_EQ(provider.count(), 6);
    EXPECT_EQ(provider.itemText(3).toStdString(), LoadResourceText(162));
    EXPECT_EQ(Find<QComboBox>("autostart").itemText(2).toStdString(), LoadResourceText(120));
    // A drop-down list is as wide as its longest entry needs.
    for (const char* name : {"interval", "provider", "autostart"}) {
        EXPECT_GE(Find<QComboBox>(name).width(), Find<QComboBox>(name).sizeHint().width()) << name;
    }
    // The links the program ships are https.
    const QString about = Find<QLabel>("about").text();
    EXPECT_TRUE(about.contains("href=\"https://")) << about.toStdString();
    EXPECT_FALSE(about.contains("href=\"http://")) << about.toStdString();
    // The IPv6 choice sits in a row of its own, clear of every other control of its tab; for a
    // provider that takes IPv4 only it says so and cannot be changed.
    auto& ipv6 = Find<QCheckBox>("ipv6");
    EXPECT_EQ(ipv6.pos(), QPoint(10, 142));
    for (const QWidget* other : ipv6.parentWidget()->findChildren<QWidget*>()) {
        EXPECT_TRUE(other == &ipv6 || other->parentWidget() != ipv6.parentWidget() ||
                    !other->geometry().intersects(ipv6.geometry()))
            << other->objectName().toStdString();
    }
    EXPECT_TRUE(ipv6.isEnabled());
    EXPECT_EQ(ipv6.text().toStdString(), LoadResourceText(166));
    Find<QComboBox>("provider").setCurrentIndex(1);
    EXPECT_FALSE(ipv6.isEnabled());
    EXPECT_EQ(ipv6.text().toStdString(), LoadResourceText(167));
    Find<QComboBox>("provider").setCurrentIndex(4);
    EXPECT_TRUE(ipv6.isEnabled());
    EXPECT_EQ(Find<QLabel>("lastUpdate").text().toStdString(), "Last Update: Never");
    EXPECT_EQ(Find<QLabel>("lastResult").text().toStdString(), "Last Result: Nothing");
    EXPECT_EQ(Find<QLineEdit>("password").echoMode(), QLineEdit::Password);
    EXPECT_EQ(Find<QLineEdit>("field", "local").text().toStdString(), "aa:bb:cc:dd:ee:ff");
    EXPECT_EQ(Find<QLabel>("build").text().left(20).toStdString(), "Build 294 2013-04-19");
}

TEST_F(SettingsWindowTest, StoredValuesComeBackByteForByteAndTheServiceIsTold) {
    ASSERT_EQ(WriteRegistryString(kHive, kSettingsKey, kValueUsername, "anna"), 1);
    ASSERT_EQ(WriteProtectedPassword(kHive, kSettingsKey, kValuePassword, "s3cr\xC3\xA9t",
                                     GetHardwareProfileId()),
              1);
    ASSERT_EQ(WriteRegistryString(kHive, kSettingsKey, kValueHostname, "home.example.org"), 1);
    ASSERT_EQ(WriteRegistryDword(kHive, kSettingsKey, kValueInterval, 30), 1);
    ASSERT_EQ(WriteRegistryDword(kHive, kSettingsKey, kValueService, 5), 1);
    ASSERT_EQ(WriteRegistryDword(kHive, kSettingsKey, kValueLocalFilter, 1), 1);
    ASSERT_EQ(WriteRegistryMultiString(kHive, kSettingsKey, kValueLocalNetworks, "one\ntwo\n"), 1);
    ASSERT_EQ(WriteRegistryDword(kHive, kSettingsKey, kValueWirelessFilter, 1), 1);
    ASSERT_EQ(WriteRegistryMultiString(kHive, kSettingsKey, kValueWirelessNetworks, "cafe\n"), 1);
    ASSERT_EQ(WriteRegistryDword(kHive, kProductKey, kValueSoftwareBeta, 1), 1);
    ASSERT_EQ(WriteRegistryDword(kHive, kSettingsKey, kValueIPv6, 1), 1);
    const std::string before[] = {
        ReadRegistryString(kHive, kSettingsKey, kValueUsername),
        ReadProtectedPassword(kHive, kSettingsKey, kValuePassword, GetHardwareProfileId()),
        ReadRegistryString(kHive, kSettingsKey, kValueHostname),
        ReadRegistryMultiString(kHive, kSettingsKey, kValueLocalNetworks),
        ReadRegistryMultiString(kHive, kSettingsKey, kValueWirelessNetworks)};

    Open(true, kAutostartThisUser).accept();

    const std::string after[] = {
        ReadRegistryString(kHive, kSettingsKey, kValueUsername),
        ReadProtectedPassword(kHive, kSettingsKey, kValuePassword, GetHardwareProfileId()),
        ReadRegistryString(kHive, kSettingsKey, kValueHostname),
        ReadRegistryMultiString(kHive, kSettingsKey, kValueLocalNetworks),
        ReadRegistryMultiString(kHive, kSettingsKey, kValueWirelessNetworks)};
    for (std::size_t i = 0; i < std::size(before); ++i) {
        EXPECT_EQ(after[i], before[i]) << i;
    }
    EXPECT_EQ(Dword(kValueInterval), 30);
    EXPECT_EQ(Dword(kValueService), 5);
    EXPECT_EQ(Dword(kValueLocalFilter), 1);
    EXPECT_EQ(Dword(kValueWirelessFilter), 1);
    EXPECT_EQ(Dword(kValueIPv6), 1);
    EXPECT_EQ(ReadRegistryDword(kHive, kProductKey, kValueSoftwareBeta), 1);
    EXPECT_EQ(ReadRegistryDword(kHive, kProductKey, kValueSoftwareBuild), CurrentBuild);
    EXPECT_GT(Dword(kValueTime), 0);
    EXPECT_EQ(autostart_, kAutostartThisUser);
    EXPECT_EQ(controlCodes_, std::vector<std::uint32_t>{ControlCodeSettingsChanged});
    EXPECT_EQ(reported_, "");
}

TEST_F(SettingsWindowTest, CancelAndCloseWriteNothing) {
    for (const bool cancel : {true, false}) {
        SettingsWindow& window = Open();
        Find<QLineEdit>("username").setText("changed");
        if (cancel) {
            Find<QPushButton>("cancel").click();
        } else {
            window.InstanceMessage(1);
        }
        EXPECT_EQ(ReadRegistryString(kHive, kSettingsKey, kValueUsername), "");
        EXPECT_EQ(Dword(kValueTime), 0);
        EXPECT_TRUE(controlCodes_.empty());
    }
}

TEST_F(SettingsWindowTest, OkReportsTheFieldWhoseValueWasNotStored) {
    // A folder where the interval's value belongs cannot be replaced by the value.
    const std::string blocked =
        MachineRegistryFolder() +
        "/HKEY_LOCAL_MACHINE/SOFTWARE/Quarnel Updater/Settings/Interval.value/x";
    std::filesystem::create_directories(blocked);
    Open();
    Find<QLineEdit>("username").setText("anna");
    Find<QLineEdit>("hostname").setText("home.example.org");
    Find<QPushButton>("ok").click();
    EXPECT_EQ(reported_, "These settings could not be stored: IP Check Interval");
    EXPECT_EQ(ReadRegistryString(kHive, kSettingsKey, kValueUsername), "anna");
}

// The edge cases of stored values and of the window's controls: what is stored, an action on
// the window, and the stored values after OK.
struct EdgeCase {
    const char* name;
    std::function<void()> store;
    std::function<void(SettingsWindowTest&)> act;
    std::function<void(SettingsWindowTest&)> expect;
};

class SettingsEdgeTest : public SettingsWindowTest {
  public:
    using SettingsWindowTest::Find;
};

TEST_F(SettingsEdgeTest, BadStoredValuesAndListRules) {
    const auto nothing = [](SettingsWindowTest&) {};
    const auto interval = [](SettingsWindowTest& t) -> QComboBox& {
        return static_cast<SettingsEdgeTest&>(t).Find<QComboBox>("interval");
    };
    const EdgeCase cases[] = {
        {"interval 45 is a seventh entry",
         [] { WriteRegistryDword(kHive, kSettingsKey, kValueInterval, 45); },
         [&](SettingsWindowTest& t) {
             EXPECT_EQ(interval(t).currentText().toStdString(), "45 minutes");
             EXPECT_EQ(interval(t).count(), 7);
         },
         [](SettingsWindowTest&) { EXPECT_EQ(Dword(kValueInterval), 45); }},
        {"interval -15 selects 15",
         [] { WriteRegistryDword(kHive, kSettingsKey, kValueInterval, -15); },
         [&](SettingsWindowTest& t) { EXPECT_EQ(interval(t).currentIndex(), 2); },
         [](SettingsWindowTest&) { EXPECT_EQ(Dword(kValueInterval), 15); }},
        {"no usable interval selects the five minutes the service then uses",
         [] { WriteRegistryString(kHive, kSettingsKey, kValueInterval, "30"); },
         [&](SettingsWindowTest& t) {
             EXPECT_EQ(interval(t).currentText().toStdString(), "5 minutes");
         },
         [](SettingsWindowTest&) { EXPECT_EQ(Dword(kValueInterval), 5); }},
        {"service 7 selects no provider",
         [] { WriteRegistryDword(kHive, kSettingsKey, kValueService, 7); },
         [](SettingsWindowTest& t) {
             EXPECT_EQ(static_cast<SettingsEdgeTest&>(t).Find<QComboBox>("provider").currentIndex(),
                       -1);
         },
         [](SettingsWindowTest&) { EXPECT_EQ(Dword(kValueService) & 0xFFFFFFFF, 0xFFFFFFFF); }},
        {"a 40-character SSID is cut to 32", [] {},
         [](SettingsWindowTest& t) {
             auto& self = static_cast<SettingsEdgeTest&>(t);
             self.Find<QCheckBox>("filter", "wireless").setChecked(true);
             self.Find<QLineEdit>("field", "wireless").setText(QString(40, 'w'));
             self.Find<QPushButton>("insert", "wireless").click();
             EXPECT_TRUE(self.Find<QLineEdit>("field", "wireless").text().isEmpty());
             EXPECT_EQ(self.Find<QListWidget>("list", "wireless").count(), 1);
         },
         [](SettingsWindowTest&) {
             EXPECT_EQ(ReadRegistryMultiString(kHive, kSettingsKey, kValueWirelessNetworks),
                       std::string(32, 'w') + "\n\n");
         }},
        {"an unticked filter keeps its entries",
         [] {
             WriteRegistryDword(kHive, kSettingsKey, kValueLocalFilter, 1);
             WriteRegistryMultiString(kHive, kSettingsKey, kValueLocalNetworks, "a\nb\n");
         },
         [](SettingsWindowTest& t) {
             auto& self = static_cast<SettingsEdgeTest&>(t);
             self.Find<QCheckBox>("filter", "local").setChecked(false);
             EXPECT_TRUE(self.Find<QLineEdit>("field", "local").text().isEmpty());
             EXPECT_FALSE(self.Find<QListWidget>("list", "local").isEnabled());
         },
         [](SettingsWindowTest&) {
             EXPECT_EQ(Dword(kValueLocalFilter), 0);
             EXPECT_EQ(ReadRegistryMultiString(kHive, kSettingsKey, kValueLocalNetworks),
                       "a\nb\n\n");
         }},
        {"an emptied list and host name keep the stored values",
         [] {
             WriteRegistryDword(kHive, kSettingsKey, kValueLocalFilter, 1);
             WriteRegistryMultiString(kHive, kSettingsKey, kValueLocalNetworks, "a\n");
             WriteRegistryString(kHive, kSettingsKey, kValueHostname, "h.example.org");
         },
         [](SettingsWindowTest& t) {
             auto& self = static_cast<SettingsEdgeTest&>(t);
             self.Find<QLineEdit>("hostname").clear();
             auto& list = self.Find<QListWidget>("list", "local");
             list.setCurrentRow(0);
             self.Find<QPushButton>("remove", "local").click();
             EXPECT_EQ(list.count(), 0);
         },
         [](SettingsWindowTest&) {
             EXPECT_EQ(ReadRegistryString(kHive, kSettingsKey, kValueHostname), "h.example.org");
             EXPECT_EQ(ReadRegistryMultiString(kHive, kSettingsKey, kValueLocalNetworks), "a\n\n");
         }},
        {"no wireless tab stores its filter off",
         [] { WriteRegistryDword(kHive, kSettingsKey, kValueWirelessFilter, 1); }, nothing,
         [](SettingsWindowTest&) { EXPECT_EQ(Dword(kValueWirelessFilter), 0); }},
    };
    for (const EdgeCase& edge : cases) {
        SCOPED_TRACE(edge.name);
        SetUp();
        edge.store();
        Open(std::string_view(edge.name).find("no wireless") == std::string_view::npos);
        edge.act(*this);
        Find<QPushButton>("ok").click();
        edge.expect(*this);
        EXPECT_EQ(reported_, "");
    }
}

TEST(SettingsFormTest, StatusLines) {
    EXPECT_EQ(LastUpdateLine(0), "Last Update: Never");
    EXPECT_EQ(LastResultLine(0, "good"), "Last Result: Nothing");
    EXPECT_EQ(LastResultLine(1'700'000'000, "good 1.2.3.4"), "Last Result: good 1.2.3.4");
    // Two-digit year and the rest of the stamp, whatever the time zone.
    EXPECT_EQ(LastUpdateLine(1'700'000'000).size(),
              std::string("Last Update: 23-11-14 22:13:20").size());
    EXPECT_EQ(CutNetworkEntry(std::string(31, 'a') + "\xC3\xA9\xC3\xA9"),
              std::string(31, 'a') + "\xC3\xA9");
}

// Insert and Remove follow what the user changed, never the box alone: the field then holds the
// current network, which a tick must not offer as typed.
TEST(SettingsFormTest, NetworkTabEnabling) {
    struct Case {
        NetworkTabEvent event;
        bool filter, text, selected;
        NetworkTabEnabling expected;
    };
    const Case cases[] = {
        {NetworkTabEvent::Start, true, true, true, {true, true, false, false}},
        {NetworkTabEvent::FilterChanged, true, true, true, {true, true, false, false}},
        {NetworkTabEvent::ContentChanged, true, true, true, {true, true, true, true}},
        {NetworkTabEvent::ContentChanged, true, false, false, {true, true, false, false}},
        {NetworkTabEvent::ContentChanged, false, true, true, {false, false, false, false}},
    };
    for (const Case& c : cases) {
        const NetworkTabEnabling got = EnablingOfNetworkTab(c.event, c.filter, c.text, c.selected);
        EXPECT_EQ(
            (std::array{got.field, got.list, got.insert, got.remove}),
            (std::array{c.expected.field, c.expected.list, c.expected.insert, c.expected.remove}))
            << static_cast<int>(c.event) << c.filter << c.text << c.selected;
    }
}

// The watch closes the window when the process that opened it ends.
TEST(SettingWatchTest, ParentGoneEndsTheWatch) {
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char byte = 0;
        ::close(gate[1]);
        (void)::read(gate[0], &byte, 1);
        ::_exit(0);
    }
    ::close(gate[0]);
    WaitHandle stop = CreateManualEventHandle();
    ASSERT_TRUE(stop);
    std::atomic<int> gone = 0;
    std::thread watch([&] {
        ThreadSettingMain(*stop, static_cast<std::uint32_t>(child),
                          {[](const ServiceResult&) {}, [&gone] { ++gone; }});
    });
    ::close(gate[1]);  // the child ends
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    watch.join();  // ends by itself only when the end of the child was noticed
    EXPECT_EQ(gone, 1);
}

// New service results reach the status lines while the window is open.
TEST_F(SettingsWindowTest, StatusLinesFollowTheService) {
    ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);
    SettingsWindow& window = Open();
    WaitHandle stop = CreateManualEventHandle();
    ASSERT_TRUE(stop);
    std::thread watch([&] {
        ThreadSettingMain(
            *stop, static_cast<std::uint32_t>(::getpid()),
            {[&window](const ServiceResult& result) { window.PostStatus(result); }, [] {}});
    });
    // The watch may not have begun yet: write until the line changes, a bounded number of times.
    auto& result = Find<QLabel>("lastResult");
    for (int i = 0; i < 50 && result.text().toStdString() != "Last Result: good 203.0.113.7"; ++i) {
        WriteRegistryString(kHive, kServiceKey, kValueResult, "good 203.0.113.7");
        WriteRegistryDword(kHive, kServiceKey, kValueTime, 1'700'000'000 + i);
        test::ProcessEventsUntil(
            [&] { return result.text().toStdString() == "Last Result: good 203.0.113.7"; }, 200);
    }
    EXPECT_EQ(result.text().toStdString(), "Last Result: good 203.0.113.7");
    EXPECT_NE(Find<QLabel>("lastUpdate").text().toStdString(), "Last Update: Never");
    SetEventHandle(stop);
    watch.join();
}

// Text from the store, a provider, an echo page or the maker's page is shown as plain text in
// every label: the settings' last result, the diagnose window's addresses, the update window's
// status line.
TEST_F(SettingsWindowTest, OutsideTextIsNeverShownAsRichText) {
    const std::string texts[] = {
        "<b><font color=\"red\">ACCOUNT LOCKED - visit evil.example</font></b>", "<h1>x</h1>"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        SettingsWindowSetup setup;
        setup.status.time = 1'700'000'000;
        setup.status.result = text;
        const SettingsWindow settings(SettingsForm{}, setup, SettingsWindowOperations{});
        DiagnoseWindow diagnose(
            {[text] { return text; }, [] { return std::string(); }, [] { return std::string(); }});
        UpdateWindowOperations operations;
        operations.check = [text](bool) { return UpdateOffer{text, true, ""}; };
        operations.trayAvailable = [] { return false; };
        UpdateWindow update(false, operations);
        update.Start();
        ASSERT_TRUE(test::ProcessEventsUntil(
            [&] { return diagnose.Answered() == 3 && update.isVisible(); }));
        const std::pair<const QLabel*, std::string> labels[] = {
            {settings.findChild<QLabel*>("lastResult"), "Last Result: " + text},
            {&diagnose.Label(2), CleanDisplayText(text, 64)},
            {update.findChild<QLabel*>("status"), GetLocalizedText(35206, text)}};
        for (const auto& [label, shown] : labels) {
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_EQ(label->text().toStdString(), shown);
        }
        update.close();
    }
}

}  // namespace
}  // namespace quarnel
