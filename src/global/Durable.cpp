#include "global/Durable.h"

#include "global/modGlobal.h"

#include "core/AtomicFile.h"
#include "core/Causes.h"
#include "core/Names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace durable {

namespace {

const QString kNewKey = QStringLiteral("new");
const QString kOldKey = QStringLiteral("old");
const QString kForceKey = QStringLiteral("force");
const QString kDetailsKey = QStringLiteral("details");

// The journal is complete on disk before its name appears.
void writeJournal(const QJsonObject& entry) {
    try {
        core::replaceFile(journalFile(), QJsonDocument(entry).toJson(QJsonDocument::Compact));
    } catch (const core::FileSystemError& e) {
        throw modGlobal::FileSystemError(QStringLiteral("Vorgang vermerken"), e.path(), e.cause());
    }
}

// Carries out a journal entry; see completeInterruptedReplacement.
void finish(const QJsonObject& entry, QWidget* owner,
            const std::function<void(const QJsonObject&)>& completed) {
    const QString newFile = entry.value(kNewKey).toString();
    const QString oldFile = entry.value(kOldKey).toString();
    if (newFile.isEmpty() || oldFile.isEmpty())
        return;
    modGlobal::FileSystem& fs = modGlobal::fso();
    if (!fs.FileExists(newFile)) {
        core::removeStaleTemporaries(QFileInfo(newFile).absolutePath());
        return;
    }
    const QString operation =
        QStringLiteral("Das Abschließen des beim letzten Programmlauf unterbrochenen "
                       "Ersetzens von „%1“ durch „%2“")
            .arg(QDir::toNativeSeparators(oldFile), QDir::toNativeSeparators(newFile));
    if (fs.FileExists(oldFile) && !modGlobal::guarded(owner, operation, [&] {
            fs.RemoveFile(oldFile, entry.value(kForceKey).toBool());
        }))
        return;
    if (completed)
        modGlobal::guarded(owner, operation,
                           [&] { completed(entry.value(kDetailsKey).toObject()); });
}

} // namespace

Replacement::Replacement(const QString& newFile, const QString& oldFile, bool forceDelete,
                         const QJsonObject& details) {
    writeJournal(QJsonObject{
        {kNewKey, newFile}, {kOldKey, oldFile}, {kForceKey, forceDelete}, {kDetailsKey, details}});
}

Replacement::~Replacement() {
    QFile::remove(journalFile());
}

QString journalFile() {
    return modGlobal::workspaceRoot() + QLatin1Char('/') + core::names::kJournalFile;
}

void completeInterruptedReplacement(QWidget* owner,
                                    const std::function<void(const QJsonObject&)>& completed) {
    // A journal cut while it was written left only its temporary file: its
    // replacement had not begun.
    core::removeStaleTemporaries(modGlobal::workspaceRoot());
    QFile file(journalFile());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    file.close();
    finish(document.object(), owner, completed);
    if (!file.remove())
        modGlobal::reportFailure(
            owner, QStringLiteral("Das Entfernen des Vorgangsvermerks"),
            QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()),
                                         core::fileCause(file)));
}

} // namespace durable
