// The event source's message table and records. Wine's event log keeps no records, so what
// a viewer shows is checked here on its own: the program's message table holds the sentences of
// the record ids, in both languages, and a report is accepted.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

#include "diagnostics/event_log.h"
#include "diagnostics/event_message.h"
#include "platform/product.h"
#include "platform/wide_text_win.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

// The table's text with its insert filled, its line ends as the core's formatter writes them.
std::string FromMessageTable(HMODULE program, std::uint32_t id, WORD language,
                             const std::string& insert) {
    const std::wstring wideInsert = Widen(insert);
    const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(wideInsert.c_str())};
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
            FORMAT_MESSAGE_ARGUMENT_ARRAY,
        program, id, MAKELANGID(language, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0,
        reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    if (length == 0) {
        return {};
    }
    std::string message = Narrow(std::wstring_view(text, length));
    ::LocalFree(text);
    return message;
}

std::string WithoutLineEnds(std::string text) {
    std::erase(text, '\r');
    std::erase(text, '\n');
    return text;
}

TEST(EventLogWin, TheProgramsMessageTableHoldsEachRecordsSentence) {
    const HMODULE program =
        ::LoadLibraryExW(Widen(test::ProgramPath()).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);
    const struct {
        std::uint32_t id;
        WORD language;
        Language core;
    } cases[] = {
        {kEventRecordIdInformation, LANG_ENGLISH, Language::English},
        {kEventRecordIdWarning, LANG_ENGLISH, Language::English},
        {kEventRecordIdError, LANG_ENGLISH, Language::English},
        {kEventRecordIdInformation, LANG_GERMAN, Language::German},
        {kEventRecordIdError, LANG_GERMAN, Language::German},
    };
    for (const auto& c : cases) {
        const std::string table = FromMessageTable(program, c.id, c.language, "good 203.0.113.5");
        EXPECT_NE(table.find("good 203.0.113.5"), std::string::npos) << c.id;
        EXPECT_EQ(WithoutLineEnds(table),
                  WithoutLineEnds(FormatEventMessage(c.id, {"good 203.0.113.5"}, c.core)))
            << c.id;
    }
    ::FreeLibrary(program);
}

TEST(EventLogWin, AReportIsAcceptedUnderTheSourceName) {
    EventSourceHandle source = OpenEventSource(ServiceName);
    ASSERT_TRUE(source);
    EXPECT_EQ(ReportOutcomeEvent(source, kEventRecordTypeInformation, 0, kEventRecordIdInformation,
                                 {"good 203.0.113.5"}),
              1);
    CloseEventHandle(source);
    EXPECT_FALSE(OpenEventSource(""));
}

}  // namespace
}  // namespace quarnel
