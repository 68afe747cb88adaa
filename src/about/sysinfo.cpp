#include "sysinfo.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace tarvex::about {

VbBool GetKeyValue(Registry& registry, HKEY keyRoot, const QString& keyName, const QString& subKeyRef,
                   QString& keyVal)
{
    HKEY key = 0;
    VbBool result = kFalse;
    // The key is closed on every way out, errors included.
    struct Closer {
        Registry& registry;
        HKEY& key;
        ~Closer() { registry.RegCloseKey(key); }
    } closer{registry, key};

    if (registry.RegOpenKeyExA(keyRoot, keyName.toLocal8Bit(), 0, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        keyVal.clear();
        return kFalse;
    }
    std::vector<std::uint8_t> buffer(1024, 0);
    std::uint32_t size = 1024, type = 0;
    if (registry.RegQueryValueExA(key, subKeyRef.toLocal8Bit(), type, buffer, size) != ERROR_SUCCESS) {
        keyVal.clear();
        return kFalse;
    }
    if (size == 0 || size > buffer.size())
        throw RegistryValueError{};  // there is no last byte to test
    const std::uint32_t length = buffer[size - 1] == 0 ? size - 1 : size;  // a text's terminator
    const QByteArray raw(reinterpret_cast<const char*>(buffer.data()), qsizetype(length));
    if (type == REG_SZ) {
        keyVal = QString::fromLocal8Bit(raw);
    } else if (type == REG_DWORD) {
        for (qsizetype i = raw.size() - 1; i >= 0; --i)
            keyVal += QString::number(std::uint8_t(raw[i]), 16).toUpper();
        keyVal = QStringLiteral("&h") + keyVal;
    }
    result = kTrue;
    return result;
}

void StartSysInfo(Registry& registry, Launcher& launcher, const std::function<void(const QString&)>& unavailable)
{
    try {
        QString path;
        bool found = GetKeyValue(registry, HKEY_LOCAL_MACHINE, QString::fromLatin1(kSysInfoKey),
                                 QString::fromLatin1(kSysInfoValue), path) == kTrue;
        if (!found && GetKeyValue(registry, HKEY_LOCAL_MACHINE, QString::fromLatin1(kSysInfoFolderKey),
                                  QString::fromLatin1(kSysInfoFolderValue), path) == kTrue) {
            const QString program = path + QString::fromLatin1(kSysInfoFile);
            found = launcher.isNormalFile(program);
            path = program;
        }
        if (found && launcher.startDetached(path))
            return;
    } catch (const RegistryValueError&) {
    }
    unavailable(QString::fromLatin1(kUnavailable));
}

QStringList sysInfoProgramCandidates()
{
    return {QStringLiteral("hardinfo2"), QStringLiteral("hardinfo"), QStringLiteral("kinfocenter"),
            QStringLiteral("gnome-system-monitor")};
}

namespace {

// A read-only registry with one value: the first location's PATH, the full
// path of the first system-information program found on the PATH.
class SystemRegistry : public Registry {
public:
    long RegOpenKeyExA(HKEY root, const QByteArray& subKey, std::uint32_t, std::uint32_t, HKEY& result) override
    {
        result = 0;
        if (root != HKEY_LOCAL_MACHINE || subKey != kSysInfoKey || program().isEmpty())
            return ERROR_FILE_NOT_FOUND;
        result = 1;
        return ERROR_SUCCESS;
    }
    long RegQueryValueExA(HKEY key, const QByteArray& valueName, std::uint32_t& type, std::vector<std::uint8_t>& data,
                          std::uint32_t& size) override
    {
        if (key != 1 || valueName != kSysInfoValue)
            return ERROR_FILE_NOT_FOUND;
        const QByteArray text = program().toLocal8Bit() + '\0';
        type = REG_SZ;
        size = std::uint32_t(text.size());
        if (text.size() > qsizetype(data.size()))
            return ERROR_MORE_DATA;
        std::copy(text.begin(), text.end(), data.begin());
        return ERROR_SUCCESS;
    }
    long RegCloseKey(HKEY) override { return ERROR_SUCCESS; }

private:
    static QString program()
    {
        for (const QString& name : sysInfoProgramCandidates())
            if (const QString path = QStandardPaths::findExecutable(name); !path.isEmpty())
                return path;
        return {};
    }
};

class SystemLauncher : public Launcher {
public:
    bool isNormalFile(const QString& path) override { return QFileInfo(path).isFile(); }
    bool startDetached(const QString& path) override { return !path.isEmpty() && QProcess::startDetached(path, {}); }
};

}  // namespace

std::unique_ptr<Registry> systemRegistry()
{
    return std::make_unique<SystemRegistry>();
}

std::unique_ptr<Launcher> systemLauncher()
{
    return std::make_unique<SystemLauncher>();
}

}  // namespace tarvex::about
