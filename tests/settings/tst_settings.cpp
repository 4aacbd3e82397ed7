#include "TestSupport.h"
#include "modINI.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kSection = QStringLiteral("GENERAL");
const QString kDefault = QStringLiteral("<default>");

// Bytes of a literal that may hold NULs.
template <std::size_t N> QByteArray bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

void writeBytes(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString read(const QString& path, const QString& key, int size = 256) {
    return modINI::ReadIniValue(kSection, key, kDefault, path, size);
}

bool write(const QString& path, const QString& key, const QString& value) {
    return modINI::WritePrivateProfileString(kSection, key, value, path);
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file() const { return m_dir.filePath(QStringLiteral("Settings.ini")); }

private Q_SLOTS:
    void init() { QFile::remove(file()); }

    void readsValues_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const QByteArray general = "; by hand\r\n[GENERAL]\r\nStartLine=120\r\n"
                                   "PixelSpacing=0,2\\0,2\r\n[OTHER]\r\nStudyDate=01.01.2000\r\n";
        QTest::newRow("plain") << general << "StartLine"
                               << "120";
        QTest::newRow("backslash and comma") << general << "PixelSpacing"
                                             << "0,2\\0,2";
        QTest::newRow("other section ignored") << general << "StudyDate" << kDefault;
        QTest::newRow("case-insensitive") << QByteArray("[general]\nSTARTLINE=7\n") << "StartLine"
                                          << "7";
        QTest::newRow("blanks trimmed")
            << QByteArray("  [ GENERAL ]\n\t StartLine \t=  -35 \t\n") << "StartLine"
            << "-35";
        QTest::newRow("comments") << QByteArray("[GENERAL]\n;StartLine=1\n # StartLine=2\n")
                                  << "StartLine" << kDefault;
        QTest::newRow("first duplicate") << QByteArray("[GENERAL]\nA=1\nA=2\n") << "A"
                                         << "1";
        QTest::newRow("empty value") << QByteArray("[GENERAL]\nA=\n") << "A"
                                     << "";
        QTest::newRow("no sections") << QByteArray("StartLine=5\n") << "StartLine" << kDefault;
        QTest::newRow("latin-1") << QByteArray("[GENERAL]\nA=M\xfcller\n") << "A"
                                 << QStringLiteral("Müller");
        QTest::newRow("UTF-8 BOM") << QByteArray("\xef\xbb\xbf[GENERAL]\nA=1\n") << "A"
                                   << "1";
        QTest::newRow("value ends at NUL") << bytes("[GENERAL]\r\nA=7\0junk\r\n\xff\xfe\0") << "A"
                                           << "7";
    }
    void readsValues() {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeBytes(file(), content);
        QCOMPARE(read(file(), key), expected);
        QCOMPARE(readBytes(file()), content);
    }

    void missingFileGivesDefaultAndStaysMissing() {
        QCOMPARE(read(file(), QStringLiteral("StartLine")), kDefault);
        QVERIFY(!QFileInfo::exists(file()));
        QCOMPARE(read(m_dir.path(), QStringLiteral("StartLine")), kDefault); // a folder
    }

    void valuesAreCutToSizeMinusOne() {
        const QString v255(255, QLatin1Char('a'));
        const QString v300(300, QLatin1Char('b'));
        QVERIFY(write(file(), QStringLiteral("A"), v255));
        QVERIFY(write(file(), QStringLiteral("B"), v300));
        QCOMPARE(read(file(), QStringLiteral("A")), v255);
        QCOMPARE(read(file(), QStringLiteral("B")), v300.left(255));
        QCOMPARE(read(file(), QStringLiteral("B"), 1), QString());
        // A character outside the BMP that does not fit whole is left out.
        QVERIFY(write(file(), QStringLiteral("C"), QStringLiteral("ab\U0001F404")));
        QCOMPARE(read(file(), QStringLiteral("C"), 4), QStringLiteral("ab"));
        QCOMPARE(read(file(), QStringLiteral("missing"), 4), kDefault.left(3));
    }

    void writesInPlace_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("new file") << QByteArray() << "StartLine"
                                  << "5" << QByteArray("[GENERAL]\r\nStartLine=5\r\n");
        QTest::newRow("update keeps everything else")
            << QByteArray("; c\r\n# d\r\n[X]\r\nA=1\r\n[GENERAL]\r\nB=1\r\nA=3\r\nC=2\r\n\r\n[Y]")
            << "A"
            << "-12"
            << QByteArray(
                   "; c\r\n# d\r\n[X]\r\nA=1\r\n[GENERAL]\r\nB=1\r\nA=-12\r\nC=2\r\n\r\n[Y]");
        QTest::newRow("update keeps spelling and blanks")
            << QByteArray("[general]\n  startline = 1   \n") << "StartLine"
            << "9" << QByteArray("[general]\n  startline = 9\n");
        QTest::newRow("first duplicate updated") << QByteArray("[GENERAL]\nA=1\nA=2\n") << "A"
                                                 << "3" << QByteArray("[GENERAL]\nA=3\nA=2\n");
        QTest::newRow("key appended to its section")
            << QByteArray("[GENERAL]\nA=1\n; note\n\n[OTHER]\nB=2\n") << "D"
            << "05.12.2026" << QByteArray("[GENERAL]\nA=1\nD=05.12.2026\n; note\n\n[OTHER]\nB=2\n");
        QTest::newRow("section appended, file's ending")
            << QByteArray("[OTHER]\nB=2") << "A"
            << "" << QByteArray("[OTHER]\nB=2\n[GENERAL]\nA=\n");
        QTest::newRow("lines keep their endings and bytes")
            << QByteArray("[GENERAL]\r\nA=1\nN=M\xfcller\r\n") << "A" << QStringLiteral("ä")
            << QByteArray("[GENERAL]\r\nA=\xc3\xa4\nN=M\xfcller\r\n");
    }
    void writesInPlace() {
        QFETCH(QByteArray, before);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        if (!before.isEmpty())
            writeBytes(file(), before);
        QVERIFY(write(file(), key, value));
        QCOMPARE(readBytes(file()), after);
        QCOMPARE(read(file(), key), value);
    }

    void valuesRoundTrip_data() {
        QTest::addColumn<QString>("value");
        for (const char* value : {"0,2\\0,2", "0.2\\0.2", "", "05.12.2026", "\"a\";b#c=d[e]"})
            QTest::newRow(value) << QString::fromLatin1(value);
        QTest::newRow("umlauts") << QStringLiteral("Größe µm");
    }
    void valuesRoundTrip() {
        QFETCH(QString, value);
        QVERIFY(write(file(), QStringLiteral("Key"), QStringLiteral("old")));
        QVERIFY(write(file(), QStringLiteral("Key"), value));
        QCOMPARE(read(file(), QStringLiteral("Key")), value);
    }

    // Whatever the file holds, reading ends with a value, and a write adds
    // the key without touching the bytes that were there.
    void survivesHostileFiles_data() {
        QTest::addColumn<QByteArray>("content");
        QByteArray binary;
        for (int i = 0; i < 65536; ++i)
            binary.append(char((i * 7919 + (i >> 3)) & 0xff));
        QTest::newRow("binary with NULs") << binary;
        QTest::newRow("1 MB line") << QByteArray("[GENERAL]\r\nX=") + QByteArray(1 << 20, 'x') +
                                          QByteArray("\r\nStartLine=1\r\n");
        QTest::newRow("1 MB without line break") << QByteArray(1 << 20, '[');
    }
    void survivesHostileFiles() {
        QFETCH(QByteArray, content);
        writeBytes(file(), content);
        const QString before = read(file(), QStringLiteral("StartLine"));
        QVERIFY(before == kDefault || before == QStringLiteral("1"));
        QVERIFY(write(file(), QStringLiteral("StartLine"), QStringLiteral("42")));
        QCOMPARE(read(file(), QStringLiteral("StartLine")), QStringLiteral("42"));
        if (before == kDefault)
            QVERIFY(readBytes(file()).startsWith(content));
    }

    void refusedWritesLeaveFileUntouched() {
        const QByteArray original("[GENERAL]\r\nPixelSpacing=0,2\r\n");
        writeBytes(file(), original);
        const QString key = QStringLiteral("PixelSpacing");
        // Texts that would add lines or sections.
        QVERIFY(!write(file(), key, QStringLiteral("1\r\n[X]")));
        QVERIFY(!write(file(), QStringLiteral("A=B"), {}));
        QVERIFY(!write(file(), QStringLiteral(" "), {}));
        QVERIFY(!modINI::WritePrivateProfileString(QStringLiteral("A]B"), key, {}, file()));
        // A path below a file.
        QVERIFY(!write(file() + QStringLiteral("/Settings.ini"), key, QStringLiteral("1")));
        QCOMPARE(readBytes(file()), original);

        if (ignoresFilePermissions())
            QSKIP("Running with rights that ignore file permissions.");
        QVERIFY(QFile::setPermissions(file(), QFileDevice::ReadOwner));
        QVERIFY(!write(file(), key, QStringLiteral("1")));
        QVERIFY(QFile::setPermissions(file(), QFileDevice::WriteOwner)); // unreadable
        QVERIFY(!write(file(), key, QStringLiteral("1")));
        QVERIFY(QFile::setPermissions(file(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(readBytes(file()), original);
    }

    void settingsFileFollowsWorkspace() {
        const TestWorkspace workspace;
        QCOMPARE(modINI::settingsFile(), workspace.root() + QStringLiteral("/Settings.ini"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
