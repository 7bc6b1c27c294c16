#pragma once

// The settings window: a thin Qt mirror of a SettingsForm (ui/settings_form.h). It only shows the
// form, follows the enabling rules of its controls and hands the form to its operations; the
// rules themselves live in the Qt-free form code.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/result_notice.h"
#include "ui/settings_form.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QTabWidget;

namespace quarnel {

struct SettingsWindowOperations {
    // Stores the values (OK); the names of the values that could not be stored.
    std::function<std::vector<std::string>(const SettingsValues&)> store;
    // Tells the user which values were not stored.
    std::function<void(const std::string& text)> reportFailure;
    std::function<void(const std::string& url)> openUrl;
};

SettingsWindowOperations DefaultSettingsWindowOperations();

class SettingsWindow : public QDialog {
  public:
    SettingsWindow(const SettingsForm& form, const SettingsWindowSetup& setup,
                   SettingsWindowOperations operations);

    // The controls' current state.
    SettingsForm Form() const;
    bool HasWirelessTab() const { return wireless_.list != nullptr; }
    QTabWidget& Tabs() { return *tabs_; }

    // From any thread: new status lines, and a close without applying.
    void PostStatus(const ServiceResult& status);
    void PostClose();
    // The instance message: 1 closes without applying, 2 brings the window to the front.
    void InstanceMessage(std::int32_t code);

    void accept() override;

  private:
    // The six controls of a network tab.
    struct NetworkControls {
        QLineEdit* field = nullptr;
        QListWidget* list = nullptr;
        QCheckBox* filter = nullptr;
    };

    QWidget* GeneralTab(const SettingsForm& form, const ServiceResult& status);
    QWidget* NetworkTab(NetworkControls& controls, const char* name, int labelText, int filterText,
                        const std::string& current, bool filter,
                        const std::vector<std::string>& entries);
    QWidget* AboutTab(bool beta);
    void ShowStatus(const ServiceResult& status);

    SettingsWindowOperations operations_;
    std::vector<std::int64_t> intervals_;
    QTabWidget* tabs_ = nullptr;
    QLineEdit* userName_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* hostName_ = nullptr;
    QComboBox* interval_ = nullptr;
    QComboBox* provider_ = nullptr;
    QComboBox* autostart_ = nullptr;
    QCheckBox* ipv6_ = nullptr;
    QLabel* lastUpdate_ = nullptr;
    QLabel* lastResult_ = nullptr;
    NetworkControls local_;
    NetworkControls wireless_;
    QCheckBox* beta_ = nullptr;
};

}  // namespace quarnel
