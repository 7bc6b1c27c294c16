#include "ui/settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>
#include <cstdint>
#include <utility>

#include "diagnostics/log.h"
#include "resources/texts.h"
#include "settings/schema.h"
#include "ui/desktop_choices.h"
#include "ui/gadget_helpers.h"
#include "ui/open_link.h"

namespace quarnel {
namespace {

QString Text(int textId) {
    return QString::fromStdString(LoadResourceText(textId));
}

QString Qs(const std::string& text) {
    return QString::fromStdString(text);
}

// A control at its place, at least its size, wider when its text needs it.
template <typename Control>
Control* Place(Control* control, int x, int y, int width, int height) {
    control->move(x, y);
    control->resize(std::max(width, control->sizeHint().width()), height);
    return control;
}

QLabel* Label(QWidget* parent, const QString& text, bool bold, int x, int y, int width,
              int height = 20) {
    auto* label = new QLabel(text, parent);
    if (bold) {
        SetGadgetFontStyle(*label, 8, true);
    } else {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, QColor(70, 70, 70));
        label->setPalette(palette);
    }
    return Place(label, x, y, width, height);
}

QComboBox* DropDown(QWidget* parent, const char* name, const std::vector<QString>& entries,
                    int selected, int x, int y) {
    auto* list = new QComboBox(parent);
    list->setObjectName(name);
    for (const QString& entry : entries) {
        list->addItem(entry);
    }
    list->setCurrentIndex(selected);
    return Place(list, x, y, 150, 20);
}

}  // namespace

SettingsWindowOperations DefaultSettingsWindowOperations() {
    SettingsWindowOperations operations;
    operations.reportFailure = [](const std::string& text) {
        QMessageBox::warning(nullptr, Text(100), Qs(text));
    };
    // The window runs as root: the browser is started as the user it runs for.
    operations.openUrl = [](const std::string& url) { OpenLinkFromWindow(nullptr, url); };
    return operations;
}

SettingsWindow::SettingsWindow(const SettingsForm& form, const SettingsWindowSetup& setup,
                               SettingsWindowOperations operations)
    : operations_(std::move(operations)), intervals_(form.intervals) {
    setWindowTitle(Text(100));
    setObjectName("settings");
    auto* ok = Place(new QPushButton(Text(111), this), 204, 240, 90, 22);
    ok->setObjectName("ok");
    SetGadgetFontStyle(*ok, 8, true);
    auto* cancel = Place(new QPushButton(Text(112), this), 302, 240, 90, 22);
    cancel->setObjectName("cancel");
    connect(ok, &QPushButton::clicked, this, &SettingsWindow::accept);
    connect(cancel, &QPushButton::clicked, this, &SettingsWindow::reject);

    tabs_ = new QTabWidget(this);
    tabs_->setGeometry(7, 7, 386, 226);
    tabs_->addTab(GeneralTab(form, setup.status), Text(122));
    tabs_->addTab(NetworkTab(local_, "local", 159, 160, setup.currentNetwork, form.localFilter,
                             form.localNetworks),
                  Text(158));
    if (setup.wirelessTab) {
        tabs_->addTab(NetworkTab(wireless_, "wireless", 129, 132, setup.currentWireless,
                                 form.wirelessFilter, form.wirelessNetworks),
                      Text(123));
    }
    tabs_->addTab(AboutTab(form.beta), Text(124));

    // German texts and larger fonts may need more room than the original 400 by 270: the tab
    // panel widens to its tab names and to the widest control, and the buttons stay on the
    // right.
    int tabWidth = std::max(386, tabs_->tabBar()->sizeHint().width() + 12);
    for (int tab = 0; tab < tabs_->count(); ++tab) {
        for (const QWidget* control : tabs_->widget(tab)->findChildren<QWidget*>()) {
            tabWidth = std::max(tabWidth, control->geometry().right() + 8);
        }
    }
    tabs_->resize(tabWidth, 226);
    resize(tabWidth + 14, 270);
    cancel->move(width() - 8 - cancel->width(), 240);
    ok->move(cancel->x() - 8 - ok->width(), 240);
    FixWindowFrame(*this);
}

