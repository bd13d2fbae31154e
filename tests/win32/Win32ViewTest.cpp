#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ControlIds.h"
#include "InstrumentChoiceDialog.h"
#include "RegistryPreferences.h"
#include "Utf16.h"

namespace {

TEST(Utf16, ConvertsBothWaysIncludingSurrogatePairs)
{
    struct Case {
        std::string utf8;
        std::wstring utf16;
    };
    const Case cases[] = {
        {"", L""},
        {"COM5", L"COM5"},
        {"Gr\xC3\xB6\xC3\x9F" "e", L"Gr\u00F6\u00DFe"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", L"\u65E5\u672C"},
        {"a\xF0\x9F\x98\x80z", L"a\xD83D\xDE00z"},
        {std::string("x\0y", 3), std::wstring(L"x\0y", 3)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Widen(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(Narrow(c.utf16), c.utf8) << c.utf8;
    }
    // A broken sequence is marked, not dropped with the rest of the text.
    EXPECT_EQ(Widen("a\xC3z"), L"a\uFFFDz");
}

class RegistryPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

    // The stored type and, for a DWORD, the value.
    DWORD TypeOf(const wchar_t* name, DWORD* value = nullptr)
    {
        DWORD type = 0;
        DWORD data[64] = {};
        DWORD size = sizeof(data);
        if (RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
            return REG_NONE;
        if (value)
            *value = data[0];
        return type;
    }

    static constexpr const wchar_t* kKey = L"Software\\KeloBSL test\\Preferences";
    RegistryPreferences preferences{HKEY_CURRENT_USER, kKey};
};

TEST_F(RegistryPreferencesTest, AbsentKeyReadsAsDefaults)
{
    const PreferenceValues values = preferences.Read();
    EXPECT_FALSE(values.findAllComms);
    EXPECT_FALSE(values.verboseLog);
    EXPECT_FALSE(values.hasCommPort);
    EXPECT_EQ(values.commPort, "");
}

TEST_F(RegistryPreferencesTest, ValuesComeBackWithTheirRegistryTypes)
{
    struct Case {
        bool findAll;
        bool verbose;
        std::string port;
    };
    const Case cases[] = {{true, false, "COM5"}, {false, true, "\\\\.\\COM12"}, {true, true, "COM\xC3\x9C"},
                          {false, false, ""}};
    for (const Case& c : cases) {
        PreferenceValues written;
        written.findAllComms = c.findAll;
        written.verboseLog = c.verbose;
        written.hasCommPort = true;
        written.commPort = c.port;
        preferences.Write(written);

        const PreferenceValues read = preferences.Read();
        EXPECT_EQ(read.findAllComms, c.findAll) << c.port;
        EXPECT_EQ(read.verboseLog, c.verbose) << c.port;
        EXPECT_TRUE(read.hasCommPort) << c.port;
        EXPECT_EQ(read.commPort, c.port);

        DWORD findAll = 99;
        DWORD verbose = 99;
        EXPECT_EQ(TypeOf(L"FindAllComms", &findAll), static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(TypeOf(L"VerboseLog", &verbose), static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(findAll, c.findAll ? 1u : 0u);
        EXPECT_EQ(verbose, c.verbose ? 1u : 0u);
        EXPECT_EQ(TypeOf(L"CommPort"), static_cast<DWORD>(REG_SZ));
    }
}

TEST_F(RegistryPreferencesTest, FlagOfAnotherTypeReadsAsOff)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t text[] = L"1";
    RegSetValueExW(key, L"VerboseLog", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
    const DWORD one = 1;
    RegSetValueExW(key, L"FindAllComms", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    RegCloseKey(key);

    const PreferenceValues values = preferences.Read();
    EXPECT_FALSE(values.verboseLog);
    EXPECT_TRUE(values.findAllComms);
    EXPECT_FALSE(values.hasCommPort);
}

// "Which Instrument?" driven from a timer inside its own modal loop, as the
// person's clicks and keys reach it: the dialog's own messages.
struct ChoiceDriver {
    enum class How { PickSecondThenOk, EnterAloneThenEscape, DoubleClickNoneOfThese } how;
    bool opened = false, okAtOpen = true, openAfterEnter = false, okAfterPick = false, rowsFit = true;
    int rows = 0, selectedAtOpen = 0;

    static thread_local ChoiceDriver* current;

    static BOOL CALLBACK FindDialog(HWND window, LPARAM found)
    {
        wchar_t title[64] = L"";
        GetWindowTextW(window, title, 64);
        if (IsWindowVisible(window) && std::wstring(title) == L"Which Instrument?")
            *reinterpret_cast<HWND*>(found) = window;
        return TRUE;
    }

    static void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD)
    {
        HWND dialog = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
        if (!dialog || !current)
            return;
        KillTimer(nullptr, timer);
        current->Drive(dialog);
    }

    void Drive(HWND dialog)
    {
        opened = true;
        HWND list = GetDlgItem(dialog, IDC_WHICH_LIST);
        HWND ok = GetDlgItem(dialog, IDOK);
        rows = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
        selectedAtOpen = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
        okAtOpen = IsWindowEnabled(ok) != FALSE;
        RECT inside{};
        GetClientRect(list, &inside);
        HDC dc = GetDC(list);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
        for (int i = 0; i < rows; ++i) {
            wchar_t text[512] = L"";
            SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            SIZE size{};
            GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
            rowsFit = rowsFit && size.cx < inside.right;
        }
        SelectObject(dc, old);
        ReleaseDC(list, dc);

        auto pick = [&](int row, WORD code) {
            SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_WHICH_LIST, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
            okAfterPick = IsWindowEnabled(ok) != FALSE;
            if (code != LBN_SELCHANGE)
                SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_WHICH_LIST, code), reinterpret_cast<LPARAM>(list));
        };
        switch (how) {
        case How::PickSecondThenOk:
            pick(1, LBN_SELCHANGE);
            SendMessageW(dialog, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(ok));
            break;
        case How::EnterAloneThenEscape:
            SendMessageW(dialog, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(ok));  // what Enter sends
            openAfterEnter = IsWindowVisible(dialog) != FALSE;
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);  // what Escape sends
            break;
        case How::DoubleClickNoneOfThese:
            pick(rows - 1, LBN_DBLCLK);
            break;
        }
        if (IsWindowVisible(dialog))
            EndDialog(dialog, IDCANCEL);  // never leave the test waiting on a dialog
    }
};

thread_local ChoiceDriver* ChoiceDriver::current = nullptr;

TEST(InstrumentChoiceDialog, OkWaitsForThePersonsPickAndReturnsIt)
{
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe)
        GTEST_SKIP() << "no windows can be made here (no display)";
    DestroyWindow(probe);

    const std::vector<SettingsCandidate> candidates = {
        {"WN-00931", 1796721300, "JT5 Pro.settings.txt", "\\\\.\\COM12"},
        {"WN-00417", 1796634900, "WN-00417-20261207T081500Z.settings.txt", ""},
    };
    const std::string text = "A JT5 Pro was found in its firmware loader on COM3. It cannot say which instrument "
                             "it is.\n\nWhich instrument is connected?";
    struct Case {
        ChoiceDriver::How how;
        int expected;
    };
    for (const Case& c : {Case{ChoiceDriver::How::PickSecondThenOk, 1},
                          Case{ChoiceDriver::How::EnterAloneThenEscape, kStopUpdate},
                          Case{ChoiceDriver::How::DoubleClickNoneOfThese, kNoneOfThese}}) {
        ChoiceDriver driver{c.how};
        ChoiceDriver::current = &driver;
        SetTimer(nullptr, 0, 30, ChoiceDriver::Tick);
        const int answer = AskInstrumentChoice(GetModuleHandleW(nullptr), nullptr, text, candidates,
                                               "Which Instrument?");
        ChoiceDriver::current = nullptr;
        SCOPED_TRACE(c.expected);
        ASSERT_TRUE(driver.opened);
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(driver.rows, 3);
        EXPECT_EQ(driver.selectedAtOpen, LB_ERR) << "nothing is picked for the person";
        EXPECT_FALSE(driver.okAtOpen);
        EXPECT_TRUE(driver.rowsFit);
        EXPECT_EQ(driver.okAfterPick, c.how != ChoiceDriver::How::EnterAloneThenEscape);
        EXPECT_EQ(driver.openAfterEnter, c.how == ChoiceDriver::How::EnterAloneThenEscape);
    }
}

}  // namespace
