// The About window and the system-information lookup over a scripted
// registry and launcher.
#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <map>

#include "about/about_window.h"

using namespace tarvex;
using namespace tarvex::about;

namespace {

// A registry of (key, value) -> (type, bytes), with keys that may refuse to open.
class ScriptedRegistry : public Registry {
public:
    struct Value {
        std::uint32_t type;
        QByteArray bytes;
        std::int64_t reportedSize = -1;  // the size the query reports, when not the bytes' size
    };
    std::map<std::pair<QByteArray, QByteArray>, Value> values;
    QSet<QByteArray> deniedKeys;
    int opens = 0, closes = 0;

    long RegOpenKeyExA(HKEY root, const QByteArray& subKey, std::uint32_t options, std::uint32_t access,
                       HKEY& result) override
    {
        ++opens;
        result = 0;
        if (root != HKEY_LOCAL_MACHINE || options != 0 || access != KEY_ALL_ACCESS)
            return ERROR_FILE_NOT_FOUND;
        if (deniedKeys.contains(subKey))
            return ERROR_ACCESS_DENIED;
        for (const auto& [k, v] : values)
            if (k.first == subKey) {
                keys_.push_back(subKey);
                result = keys_.size();
                return ERROR_SUCCESS;
            }
        return ERROR_FILE_NOT_FOUND;
    }
    long RegQueryValueExA(HKEY key, const QByteArray& name, std::uint32_t& type, std::vector<std::uint8_t>& data,
                          std::uint32_t& size) override
    {
        const auto it = values.find({keys_.at(key - 1), name});
        if (it == values.end())
            return ERROR_FILE_NOT_FOUND;
        type = it->second.type;
        size = std::uint32_t(it->second.reportedSize >= 0 ? it->second.reportedSize : it->second.bytes.size());
        if (it->second.bytes.size() > qsizetype(data.size()))
            return ERROR_MORE_DATA;
        std::copy(it->second.bytes.begin(), it->second.bytes.end(), data.begin());
        return ERROR_SUCCESS;
    }
    long RegCloseKey(HKEY) override
    {
        ++closes;
        return ERROR_SUCCESS;
    }

private:
    std::vector<QByteArray> keys_;
};

class ScriptedLauncher : public Launcher {
public:
    QSet<QString> files;
    QStringList started;
    bool isNormalFile(const QString& path) override { return files.contains(path); }
    bool startDetached(const QString& path) override
    {
        if (!files.contains(path))
            return false;
        started << path;
        return true;
    }
};

const QByteArray kFirst = kSysInfoKey, kSecond = kSysInfoFolderKey;

}  // namespace

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void startSysInfo_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<QString>("started");  // empty: the message instead
        QTest::newRow("first location names the program") << 0 << "/usr/bin/msinfo";
        QTest::newRow("first names a missing file, second not tried") << 1 << "";
        QTest::newRow("first of another type: empty path") << 2 << "";
        QTest::newRow("no rights to open either key") << 3 << "";
        QTest::newRow("second location's folder has the program") << 4 << "C:\\Tools\\MSINFO32.EXE";
        QTest::newRow("second location's folder lacks it") << 5 << "";
        QTest::newRow("reported size 0") << 6 << "";
        QTest::newRow("nothing in the registry") << 7 << "";
    }
    void startSysInfo()
    {
        QFETCH(int, scenario);
        QFETCH(QString, started);
        ScriptedRegistry reg;
        ScriptedLauncher launcher;
        launcher.files = {QStringLiteral("/usr/bin/msinfo"), QStringLiteral("C:\\Tools\\MSINFO32.EXE")};
        const QByteArray second = "C:\\Tools";
        switch (scenario) {
        case 0: reg.values[{kFirst, "PATH"}] = {REG_SZ, "/usr/bin/msinfo\0"}; break;
        case 1:
            reg.values[{kFirst, "PATH"}] = {REG_SZ, "/gone/msinfo"};
            reg.values[{kSecond, "MSINFO"}] = {REG_SZ, second};
            break;
        case 2: reg.values[{kFirst, "PATH"}] = {REG_EXPAND_SZ, "%SystemRoot%\\x.exe"}; break;
        case 3:
            reg.values[{kFirst, "PATH"}] = {REG_SZ, "/usr/bin/msinfo"};
            reg.values[{kSecond, "MSINFO"}] = {REG_SZ, second};
            reg.deniedKeys = {kFirst, kSecond};
            break;
        case 4: reg.values[{kSecond, "MSINFO"}] = {REG_SZ, second + '\0'}; break;
        case 5: reg.values[{kSecond, "MSINFO"}] = {REG_SZ, "C:\\Empty"}; break;
        case 6: reg.values[{kFirst, "PATH"}] = {REG_SZ, "/usr/bin/msinfo", 0}; break;
        default: break;
        }
        QStringList messages;
        StartSysInfo(reg, launcher, [&](const QString& m) { messages << m; });
        QCOMPARE(launcher.started, started.isEmpty() ? QStringList() : QStringList{started});
        QCOMPARE(messages, started.isEmpty() ? QStringList{"System Information Is Unavailable At This Time"}
                                             : QStringList());
        QCOMPARE(reg.closes, reg.opens);  // every key closed, on every path
    }

    void getKeyValueConversions_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("text with terminator") << int(REG_SZ) << QByteArray("abc\0", 4) << "abc";
        QTest::newRow("text without terminator") << int(REG_SZ) << QByteArray("abc") << "abc";
        QTest::newRow("number 00 01 02 03") << int(REG_DWORD) << QByteArray::fromHex("03020100") << "&h123";
        QTest::newRow("number 12 34 56 78") << int(REG_DWORD) << QByteArray::fromHex("78563412") << "&h12345678";
        QTest::newRow("other type keeps the text") << int(REG_EXPAND_SZ) << QByteArray("x") << "before";
    }
    void getKeyValueConversions()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, bytes);
        ScriptedRegistry reg;
        reg.values[{"K", "V"}] = {std::uint32_t(type), bytes};
        QString out = type == int(REG_EXPAND_SZ) ? QStringLiteral("before") : QString();
        QCOMPARE(GetKeyValue(reg, HKEY_LOCAL_MACHINE, "K", "V", out), kTrue);
        QTEST(out, "text");
        QString missing = QStringLiteral("x");
        QCOMPARE(GetKeyValue(reg, HKEY_LOCAL_MACHINE, "K", "W", missing), kFalse);
        QCOMPARE(missing, QString());
        reg.values[{"K", "Long"}] = {REG_SZ, QByteArray(1025, 'a')};
        QCOMPARE(GetKeyValue(reg, HKEY_LOCAL_MACHINE, "K", "Long", missing), kFalse);
    }

    void windowLoadsAndUnloads()
    {
        auto* launcher = new ScriptedLauncher;
        QStringList messages;
        AboutWindow::Services services{std::make_shared<ScriptedRegistry>(), std::shared_ptr<Launcher>(launcher),
                                       [&](QWidget*, const QString& m) { messages << m; }, QImage(32, 32, QImage::Format_RGB32)};
        for (int key : {int(Qt::Key_Return), int(Qt::Key_Escape), 0}) {
            QPointer<AboutWindow> w = new AboutWindow(services);
            w->setAttribute(Qt::WA_DeleteOnClose);
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
            QCOMPARE(w->windowTitle(), QStringLiteral("About Tarvex"));
            QCOMPARE(w->findChild<QLabel*>("lblVersion")->text(), QStringLiteral("Version 1.0.0"));
            QCOMPARE(w->findChild<QLabel*>("lblTitle")->text(), QStringLiteral("Tarvex"));
            QCOMPARE(w->size(), QSize(382, 237));
            QCOMPARE(w->focusWidget(), w->findChild<QPushButton*>("cmdOK"));
            QCOMPARE(w->findChild<QPushButton*>("cmdSysInfo")->text(), QStringLiteral("&System Info..."));
            for (const QPushButton* b : w->findChildren<QPushButton*>()) {  // no caption clipped
                QVERIFY2(b->sizeHint().width() <= b->width(), qPrintable(b->objectName()));
                QCOMPARE(b->geometry().right(), 366);
            }
            if (key == 0) {
                w->activateWindow();
                QTest::keyClick(w, Qt::Key_S, Qt::AltModifier);  // the button's access key
                QTRY_COMPARE(messages.size(), 1);
                messages.clear();
                w->findChild<QPushButton*>("cmdSysInfo")->click();
                QCOMPARE(messages, QStringList{"System Information Is Unavailable At This Time"});
                QVERIFY(w);  // the window stays open
                w->close();  // the close box
            } else {
                QTest::keyClick(w, Qt::Key(key));
            }
            QTRY_VERIFY(w.isNull());  // unloaded
        }
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
