#pragma once

// A private registry for one test: QUARNEL_ROOT names a fresh temporary root, which the Windows
// store maps to a key of its own below HKEY_CURRENT_USER (platform/registry_key_win.h); the key
// goes again when the test ends.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/paths.h"
#include "platform/wide_text_win.h"
#include "tests/support/test_support.h"

namespace quarnel::test {

class RegistryRootTest : public ::testing::Test {
  protected:
    RegistryRootTest() : rootVariable_("QUARNEL_ROOT", root_.Path()) {}
    ~RegistryRootTest() override {
        std::string name = QuarnelRoot();
        for (char& c : name) {
            c = c == '\\' ? '/' : c;
        }
        ::RegDeleteTreeW(HKEY_CURRENT_USER,
                         Widen("Software\\Quarnel Updater Test Roots\\" + name).c_str());
    }

  private:
    TemporaryFolder root_;
    ScopedEnvironment rootVariable_;
};

}  // namespace quarnel::test
