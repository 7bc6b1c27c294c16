#pragma once

// The settings window on Windows: a thin Win32 mirror of a SettingsForm (ui/settings_form.h),
// with its controls at the pixel positions of the original. It shows the form, follows the
// enabling rules of the shared code and hands the form to StoreSettings on OK.

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "ui/settings_form.h"
#include "ui/win32/gadgets_win.h"

namespace quarnel::win32 {

class SettingsWindow : public Window {
  public:
    SettingsWindow(const SettingsForm& form, const SettingsWindowSetup& setup);
    ~SettingsWindow() override;

    bool Open();
    // From any thread: new status lines, and a close without applying.
    void PostStatus(const ServiceResult& status);
    void PostClose();
    // The controls' current state.
    SettingsForm Form() const;

  protected:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    // The six controls of a network tab, by their first control id.
    struct NetworkTab {
        int firstId = 0;
        HWND page = nullptr, field = nullptr, insert = nullptr, remove = nullptr, list = nullptr,
             filter = nullptr;
    };

    HWND AddPage();
    HWND Label(HWND page, int textId, bool bold, int x, int y, int width, int height = 20);
    HWND DropDown(HWND page, int id, const std::vector<std::string>& entries, int selected, int x,
                  int y);
    void GeneralTab();
    void NetworkTabOf(NetworkTab& tab, int labelText, int filterText, const std::string& current,
                      bool filter, const std::vector<std::string>& entries);
    void AboutTab();
    void ShowStatus(const ServiceResult& status);
    void OfferIPv6();
    void ShowPage(int index);
    void RefreshNetworkTab(const NetworkTab& tab, NetworkTabEvent event);
    bool NetworkCommand(NetworkTab& tab, int id, int code);
    void Apply();

    SettingsForm form_;
    SettingsWindowSetup setup_;
    HWND tabs_ = nullptr;
    std::vector<HWND> pages_;
    HWND userName_ = nullptr, password_ = nullptr, hostName_ = nullptr;
    HWND interval_ = nullptr, provider_ = nullptr, autostart_ = nullptr, ipv6_ = nullptr;
    HWND lastUpdate_ = nullptr, lastResult_ = nullptr, beta_ = nullptr;
    NetworkTab local_;
    NetworkTab wireless_;
    std::set<HWND> grey_;
    UINT instanceMessage_ = 0;
    SharedMailbox mailbox_;
};

// The setting mode's window until OK, Cancel, its close box, instance code 1 or the end of the
// process that opened it; returns the exit code (0).
std::int64_t RunSettingWindows();

}  // namespace quarnel::win32