QWidget* SettingsWindow::GeneralTab(const SettingsForm& form, const ServiceResult& status) {
    auto* page = new QWidget;
    Label(page, Text(102), true, 10, 10, 150);
    userName_ = Place(new QLineEdit(Qs(form.userName), page), 10, 25, 150, 20);
    userName_->setObjectName("username");
    Label(page, Text(103), true, 10, 55, 150);
    password_ = Place(new QLineEdit(Qs(form.password), page), 10, 70, 150, 20);
    password_->setEchoMode(QLineEdit::Password);
    password_->setObjectName("password");
    Label(page, Text(104), false, 10, 100, 150);
    hostName_ = Place(new QLineEdit(Qs(form.hostName), page), 10, 115, 150, 20);
    hostName_->setObjectName("hostname");

    // A drop-down list is placed once it holds its entries, so that it widens to the longest.
    std::vector<QString> intervals;
    for (const std::int64_t minutes : form.intervals) {
        intervals.push_back(Qs(GetLocalizedText(117, std::to_string(minutes))));
    }
    std::vector<QString> providers;
    for (const int textId : kProviderTextIds) {
        providers.push_back(Text(textId));
    }
    std::vector<QString> autostarts;
    for (const int textId : kAutostartTextIds) {
        autostarts.push_back(Text(textId));
    }
    Label(page, Text(108), false, 180, 10, 150);
    interval_ = DropDown(page, "interval", intervals, form.intervalIndex, 180, 25);
    Label(page, Text(109), false, 180, 55, 150);
    provider_ = DropDown(page, "provider", providers, form.providerIndex, 180, 70);
    Label(page, Text(110), false, 180, 100, 150);
    autostart_ = DropDown(page, "autostart", autostarts, form.autostartIndex, 180, 115);

    // In the free row between the fields and the status lines, so no other control moves.
    ipv6_ = Place(new QCheckBox(page), 10, 142, 165, 20);
    ipv6_->setObjectName("ipv6");
    ipv6_->setChecked(form.ipv6);
    const auto offerIPv6 = [this](int provider) {
        const int textId = IPv6ChoiceTextId(provider);
        ipv6_->setText(Text(textId));
        ipv6_->setEnabled(textId == 166);
        ipv6_->resize(std::max(165, ipv6_->sizeHint().width()), 20);
    };
    offerIPv6(form.providerIndex);
    connect(provider_, &QComboBox::currentIndexChanged, this, offerIPv6);

    // The status lines show what the service recorded, a provider's answer among it.
    lastUpdate_ = Label(page, {}, false, 180, 165, 200, 15);
    lastUpdate_->setObjectName("lastUpdate");
    lastUpdate_->setTextFormat(Qt::PlainText);
    lastResult_ = Label(page, {}, false, 180, 180, 200, 15);
    lastResult_->setObjectName("lastResult");
    lastResult_->setTextFormat(Qt::PlainText);
    ShowStatus(status);
    return page;
}

QWidget* SettingsWindow::NetworkTab(NetworkControls& controls, const char* name, int labelText,
                                    int filterText, const std::string& current, bool filter,
                                    const std::vector<std::string>& entries) {
    auto* page = new QWidget;
    page->setObjectName(name);
    Label(page, Text(labelText), false, 10, 10, 150);
    auto* field = Place(new QLineEdit(Qs(current), page), 10, 25, 150, 20);
    auto* insert = Place(new QPushButton(Text(130), page), 165, 24, 60, 22);
    auto* remove = Place(new QPushButton(Text(131), page), 230, 24, 60, 22);
    remove->move(std::max(230, insert->x() + insert->width() + 5), 24);
    auto* list = new QListWidget(page);
    list->setGeometry(10, 55, 280, 110);
    for (const std::string& entry : entries) {
        list->addItem(Qs(entry));
    }
    auto* box = Place(new QCheckBox(Text(filterText), page), 10, 170, 220, 20);
    field->setObjectName("field");
    insert->setObjectName("insert");
    remove->setObjectName("remove");
    list->setObjectName("list");
    box->setObjectName("filter");
    box->setChecked(filter);
    field->setEnabled(filter);
    list->setEnabled(filter);
    insert->setEnabled(false);
    remove->setEnabled(false);

    const auto refresh = [field, list, insert, remove, box](NetworkTabEvent event) {
        const NetworkTabEnabling enabling = EnablingOfNetworkTab(
            event, box->isChecked(), !field->text().isEmpty(), !list->selectedItems().isEmpty());
        field->setEnabled(enabling.field);
        list->setEnabled(enabling.list);
        insert->setEnabled(enabling.insert);
        remove->setEnabled(enabling.remove);
    };
    const auto contentChanged = [refresh] { refresh(NetworkTabEvent::ContentChanged); };
    connect(field, &QLineEdit::textChanged, page, contentChanged);
    connect(list, &QListWidget::itemSelectionChanged, page, contentChanged);
    connect(box, &QCheckBox::toggled, page, [field, list, refresh](bool checked) {
        if (!checked) {
            field->clear();
            list->clearSelection();
        }
        refresh(NetworkTabEvent::FilterChanged);
    });
    connect(insert, &QPushButton::clicked, page, [field, list, insert] {
        if (!field->text().isEmpty()) {
            list->addItem(Qs(CutNetworkEntry(field->text().toStdString())));
            field->clear();
            insert->setEnabled(false);
        }
    });
    connect(remove, &QPushButton::clicked, page, [list, remove] {
        const QList<QListWidgetItem*> selected = list->selectedItems();
        if (!selected.isEmpty()) {
            delete selected.front();
            list->clearSelection();
            remove->setEnabled(false);
        }
    });
    controls = {field, list, box};
    return page;
}

