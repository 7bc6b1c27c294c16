// Links of the windows open in a browser of the desktop's user, never of root: a stand-in opener
// records who ran it.

#include "ui/link_opening.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <fstream>
#include <optional>
#include <string>

#include "platform/process_as_user.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/ui/qt_application.h"
#include "ui/open_link.h"

namespace quarnel {
namespace {

constexpr const char* kUrl = "https://quarnel-updater.example/changelog.html";

struct LinkCase {
    const char* name;
    std::optional<std::string> pkexecUser;  // PKEXEC_UID of the window's process
    int openerStatus;                       // how the opener ends
    LinkOutcome outcome;
    const char* ranAs;  // what the opener wrote ("uid gid HOME url"), or null: it never ran
};

TEST(LinkOpening, TheBrowserRunsAsTheDesktopUserNeverAsRoot) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: the window of root drops to its user";
    }
    const std::string nobody = std::to_string(test::kNobodyUser);
    const std::string ranAsNobody = nobody + " " + nobody + " /nonexistent " + kUrl;
    const LinkCase cases[] = {
        {"RootForAUserOpensAsThatUser", nobody, 0, LinkOutcome::Opened, ranAsNobody.c_str()},
        {"NoBrowserIsTold", nobody, 3, LinkOutcome::NotOpened, ranAsNobody.c_str()},
        {"RootOnItsOwnStartsNothing", std::nullopt, 0, LinkOutcome::NoDesktopUser, nullptr},
        {"RootForRootStartsNothing", "0", 0, LinkOutcome::NoDesktopUser, nullptr},
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TemporaryFolder folder;
        ASSERT_EQ(::chmod(folder.Path().c_str(), 0755), 0);
        const std::string out = folder.Path() + "/out";
        ASSERT_EQ(::mkdir(out.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(out.c_str(), 0777), 0);
        const std::string opener = folder.Path() + "/opener";
        std::ofstream(opener) << "#!/bin/sh\necho \"$(id -u) $(id -g) $HOME $1\" > " << out
                              << "/ran\nexit " << c.openerStatus << "\n";
        ASSERT_EQ(::chmod(opener.c_str(), 0755), 0);
        const test::ScopedEnvironment sudo("SUDO_UID", std::nullopt);
        const test::ScopedEnvironment pkexec("PKEXEC_UID", c.pkexecUser);

        EXPECT_EQ(OpenLink(kUrl, opener), c.outcome);
        const std::string ran = test::ReadFileText(out + "/ran");
        EXPECT_EQ(ran, c.ranAs == nullptr ? "" : std::string(c.ranAs) + "\n");
    }
    // Nothing is ever started as root, whoever asks.
    EXPECT_FALSE(StartProgramAsUser({"/bin/true"}, DesktopUser{}).handle);
}

// Where no browser may be started, the window gives the address to copy.
TEST(LinkOpening, WithoutADesktopUserTheAddressIsShown) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: only root has no user to start a browser as";
    }
    test::EnsureQtApplication();
    const test::ScopedEnvironment sudo("SUDO_UID", std::nullopt);
    const test::ScopedEnvironment pkexec("PKEXEC_UID", std::nullopt);
    OpenLinkFromWindow(nullptr, kUrl, "/bin/true");
    QMessageBox* box = nullptr;
    ASSERT_TRUE(test::ProcessEventsUntil([&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == "failure" && widget->isVisible()) {
                box = qobject_cast<QMessageBox*>(widget);
            }
        }
        return box != nullptr;
    }));
    EXPECT_TRUE(box->text().contains(kUrl)) << box->text().toStdString();
    EXPECT_TRUE(box->textInteractionFlags() & Qt::TextSelectableByMouse);
    box->close();
}

}  // namespace
}  // namespace quarnel
