#include "WindowQueries.h"

#include <cstring>
#include <iterator>

namespace {

struct ChildSearch {
    int id;
    HWND found;
};

struct TopLevelSearch {
    DWORD processId;
    const char* className;  // null: any class
    const char* caption;    // null: any caption
    std::vector<HWND> found;
};

}  // namespace

std::string Narrow(const wchar_t* text)
{
    char buffer[2048] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

// Wide texts, since Wine passes a text between processes as UTF-16
// whichever call asked for it.
std::string TextOf(HWND window)
{
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &copied))
        return {};
    return Narrow(buffer);
}

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string OneLine(const std::string& text)
{
    std::string line;
    for (char c : text) {
        if (c == '\r')
            continue;
        line += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return line;
}

// Controls may sit inside a panel, so look through every descendant.
HWND FindControl(HWND parent, int id)
{
    ChildSearch search{id, nullptr};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<ChildSearch*>(param);
            if (GetDlgCtrlID(child) != s->id)
                return TRUE;
            s->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> TopLevelWindows(DWORD processId, const char* className, const char* caption)
{
    TopLevelSearch search{processId, className, caption, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<TopLevelSearch*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != s->processId || !IsWindowVisible(window))
                return TRUE;
            char text[256] = {};
            GetWindowTextA(window, text, sizeof text);
            if ((s->className && ClassOf(window) != s->className) || (s->caption && std::strcmp(text, s->caption) != 0))
                return TRUE;
            s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string DialogText(HWND dialog)
{
    if (HWND text = GetDlgItem(dialog, 0xFFFF))
        return TextOf(text);
    struct Collect { std::string text; } collect;
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM param) -> BOOL {
            if (ClassOf(child) == "Static" || ClassOf(child) == "STATIC") {
                auto* c = reinterpret_cast<Collect*>(param);
                std::string t = TextOf(child);
                if (!t.empty())
                    c->text += (c->text.empty() ? "" : " | ") + t;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&collect));
    return collect.text;
}