QWidget* SettingsWindow::AboutTab(bool beta) {
    auto* page = new QWidget;
    // The links are part of the about text: the makers' name and the icon site.
    QString about;
    for (const AboutPiece& piece : AboutTextPieces()) {
        const QString text = Qs(piece.text).toHtmlEscaped();
        about += piece.url.empty() ? text
                                   : QStringLiteral("<a style=\"color:#0000ff\" href=\"%1\">%2</a>")
                                         .arg(Qs(piece.url).toHtmlEscaped(), text);
    }
    about.replace('\n', QStringLiteral("<br>"));
    auto* text = new QLabel(about, page);
    text->setObjectName("about");
    text->setWordWrap(true);
    text->setTextFormat(Qt::RichText);
    text->setGeometry(10, 10, 360, 100);
    // Longer (German) texts take the room down to the beta check box.
    text->resize(360, std::clamp(text->heightForWidth(360), 100, 155));
    connect(text, &QLabel::linkActivated, page,
            [this](const QString& url) { operations_.openUrl(url.toStdString()); });
    beta_ = Place(new QCheckBox(Text(161), page), 10, 170, 170, 20);
    beta_->setObjectName("beta");
    beta_->setChecked(beta);
    Label(page, Qs(BuildLine()), false, std::max(180, beta_->x() + beta_->width() + 4), 174, 180,
          15)
        ->setObjectName("build");
    return page;
}

void SettingsWindow::ShowStatus(const ServiceResult& status) {
    lastUpdate_->setText(Qs(LastUpdateLine(status.time)));
    lastResult_->setText(Qs(LastResultLine(status.time, status.result)));
    lastUpdate_->resize(std::max(200, lastUpdate_->sizeHint().width()), 15);
    lastResult_->resize(std::max(200, lastResult_->sizeHint().width()), 15);
}

SettingsForm SettingsWindow::Form() const {
    SettingsForm form;
    form.userName = userName_->text().toStdString();
    form.password = password_->text().toStdString();
    form.hostName = hostName_->text().toStdString();
    form.intervals = intervals_;
    form.intervalIndex = interval_->currentIndex();
    form.providerIndex = provider_->currentIndex();
    form.autostartIndex = autostart_->currentIndex();
    const auto entries = [](const QListWidget* list) {
        std::vector<std::string> texts;
        for (int i = 0; list != nullptr && i < list->count(); ++i) {
            texts.push_back(list->item(i)->text().toStdString());
        }
        return texts;
    };
    form.localFilter = local_.filter->isChecked();
    form.localNetworks = entries(local_.list);
    form.wirelessFilter = wireless_.filter != nullptr && wireless_.filter->isChecked();
    form.wirelessNetworks = entries(wireless_.list);
    form.ipv6 = ipv6_->isChecked();
    form.beta = beta_->isChecked();
    return form;
}

void SettingsWindow::PostStatus(const ServiceResult& status) {
    const auto show = [this, status] { ShowStatus(status); };
    QMetaObject::invokeMethod(this, show, Qt::QueuedConnection);
}

void SettingsWindow::PostClose() {
    const auto close = [this] { reject(); };
    QMetaObject::invokeMethod(this, close, Qt::QueuedConnection);
}

void SettingsWindow::InstanceMessage(std::int32_t code) {
    switch (SettingsInstanceAction(code)) {
        case WindowAction::Close:
            reject();
            break;
        case WindowAction::Show:
            BringToFront(*this);
            break;
        default:
            break;
    }
}

void SettingsWindow::accept() {
    const std::vector<std::string> failed =
        operations_.store ? operations_.store(ValuesOfForm(Form(), HasWirelessTab()))
                          : std::vector<std::string>{};
    if (!failed.empty()) {
        std::string names;
        for (const std::string& name : failed) {
            names += (names.empty() ? "" : ", ") + name;
        }
        QLOG(kLogError, "ApplySettings", "Not stored: " + names);
        if (operations_.reportFailure) {
            operations_.reportFailure(NotStoredMessage(failed));
        }
    }
    QDialog::accept();
}

}  // namespace quarnel
