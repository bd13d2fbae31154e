#include <gtest/gtest.h>
#include <windows.h>

#include <string>

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

}  // namespace
