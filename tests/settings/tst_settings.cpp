#include "TestSupport.h"
#include "settings/modINI.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// ASCII text as UTF-16 with the byte-order mark, built byte by byte.
QByteArray utf16(const QByteArray& ascii, bool littleEndian) {
    QByteArray bytes = littleEndian ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    for (const char c : ascii)
        bytes += littleEndian ? QByteArray(1, c) + '\0' : '\0' + QByteArray(1, c);
    return bytes;
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file() const { return m_dir.filePath(QStringLiteral("Settings.ini")); }
    QString read(const QString& key) const {
        return modINI::ReadIniValue("GENERAL", key, "<default>", file(), 256);
    }
    bool write(const QString& key, const QString& value) const {
        return modINI::WritePrivateProfileString("GENERAL", key, value, file());
    }
    QByteArray readBytes() const {
        QFile in(file());
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<missing>");
    }

private Q_SLOTS:
    void init() { QFile::remove(file()); }

    // Reading neither changes the file nor creates it; a write then works on any of them.
    void readsAndWrites_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const auto row = [](const char* name, const QByteArray& content, const char* key,
                            const QString& value) {
            QTest::newRow(name) << content << key << value;
        };
        row("missing file", "<missing>", "StartLine", "<default>");
        row("key of another section", "[GENERAL]\nA=1\n[OTHER]\nB=1\n", "B", "<default>");
        row("case-insensitive", "[general]\n STARTLINE = 7 \n", "StartLine", "7");
        row("first of duplicates", "[GENERAL]\nA=1\nA=2\n", "A", "1");
        row("Latin-1", "[GENERAL]\nA=M\xfcller\n", "A", "Müller");
        row("300 characters cut", "[GENERAL]\nA=" + QByteArray(300, 'b'), "A", QString(255, 'b'));
        row("not text", QByteArrayLiteral("\0\x01\xff\xfe[\n=\r").repeated(8192), "A", "<default>");
        row("UTF-16 damaged",
            QByteArrayLiteral("\xFF\xFE\x00\xD8\r\x00\r\x00\n\x00=\x00\x00\xDC\n"), "A",
            "<default>");
        row("1 MB line", "[GENERAL]\r\nX=" + QByteArray(1 << 20, 'x'), "A", "<default>");
    }
    void readsAndWrites() {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, value);
        if (content != "<missing>")
            writeFile(file(), content);
        QCOMPARE(read(key), value);
        QCOMPARE(readBytes(), content);
        QVERIFY(write(key, "0,2\\0,2"));
        QCOMPARE(read(key), "0,2\\0,2");
    }

    // The key's line changes in place; every other byte stays.
    void writesInPlace_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        const auto row = [](const char* name, const QByteArray& before, const QByteArray& after) {
            QTest::newRow(name) << before << after;
        };
        row("update", "; c\r\n[X]\r\nA=1\r\n[GENERAL]\r\nB=1\r\n a = 3\r\nC=2\r\n\r\n[Y]",
            "; c\r\n[X]\r\nA=1\r\n[GENERAL]\r\nB=1\r\n a = 9\r\nC=2\r\n\r\n[Y]");
        row("key appended to its section", "[GENERAL]\nB=1\n; note\n[OTHER]\nA=2\n",
            "[GENERAL]\nB=1\nA=9\n; note\n[OTHER]\nA=2\n");
        row("section appended", "[OTHER]\nB=2", "[OTHER]\nB=2\n[GENERAL]\nA=9\n");
    }
    void writesInPlace() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        writeFile(file(), before);
        QVERIFY(write("A", "9"));
        QCOMPARE(readBytes(), after);
    }

    // A file keeps its encoding, its byte-order mark and its line ends; the
    // values written take the file's encoding.
    void keepsEncoding_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("read");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        const auto row = [](const char* name, const QByteArray& before, const char* key,
                            const QString& read, const QString& value, const QByteArray& after) {
            QTest::newRow(name) << before << key << read << value << after;
        };
        row("UTF-16LE", utf16("[GENERAL]\r\nStartLine=12\r\nB=2\r\n", true), "StartLine", "12",
            "340", utf16("[GENERAL]\r\nStartLine=340\r\nB=2\r\n", true));
        row("UTF-16BE, key appended", utf16("[GENERAL]\r\nB=2", false), "StudyDate", "<default>",
            "05.12.2026", utf16("[GENERAL]\r\nB=2\r\nStudyDate=05.12.2026\r\n", false));
        row("UTF-16LE, odd byte kept", utf16("[GENERAL]\nA=1\n", true) + 'x', "A", "1", "9",
            utf16("[GENERAL]\nA=9\n", true) + 'x');
        row("code page", "[GENERAL]\r\nOrt=M\xfcnchen \x80\r\nA=1\r\n", "Ort", "München €",
            "Grüße €",
            "[GENERAL]\r\nOrt=Gr\xfc\xdf"
            "e \x80\r\nA=1\r\n");
        row("UTF-8 with BOM", "\xEF\xBB\xBF[GENERAL]\nA=1\n", "A", "1", "Grüße",
            "\xEF\xBB\xBF[GENERAL]\nA=Gr\xC3\xBC\xC3\x9F"
            "e\n");
        row("CR only", "[GENERAL]\rA=1\rB=2\r", "B", "2", "9", "[GENERAL]\rA=1\rB=9\r");
        row("CR only, key appended", "; c\r[GENERAL]\rA=1", "C", "<default>", "9",
            "; c\r[GENERAL]\rA=1\rC=9\r");
    }
    void keepsEncoding() {
        QFETCH(QByteArray, before);
        QFETCH(QString, key);
        QFETCH(QString, read);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        writeFile(file(), before);
        QCOMPARE(this->read(key), read);
        QVERIFY(write(key, value));
        QCOMPARE(readBytes(), after);
        QCOMPARE(this->read(key), value);
    }

    // A value the file's code page cannot hold is not stored changed.
    void refusesValueOutsideCodePage() {
        const QByteArray original("[GENERAL]\r\nOrt=M\xfcnchen\r\n");
        writeFile(file(), original);
        QVERIFY(!write("Ort", QStringLiteral("\u4E2D")));
        QCOMPARE(readBytes(), original);
    }

    void failedWritesLeaveFileUntouched() {
        const QByteArray original("[GENERAL]\r\nPixelSpacing=0,2\r\n");
        writeFile(file(), original);
        QVERIFY(!write("PixelSpacing", "1\r\n[X]"));
        QVERIFY(!write("A=B", "1"));
        QVERIFY(!modINI::WritePrivateProfileString("GENERAL", "A", "1", file() + "/Settings.ini"));
#if !defined(Q_OS_LINUX)
        QSKIP("Needs Linux capabilities to enforce permission bits as root.");
#else
        QString cause;
        {
            // The disk fills part way through the new, longer file.
            const FileSizeLimit limit(original.size() + 4);
            QVERIFY(!modINI::WritePrivateProfileString("GENERAL", "PixelSpacing", "0,25\\0,25",
                                                       file(), &cause));
        }
        QCOMPARE(cause, QStringLiteral("Die Datei konnte nicht vollständig geschrieben werden; "
                                       "der Datenträger ist vermutlich voll."));
        QCOMPARE(readBytes(), original);
        QVERIFY(QFile::setPermissions(file(), QFileDevice::WriteOwner)); // unreadable
        {
            const PermissionBitsEnforced enforced;
            QVERIFY(
                !modINI::WritePrivateProfileString("GENERAL", "PixelSpacing", "1", file(), &cause));
        }
        QCOMPARE(cause, QStringLiteral("Die Datei kann nicht gelesen werden. Es fehlt die "
                                       "Berechtigung für diesen Zugriff."));
        QVERIFY(QFile::setPermissions(file(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(readBytes(), original);
#endif
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
