#pragma once
// Finding and starting the system-information program: the two registry
// locations that may name it, read through a small registry interface, and
// a detached start through a launcher interface. Every failure ends in one
// message.
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "workspace/conversions.h"

namespace tarvex::about {

using HKEY = std::uintptr_t;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_FILE_NOT_FOUND = 2;
inline constexpr long ERROR_ACCESS_DENIED = 5;
inline constexpr long ERROR_MORE_DATA = 234;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t KEY_ALL_ACCESS = 0x2003F;

class Registry {
public:
    virtual ~Registry() = default;
    virtual long RegOpenKeyExA(HKEY root, const QByteArray& subKey, std::uint32_t options, std::uint32_t access,
                               HKEY& result) = 0;
    // Fills data (whose size is the buffer's capacity) and sets size to the
    // value's size in bytes; ERROR_MORE_DATA when it does not fit.
    virtual long RegQueryValueExA(HKEY key, const QByteArray& valueName, std::uint32_t& type,
                                  std::vector<std::uint8_t>& data, std::uint32_t& size) = 0;
    virtual long RegCloseKey(HKEY key) = 0;
};

class Launcher {
public:
    virtual ~Launcher() = default;
    virtual bool isNormalFile(const QString& path) = 0;
    // Starts the program in its own window without waiting for it.
    virtual bool startDetached(const QString& path) = 0;
};

inline constexpr const char* kSysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr const char* kSysInfoValue = "PATH";
inline constexpr const char* kSysInfoFolderKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr const char* kSysInfoFolderValue = "MSINFO";
inline constexpr const char* kSysInfoFile = "\\MSINFO32.EXE";
inline constexpr const char* kUnavailable = "System Information Is Unavailable At This Time";

// Reads one registry value into keyVal as text; True when it was read.
// Throws RegistryValueError where the value's reported size is 0.
VbBool GetKeyValue(Registry& registry, HKEY keyRoot, const QString& keyName, const QString& subKeyRef,
                   QString& keyVal);

struct RegistryValueError {};

// Starts the program the registry names, or calls `unavailable` once.
void StartSysInfo(Registry& registry, Launcher& launcher, const std::function<void(const QString&)>& unavailable);

// On this system: the first location's PATH names the first of a few
// common system-information programs found on the PATH; nothing else exists.
std::unique_ptr<Registry> systemRegistry();
std::unique_ptr<Launcher> systemLauncher();
QStringList sysInfoProgramCandidates();

}  // namespace tarvex::about
