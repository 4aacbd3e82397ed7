#include "TestSupport.h"
#include "core/AtomicFile.h"
#include "core/Causes.h"
#include "core/Error.h"
#include "core/Names.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

class TestCore : public QObject {
    Q_OBJECT

    // The files in a folder, hidden ones included.
    static QStringList fileNames(const QString& folder) {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // The cause replacing target by content fails with, or "<none>".
    static QString replaceCause(const QString& target, const QByteArray& content) {
        try {
            core::replaceFile(target, content);
        } catch (const core::FileSystemError& e) {
            return e.cause();
        }
        return QStringLiteral("<none>");
    }

private Q_SLOTS:
    // Every date form that names a real day becomes the folder-name form;
    // any other text stays.
    void formatsDates_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("formatted");
        for (const char* text : {"2024.02.29", "2024-02-29", "29.02.2024", " 20240229 "})
            QTest::newRow(text) << QString::fromLatin1(text) << QStringLiteral("2024.02.29");
        for (const char* text : {"2023.02.29", "2026.02.30", "13.13.2026", "00000101", "2026",
                                 "2026.12.05_1", "2026.1.05", "2026.12-05", "", "٢٠٢٦١٢٠٥"})
            QTest::newRow(text) << QString::fromUtf8(text) << QString::fromUtf8(text);
    }
    void formatsDates() {
        QFETCH(QString, text);
        QTEST(core::names::formatFolderDate(text), "formatted");
    }

    // Common error numbers read as German sentences, or as phrases inside
    // one; an uncommon one keeps the system's text after a German lead-in.
    void germanCauses() {
        QCOMPARE(core::systemCause(EACCES), u"Es fehlt die Berechtigung für diesen Zugriff."_s);
        QCOMPARE(core::systemCause(ENOSPC), u"Der Datenträger ist voll."_s);
        QCOMPARE(core::systemCause(EXDEV), u"Das Ziel liegt auf einem anderen Datenträger."_s);
        QCOMPARE(core::systemCause(EDOM),
                 u"Das System meldet: \u201ENumerical argument out of domain\u201C."_s);
        QCOMPARE(core::systemCausePhrase(EACCES), u"keine Berechtigung"_s);
        QCOMPARE(core::systemCausePhrase(EFBIG),
                 u"die Datei wäre größer, als das System erlaubt"_s);
        QCOMPARE(core::systemCausePhrase(EXDEV), QString());
        QCOMPARE(core::errorNumberOfText(std::strerror(EROFS)), EROFS);
        QCOMPARE(core::errorNumberOfText("Numerical argument out of domain"), 0);
    }

    // Qt's English texts map back to German causes.
    void fileCauses() {
        TestWorkspace ws;
        QFile missing(ws.path("/missing/file.bin"));
        QVERIFY(!missing.open(QIODevice::ReadOnly));
        QCOMPARE(core::fileCause(missing),
                 QStringLiteral("Die Datei oder der Ordner ist nicht vorhanden."));
#if !defined(Q_OS_UNIX)
        QSKIP("Needs POSIX file size limits.");
#else
        QFile full(ws.path("/full.bin"));
        QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        {
            FileSizeLimit limit(10);
            full.write(QByteArray(100, 'x'));
        }
        QCOMPARE(core::fileCause(full),
                 QStringLiteral("Die Datei konnte nicht vollständig geschrieben werden; der "
                                "Datenträger ist vermutlich voll."));
#endif
    }

    void temporaryNames() {
        const QString temporary = core::temporaryPathFor(u"/data/Messung/Gemessen/17.dcm"_s);
        QCOMPARE(QFileInfo(temporary).absolutePath(), u"/data/Messung/Gemessen"_s);
        QVERIFY(core::isTemporaryName(QFileInfo(temporary).fileName()));
        QVERIFY(!core::isTemporaryName(u"17.dcm"_s));
        QVERIFY(!core::isTemporaryName(u".17.dcm.tmp"_s));
        QVERIFY(!core::isTemporaryName(u"17.dcm.0123456789abcdef0123456789abcdef.tmp"_s));
    }

    // A target is replaced only by a complete file; a cut write keeps the old
    // one and leaves no temporary file behind.
    void replacesOnlyWhenComplete() {
#if !defined(Q_OS_UNIX)
        QSKIP("Needs POSIX file size limits.");
#else
        TestWorkspace ws;
        const QString target = ws.path("/Settings.ini");
        writeFile(target, "old");
        QString cause;
        {
            const FileSizeLimit limit(8);
            cause = replaceCause(target, QByteArray(64, 'n'));
        }
        QCOMPARE(cause, u"Die Datei konnte nicht vollständig geschrieben werden; der "
                        "Datenträger ist vermutlich voll."_s);
        QCOMPARE(readFile(target), QByteArray("old"));
        QCOMPARE(fileNames(ws.root()), QStringList{u"Settings.ini"_s});

        core::replaceFile(target, QByteArray("new"));
        QCOMPARE(readFile(target), QByteArray("new"));
        QCOMPARE(fileNames(ws.root()), QStringList{u"Settings.ini"_s});
#endif
    }

    // A writer's own failure passes on and its temporary file goes; the file
    // it completes takes the old file's permissions.
    void writerCallback() {
        TestWorkspace ws;
        const QString target = ws.path("/1.dcm");
        writeFile(target, "old");
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup));
        QVERIFY_THROWS_EXCEPTION(core::Error, core::replaceFile(target, [](const QString& path) {
                                     writeFile(path, "half");
                                     throw core::Error(u"Die Datei ist unvollständig."_s);
                                 }));
        QCOMPARE(readFile(target), QByteArray("old"));
        QCOMPARE(fileNames(ws.root()), QStringList{u"1.dcm"_s});

        core::replaceFile(target, [](const QString& path) { writeFile(path, "new"); });
        QCOMPARE(readFile(target), QByteArray("new"));
        // The user bits repeat the owner's for the file's owner.
        const QFileDevice::Permissions user =
            QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
        QCOMPARE(QFile::permissions(target) & ~user,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    }

    // A target the user may not write is refused, as a direct write is.
    void refusesReadOnlyTarget() {
#if !defined(Q_OS_LINUX)
        QSKIP("Needs Linux capabilities to make root respect permission bits.");
#else
        TestWorkspace ws;
        const QString target = ws.path("/Messwerte.csv");
        writeFile(target, "old");
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner));
        QString cause;
        {
            const PermissionBitsEnforced enforced;
            cause = replaceCause(target, "new");
        }
        QCOMPARE(cause, u"Es fehlt die Berechtigung für diesen Zugriff."_s);
        QCOMPARE(readFile(target), QByteArray("old"));
#endif
    }

    // A folder in the target's place is not replaced, and the cause says why.
    void refusesFolderTarget() {
        TestWorkspace ws;
        ws.mkpath("/3.dcm");
        QCOMPARE(replaceCause(ws.path("/3.dcm"), "new"),
                 u"An dieser Stelle steht ein Ordner, keine Datei."_s);
        QVERIFY(QFileInfo(ws.path("/3.dcm")).isDir());
        QCOMPARE(fileNames(ws.root()), QStringList());
    }

    void staleTemporariesRemoved() {
        TestWorkspace ws;
        writeFile(ws.path("/2.dcm"));
        writeFile(core::temporaryPathFor(ws.path("/2.dcm")));
        core::removeStaleTemporaries(ws.root());
        QCOMPARE(fileNames(ws.root()), QStringList{u"2.dcm"_s});
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
