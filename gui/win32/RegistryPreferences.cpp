#include "RegistryPreferences.h"

#include <utility>
#include <vector>

#include "Utf16.h"

namespace {

// An open registry key, closed when it goes out of scope.
class Key {
public:
    Key(HKEY root, const std::wstring& path)
    {
        if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                            &key_, nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~Key()
    {
        if (key_)
            RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    bool Open() const { return key_ != nullptr; }

    // Absent, or stored as another type: the default.
    bool ReadFlag(const wchar_t* name) const
    {
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            return false;
        return value != 0;
    }

    bool ReadText(const wchar_t* name, std::string* text) const
    {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
            return false;
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
            ERROR_SUCCESS)
            return false;
        // The stored string need not end in a NUL: the buffer's extra one does.
        *text = Narrow(std::wstring(buffer.data()));
        return true;
    }

    void WriteFlag(const wchar_t* name, bool flag) const
    {
        const DWORD value = flag ? 1 : 0;
        RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    }

    void WriteText(const wchar_t* name, const std::string& text) const
    {
        const std::wstring wide = Widen(text);
        const auto size = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
        RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()), size);
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace

RegistryPreferences::RegistryPreferences(HKEY root, std::wstring key) : root_(root), key_(std::move(key)) {}

PreferenceValues RegistryPreferences::Read()
{
    PreferenceValues values;
    const Key key(root_, key_);
    if (!key.Open())
        return values;
    values.findAllComms = key.ReadFlag(L"FindAllComms");
    values.verboseLog = key.ReadFlag(L"VerboseLog");
    values.hasCommPort = key.ReadText(L"CommPort", &values.commPort);
    return values;
}

void RegistryPreferences::Write(const PreferenceValues& values)
{
    const Key key(root_, key_);
    if (!key.Open())
        return;
    key.WriteFlag(L"FindAllComms", values.findAllComms);
    key.WriteFlag(L"VerboseLog", values.verboseLog);
    key.WriteText(L"CommPort", values.commPort);
}
