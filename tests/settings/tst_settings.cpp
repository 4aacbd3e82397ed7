#include "TestSupport.h"
#include "modINI.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kSection = QStringLiteral("GENERAL");

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

QString read(const QString& path, const QString& key, const QString& defaultValue = {},
             int size = 256) {
    return modINI::ReadIniValue(kSection, key, defaultValue, path, size);
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsValues_data();
    void readsValues();
    void missingFileGivesDefaultAndStaysMissing();
    void valuesAreCutToSizeMinusOne();
    void writesInPlace_data();
    void writesInPlace();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void survivesHostileFiles_data();
    void survivesHostileFiles();
    void refusedWritesLeaveFileUntouched();
    void settingsFileFollowsWorkspace();

private:
    QTemporaryDir m_dir;
    QString file(const QString& name = QStringLiteral("Settings.ini")) const {
        return m_dir.filePath(name);
    }
};

void TestSettings::readsValues_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QByteArray general = "; written by hand\r\n[GENERAL]\r\nStartLine=120\r\n"
                               "PixelSpacing=0,2\\0,2\r\n[OTHER]\r\nStudyDate=01.01.2000\r\n";
    QTest::newRow("plain") << general << "StartLine"
                           << "120";
    QTest::newRow("backslash and comma kept") << general << "PixelSpacing"
                                              << "0,2\\0,2";
    QTest::newRow("key of another section ignored") << general << "StudyDate"
                                                    << "<default>";
    QTest::newRow("section and key case-insensitive")
        << QByteArray("[general]\nSTARTLINE=7\n") << "StartLine"
        << "7";
    QTest::newRow("blanks trimmed")
        << QByteArray("  [ GENERAL ]  \n\t StartLine \t=  -35 \t\n") << "StartLine"
        << "-35";
    QTest::newRow("comments are not keys")
        << QByteArray("[GENERAL]\n;StartLine=1\n  # StartLine=2\n") << "StartLine"
        << "<default>";
    QTest::newRow("first of duplicate keys")
        << QByteArray("[GENERAL]\nStartLine=1\nStartLine=2\n") << "StartLine"
        << "1";
    QTest::newRow("empty value is not the default")
        << QByteArray("[GENERAL]\nPixelSpacing=\n") << "PixelSpacing"
        << "";
    QTest::newRow("equals sign in value") << QByteArray("[GENERAL]\nA=b=c\n") << "A"
                                          << "b=c";
    QTest::newRow("no sections") << QByteArray("StartLine=5\n") << "StartLine"
                                 << "<default>";
    QTest::newRow("utf-8 value") << QByteArray("[GENERAL]\nName=M\xc3\xbcller\n") << "Name"
                                 << QStringLiteral("Müller");
    QTest::newRow("latin-1 value")
        << QByteArray("[GENERAL]\nName=M\xfcller\n") << "Name" << QStringLiteral("Müller");
    QTest::newRow("value ends at NUL")
        << bytes("[GENERAL]\r\nStartLine=7\0junk\r\n\xff\xfe\0") << "StartLine"
        << "7";
    QTest::newRow("lone CR is not a line break")
        << QByteArray("[GENERAL]\rStartLine=3\n") << "StartLine"
        << "<default>";
}

void TestSettings::readsValues() {
    QFETCH(QByteArray, content);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    writeBytes(file(), content);
    QCOMPARE(read(file(), key, QStringLiteral("<default>")), expected);
    QCOMPARE(readBytes(file()), content);
}

void TestSettings::missingFileGivesDefaultAndStaysMissing() {
    const QString path = file(QStringLiteral("missing.ini"));
    QCOMPARE(read(path, QStringLiteral("StartLine"), QStringLiteral("0")), QStringLiteral("0"));
    QVERIFY(!QFileInfo::exists(path));
    // A folder in the file's place reads like a missing file.
    QCOMPARE(read(m_dir.path(), QStringLiteral("StartLine"), QStringLiteral("0")),
             QStringLiteral("0"));
}

