// Windows port list: the system's own list of COM ports (SetupAPI from
// Windows 2000 on, the Enum registry tree on Windows 9x), or probing
// COM1..COM16 where neither is available (NT 4). Every port is checked by a
// brief exclusive open; ports that are merely busy stay on the list.
#include "CommPortEnum.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>

#include "KeloLog.h"
#include "KeloSerial.h"
#include "Result.h"
#include "SerialBackend.h"

namespace detail = comm_port_enum_detail;

namespace {

constexpr int kProbeCount = 16;

// GUID_DEVINTERFACE_COMPORT, spelled out so no GUID library is needed.
const GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// The filled list as the strategies share it.
struct PortList {
    CommPortEntry* entries;
    int capacity;
    int* count;

    bool Full() const { return *count >= capacity; }
    bool Has(const char* name) const { return detail::Contains(entries, *count, name); }
    void Add(const char* name, const char* description)
    {
        detail::SetEntry(&entries[(*count)++], name, description);
    }
    // An entry whose display text is given whole (probed ports).
    void AddText(const char* name, const char* text)
    {
        CommPortEntry& entry = entries[(*count)++];
        std::snprintf(entry.portName, sizeof entry.portName, "%s", name);
        std::snprintf(entry.displayText, sizeof entry.displayText, "%s", text);
    }
};

bool Listable(const char* name)
{
    int error = serial_backend::Probe(name);
    return error == 0 || error == serial_backend::kErrorInUse;
}

int LastError()
{
    DWORD error = GetLastError();
    return error ? static_cast<int>(error) : static_cast<int>(ERROR_GEN_FAILURE);
}

// "USB Serial Port (COM7)" -> "USB Serial Port": cut before the "(COM", and
// the blank in front of it when there is one.
void CutBeforePort(char* friendlyName, char* paren)
{
    if (paren > friendlyName && paren[-1] == ' ')
        --paren;
    *paren = '\0';
}

int ProbeStrategy(PortList& list)
{
    for (int i = 1; i <= kProbeCount && !list.Full(); ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "COM%d", i);
        if (Listable(name))
            list.AddText(name, name);
    }
    return *list.count;
}

int DeviceInterfaceStrategy(PortList& list)
{
    HDEVINFO set = SetupDiGetClassDevsA(&kComPortInterface, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return -LastError();

    // Device paths are typically well under 200 characters; the buffer leaves
    // room for long vendor paths so that one device cannot fail the list.
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
        char bytes[1024];
    } detailBuffer;

    int result = 0;
    for (DWORD index = 0; !list.Full(); ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof iface;
        // Ends at ERROR_NO_MORE_ITEMS; any other refusal also just ends the list.
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kComPortInterface, index, &iface))
            break;

        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        detailBuffer.detail.cbSize = sizeof detailBuffer.detail;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, &detailBuffer.detail,
                                              sizeof detailBuffer, nullptr, &device)) {
            result = -LastError();
            break;
        }

        char friendlyName[257] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(friendlyName),
                                               sizeof friendlyName - 1, nullptr))
            continue;

        char* paren = std::strstr(friendlyName, "(COM");
        if (!paren)
            continue;  // e.g. a modem that does not name its port
        char name[7] = {};
        const char* from = paren + 1;
        std::size_t n = std::strcspn(from, ")");
        if (n > sizeof name - 1)
            n = sizeof name - 1;
        std::memcpy(name, from, n);
        CutBeforePort(friendlyName, paren);

        if (!Listable(name))
            continue;
        list.Add(name, friendlyName);
    }

    SetupDiDestroyDeviceInfoList(set);
    return result < 0 ? result : *list.count;
}

// Reads a string value into out (always terminated); false when it is absent.
bool ReadString(HKEY key, const char* value, char* out, DWORD size)
{
    // Windows 9x drivers do not all store these as REG_SZ, so any type is
    // taken as text; the terminator is added here either way.
    DWORD bytes = size - 1;
    if (RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &bytes) !=
        ERROR_SUCCESS) {
        out[0] = '\0';
        return false;
    }
    out[bytes < size ? bytes : size - 1] = '\0';
    return true;
}

