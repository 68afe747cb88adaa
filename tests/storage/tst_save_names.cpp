// The text rules: path splitting, the leading-number reading of saved names,
// the numbered names, and the shared numeric conversions.
#include <QtTest>

#include "workspace/conversions.h"
#include "storage/file_names.h"
#include "storage/save_name.h"

using namespace tarvex;

class TestSaveNames : public QObject {
    Q_OBJECT
private slots:
    // Any bytes come back as they went in; valid UTF-8 is read as text and
    // nothing else is, so no two names meet in one string.
    void fileNamesKeepTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("text");  // whether it is valid UTF-8
        QTest::newRow("plain") << QByteArray("poza.jpg") << true;
        QTest::newRow("Romanian letters") << QByteArray("vacan\xc8\x9b\xc4\x83.jpg") << true;
        QTest::newRow("four bytes") << QByteArray("\xf0\x9f\x93\xb7.jpg") << true;
        QTest::newRow("Latin-1 byte") << QByteArray("caf\xe9.jpg") << false;
        QTest::newRow("overlong slash") << QByteArray("a\xc0\xaf" "b") << false;
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("cut sequence at the end") << QByteArray("x\xe2\x82") << false;
        QTest::newRow("what U+FFFD is") << QByteArray("caf\xef\xbf\xbd.jpg") << true;
    }
    void fileNamesKeepTheirBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, text);
        const QString name = fileNameFromBytes(bytes);
        QCOMPARE(fileNameBytes(name), bytes);
        QCOMPARE(name == QString::fromUtf8(bytes), text);
        QCOMPARE(shownFileName(name).contains(QLatin1String("\\x")), !text);
    }
    void shownNamesEscapeOddBytes()
    {
        QCOMPARE(shownFileName(fileNameFromBytes("caf\xe9.jpg")), QStringLiteral("caf\\xe9.jpg"));
    }

    void splitAtLast_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::newRow("folder and name") << "C:\\Poze\\mare.jpg" << "\\" << "C:\\Poze\\" << "mare.jpg";
        QTest::newRow("name only") << "mare.jpg" << "\\" << "" << "mare.jpg";
        QTest::newRow("trailing separator") << "C:\\Poze\\" << "\\" << "C:\\Poze\\" << "";
        QTest::newRow("dot in the folder") << "C:\\Poze.vechi\\mare" << "\\" << "C:\\Poze.vechi\\" << "mare";
        QTest::newRow("slash paths") << "/home/ana/Poze/mare.jpg" << "/" << "/home/ana/Poze/" << "mare.jpg";
        QTest::newRow("case-sensitive") << "aXbxc" << "x" << "aXbx" << "c";
        QTest::newRow("empty") << "" << "/" << "" << "";
    }
    void splitAtLast()
    {
        QFETCH(QString, text);
        QFETCH(QString, separator);
        QString left = QStringLiteral("old"), right = QStringLiteral("old");
        SplitAtLast(text, separator.at(0), left, right);
        QTEST(left, "left");
        QTEST(right, "right");
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("three digits") << "004" << 4.0;
        QTest::newRow("no number") << "x.j" << 0.0;
        QTest::newRow("digits then letters") << "12a" << 12.0;
        QTest::newRow("blanks anywhere") << " 1 2" << 12.0;
        QTest::newRow("tab and line feed") << "1\t\n3" << 13.0;
        QTest::newRow("sign") << "-5x" << -5.0;
        QTest::newRow("plus") << "+7" << 7.0;
        QTest::newRow("decimal point") << "1.5" << 1.5;
        QTest::newRow("leading point") << ".5" << 0.5;
        QTest::newRow("exponent") << "1e2" << 100.0;
        QTest::newRow("D exponent") << "2D1" << 20.0;
        QTest::newRow("dangling exponent") << "1e" << 1.0;
        QTest::newRow("hexadecimal") << "&HF" << 15.0;
        QTest::newRow("hexadecimal lower") << "&hff" << 255.0;
        QTest::newRow("octal") << "&O17" << 15.0;
        QTest::newRow("octal stops at 8") << "&O18" << 1.0;
        QTest::newRow("ampersand alone") << "&12" << 0.0;
        QTest::newRow("sign alone") << "-" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("non-ASCII digit") << QString::fromUtf8("\u0663") << 0.0;
    }
    void leadingNumber()
    {
        QFETCH(QString, text);
        QTEST(tarvex::leadingNumber(text), "value");
    }

    void numberedName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("counter");
        QTest::addColumn<QString>("numbered");
        QTest::newRow("one") << "Stn000mare.jpg" << 1.0 << "Stn001mare.jpg";
        QTest::newRow("tens") << "Stn009mare.jpg" << 42.0 << "Stn042mare.jpg";
        QTest::newRow("999") << "Stn998mare.jpg" << 999.0 << "Stn999mare.jpg";
        QTest::newRow("1000 gives four digits") << "Stn999mare.jpg" << 1000.0 << "Stn1000mare.jpg";
        QTest::newRow("short name") << "Stnx" << 1.0 << "Stn001";
        QTest::newRow("replaces whatever stood there") << "Stnx.jpg" << 1.0 << "Stn001pg";
        QTest::newRow("fraction truncated") << "Stn1.5a" << 2.5 << "Stn002a";
    }
    void numberedName()
    {
        QFETCH(QString, name);
        QFETCH(double, counter);
        QTEST(tarvex::numberedName(name, counter), "numbered");
    }

    void roundingAndClamping()
    {
        const std::pair<double, double> halves[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {322.5, 322}, {323.5, 324}, {-2.5, -2}};
        for (auto [in, out] : halves)
            QCOMPARE(roundHalfEven(in), out);
        QCOMPARE(toInt16(40000.0), std::int16_t(32767));
        QCOMPARE(toInt16(-40000.0), std::int16_t(-32768));
        QCOMPARE(toInt16(std::nan("")), std::int16_t(0));
        QCOMPARE(toInt32(1e12), std::int32_t(2147483647));
        QCOMPARE(toInt16(645 / 2.0), std::int16_t(322));
        QCOMPARE(toInt16(647 / 2.0), std::int16_t(324));
    }
};

QTEST_APPLESS_MAIN(TestSaveNames)
#include "tst_save_names.moc"