void TestSettings::valuesAreCutToSizeMinusOne() {
    const QString v255(255, QLatin1Char('a'));
    const QString v300 = QString(255, QLatin1Char('b')) + QString(45, QLatin1Char('c'));
    QVERIFY(modINI::WritePrivateProfileString(kSection, QStringLiteral("A"), v255, file()));
    QVERIFY(modINI::WritePrivateProfileString(kSection, QStringLiteral("B"), v300, file()));
    QCOMPARE(read(file(), QStringLiteral("A")), v255);
    QCOMPARE(read(file(), QStringLiteral("B")), v300.left(255));
    QCOMPARE(read(file(), QStringLiteral("B"), {}, 4), QStringLiteral("bbb"));
    QCOMPARE(read(file(), QStringLiteral("B"), {}, 1), QString());
    QCOMPARE(read(file(), QStringLiteral("B"), {}, 0), QString());
    QCOMPARE(read(file(), QStringLiteral("missing"), QStringLiteral("long default"), 5),
             QStringLiteral("long"));
}

void TestSettings::writesInPlace_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << QByteArray() << "StartLine"
                              << "5" << QByteArray("[GENERAL]\r\nStartLine=5\r\n");
    QTest::newRow("update keeps everything else")
        << QByteArray("; comment\r\n# other\r\n[X]\r\nStartLine=1\r\n[GENERAL]\r\n"
                      "A=1\r\nStartLine=3\r\nB=2\r\n\r\n[Y]\r\nC=3")
        << "StartLine"
        << "-12"
        << QByteArray("; comment\r\n# other\r\n[X]\r\nStartLine=1\r\n[GENERAL]\r\n"
                      "A=1\r\nStartLine=-12\r\nB=2\r\n\r\n[Y]\r\nC=3");
    QTest::newRow("update keeps spelling and blanks")
        << QByteArray("[general]\n  startline = 1   \n") << "StartLine"
        << "9" << QByteArray("[general]\n  startline = 9\n");
    QTest::newRow("only the first duplicate is updated")
        << QByteArray("[GENERAL]\nA=1\nA=2\n") << "A"
        << "3" << QByteArray("[GENERAL]\nA=3\nA=2\n");
    QTest::newRow("key appended after the section's last key")
        << QByteArray("[GENERAL]\nA=1\n; note\n\n[OTHER]\nB=2\n") << "StudyDate"
        << "05.12.2026"
        << QByteArray("[GENERAL]\nA=1\nStudyDate=05.12.2026\n; note\n\n[OTHER]\nB=2\n");
    QTest::newRow("key appended to an empty last section")
        << QByteArray("[OTHER]\r\nB=2\r\n[GENERAL]") << "A"
        << "" << QByteArray("[OTHER]\r\nB=2\r\n[GENERAL]\r\nA=\r\n");
    QTest::newRow("section appended in the file's line ending")
        << QByteArray("[OTHER]\nB=2") << "A"
        << "x" << QByteArray("[OTHER]\nB=2\n[GENERAL]\nA=x\n");
    QTest::newRow("each line keeps its own ending")
        << QByteArray("[GENERAL]\r\nA=1\nB=2\r\n") << "A"
        << "4" << QByteArray("[GENERAL]\r\nA=4\nB=2\r\n");
    QTest::newRow("latin-1 lines keep their bytes")
        << QByteArray("[GENERAL]\nName=M\xfcller\nA=1\n") << "A" << QStringLiteral("ä")
        << QByteArray("[GENERAL]\nName=M\xfcller\nA=\xc3\xa4\n");
}

void TestSettings::writesInPlace() {
    QFETCH(QByteArray, before);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    const QString path = file(QStringLiteral("write.ini"));
    QFile::remove(path);
    if (!before.isEmpty())
        writeBytes(path, before);
    QVERIFY(modINI::WritePrivateProfileString(kSection, key, value, path));
    QCOMPARE(readBytes(path), after);
    QCOMPARE(read(path, key, QStringLiteral("<default>")), value);
}

void TestSettings::valuesRoundTrip_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("comma spacing") << QStringLiteral("0,2\\0,2");
    QTest::newRow("point spacing") << QStringLiteral("0.2\\0.2");
    QTest::newRow("empty") << QString();
    QTest::newRow("date") << QStringLiteral("05.12.2026");
    QTest::newRow("negative") << QStringLiteral("-2147483648");
    QTest::newRow("quotes and separators") << QStringLiteral("\"a\";b#c=d[e]");
    QTest::newRow("umlauts") << QStringLiteral("Größe µm");
}