// Walks the instances of one device key. Returns false when the list is full.
bool AddInstances(HKEY deviceKey, PortList& list)
{
    char instance[129];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof instance;
        if (RegEnumKeyExA(deviceKey, i, instance, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return true;
        HKEY instanceKey;
        if (RegOpenKeyExA(deviceKey, instance, 0, KEY_READ, &instanceKey) != ERROR_SUCCESS)
            return true;

        char portName[129];
        char friendlyName[129];
        bool havePort = ReadString(instanceKey, "PORTNAME", portName, sizeof portName);
        bool haveFriendly =
            havePort && ReadString(instanceKey, "FRIENDLYNAME", friendlyName, sizeof friendlyName);
        RegCloseKey(instanceKey);
        if (!havePort)
            continue;
        if (haveFriendly) {
            if (char* paren = std::strstr(friendlyName, "(COM"))
                CutBeforePort(friendlyName, paren);
        } else {
            std::snprintf(friendlyName, sizeof friendlyName, "%s", portName);
        }
        if (list.Has(portName) || !Listable(portName))
            continue;
        list.Add(portName, friendlyName);
        if (list.Full())
            return false;
    }
}

int RegistryStrategy(PortList& list)
{
    HKEY enumKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum", 0, KEY_READ, &enumKey) != ERROR_SUCCESS)
        return 0;  // no tree to walk: an empty list, not an error

    int result = 1;
    bool more = true;
    char enumerator[129];
    for (DWORD e = 0; more; ++e) {
        DWORD length = sizeof enumerator;
        if (RegEnumKeyExA(enumKey, e, enumerator, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY enumeratorKey;
        if (RegOpenKeyExA(enumKey, enumerator, 0, KEY_READ, &enumeratorKey) != ERROR_SUCCESS) {
            result = result::kFailed;
            break;
        }
        const bool usbPorts = lstrcmpiA(enumerator, "USBPORTS") == 0;
        char device[129];
        for (DWORD d = 0; more; ++d) {
            length = sizeof device;
            if (RegEnumKeyExA(enumeratorKey, d, device, &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            // Standard serial port controllers, and whatever USB calls a port.
            if (!usbPorts && lstrcmpiA(device, "*PNP0500") != 0 &&
                lstrcmpiA(device, "*PNP0501") != 0)
                continue;
            HKEY deviceKey;
            if (RegOpenKeyExA(enumeratorKey, device, 0, KEY_READ, &deviceKey) != ERROR_SUCCESS) {
                result = result::kFailed;
                more = false;
                break;
            }
            more = AddInstances(deviceKey, list);
            RegCloseKey(deviceKey);
        }
        RegCloseKey(enumeratorKey);
    }
    RegCloseKey(enumKey);
    return result;
}

// With find all: adds COM1..COM16 ports that open but that the system did
// not list, and only when the probe found more ports than the list holds.
void ProbeSupplement(PortList& list)
{
    bool found[kProbeCount + 1] = {};
    int foundCount = 0;
    for (int i = 1; i <= kProbeCount; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "COM%d", i);
        found[i] = Listable(name);
        foundCount += found[i] ? 1 : 0;
    }
    if (*list.count >= foundCount)
        return;
    for (int i = 1; i <= kProbeCount && !list.Full(); ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "COM%d", i);
        if (!found[i] || list.Has(name))
            continue;
        char text[sizeof list.entries[0].displayText];
        std::snprintf(text, sizeof text, "%s Comm Port (UKN)", name);
        list.AddText(name, text);
    }
}

}  // namespace

int CommPortEnum(KeloSerial* serial, CommPortEntry* entries, int* count, bool findAll)
{
    if (!entries || !count)
        return result::kBadArgument;
    if (*count <= 0)
        return result::kOutOfRange;
    PortList list{entries, *count, count};
    std::memset(entries, 0, sizeof(CommPortEntry) * static_cast<std::size_t>(list.capacity));
    *count = 0;

    // GetVersionExA still answers on current Windows (an unmanifested program
    // sees 6.2), which is enough to tell SetupAPI systems from older ones.
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    int result;
    bool supplement = true;
    if (!GetVersionExA(&version)) {
        result = ProbeStrategy(list);
        supplement = false;
    } else if (version.dwMajorVersion >= 5) {
        result = DeviceInterfaceStrategy(list);
    } else if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        result = ProbeStrategy(list);  // NT 4 has neither SetupAPI ports nor Enum
        supplement = false;
    } else {
        result = RegistryStrategy(list);
    }

    if (supplement && findAll)
        ProbeSupplement(list);

    if (result < 0) {
        if (serial && serial->Log())
            serial->Log()->LogMessage(1, serial->PortName(),
                                      "CommPortEnum failed with MSWin error: \"%d\"", -result);
        return result::kFailed;
    }
    return result;
}

const char* CommPortProbedNames()
{
    return "COM1 to COM16";
}