void TestSettings::valuesRoundTrip() {
    QFETCH(QString, value);
    const QString path = file(QStringLiteral("roundtrip.ini"));
    QFile::remove(path);
    QVERIFY(modINI::WritePrivateProfileString(kSection, QStringLiteral("Key"),
                                              QStringLiteral("old"), path));
    QVERIFY(modINI::WritePrivateProfileString(kSection, QStringLiteral("Key"), value, path));
    QCOMPARE(read(path, QStringLiteral("Key"), QStringLiteral("<default>")), value);
}

void TestSettings::survivesHostileFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QByteArray binary;
    for (int i = 0; i < 65536; ++i)
        binary.append(char((i * 7919 + (i >> 3)) & 0xff));
    QTest::newRow("binary with NULs") << binary;
    QTest::newRow("NULs only") << QByteArray(4096, '\0');
    QTest::newRow("1 MB line") << (QByteArray("[GENERAL]\r\nX=") + QByteArray(1 << 20, 'x') +
                                   QByteArray("\r\nStartLine=1\r\n"));
    QTest::newRow("1 MB without line break") << QByteArray(1 << 20, '[');
    QTest::newRow("unclosed section") << QByteArray("[GENERAL\nStartLine=1\n");
}

// Whatever the file holds, reading ends with a value and a write adds the
// key without touching the bytes that were there.
void TestSettings::survivesHostileFiles() {
    QFETCH(QByteArray, content);
    const QString path = file(QStringLiteral("hostile.ini"));
    writeBytes(path, content);
    const QString before = read(path, QStringLiteral("StartLine"), QStringLiteral("0"));
    QVERIFY(before == QStringLiteral("0") || before == QStringLiteral("1"));

    QVERIFY(modINI::WritePrivateProfileString(kSection, QStringLiteral("StartLine"),
                                              QStringLiteral("42"), path));
    QCOMPARE(read(path, QStringLiteral("StartLine")), QStringLiteral("42"));
    const QByteArray after = readBytes(path);
    if (before == QStringLiteral("0"))
        QVERIFY(after.startsWith(content));
    QVERIFY(after.size() >= content.size());
}

void TestSettings::refusedWritesLeaveFileUntouched() {
    const QByteArray original("[GENERAL]\r\nPixelSpacing=0,2\r\n");
    const QString path = file(QStringLiteral("kept.ini"));
    writeBytes(path, original);

    // Values and names that would add lines or sections are refused.
    const QString key = QStringLiteral("PixelSpacing");
    QVERIFY(!modINI::WritePrivateProfileString(kSection, key, QStringLiteral("1\r\n[X]"), path));
    QVERIFY(!modINI::WritePrivateProfileString(kSection, key, QStringLiteral("1\n"), path));
    QVERIFY(!modINI::WritePrivateProfileString(kSection, QStringLiteral("A=B"), {}, path));
    QVERIFY(!modINI::WritePrivateProfileString(kSection, QStringLiteral(" "), {}, path));
    QVERIFY(!modINI::WritePrivateProfileString(QStringLiteral("A]B"), key, {}, path));
    QCOMPARE(readBytes(path), original);

    // A path below a file cannot be written.
    const QString belowFile = path + QStringLiteral("/Settings.ini");
    QVERIFY(!modINI::WritePrivateProfileString(kSection, key, QStringLiteral("1"), belowFile));
    QCOMPARE(readBytes(path), original);

    if (ignoresFilePermissions())
        QSKIP("Running with rights that ignore file permissions.");
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
    QVERIFY(!modINI::WritePrivateProfileString(kSection, key, QStringLiteral("1"), path));
    QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    QVERIFY(!modINI::WritePrivateProfileString(kSection, key, QStringLiteral("1"), path));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(readBytes(path), original);
}

void TestSettings::settingsFileFollowsWorkspace() {
    const TestWorkspace workspace;
    QCOMPARE(modINI::settingsFile(), workspace.root() + QStringLiteral("/Settings.ini"));
    QVERIFY(modINI::WritePrivateProfileString(kSection, QStringLiteral("StartLine"),
                                              QStringLiteral("8"), modINI::settingsFile()));
    QCOMPARE(readBytes(workspace.path(QStringLiteral("/Settings.ini"))),
             QByteArray("[GENERAL]\r\nStartLine=8\r\n"));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
