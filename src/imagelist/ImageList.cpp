#include "imagelist/ImageList.h"

#include "global/modGlobal.h"
#include "imaging/Imaging.h"

#include "core/AtomicFile.h"
#include "core/Names.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProgressBar>

#include <algorithm>
#include <cmath>
#include <new>

namespace imagelist {

namespace {

constexpr int kKeyDigits = 30;

// Joins a cell's own text and its previous tag while the cell holds a key.
const QChar kSeparator(0);

// A failure while sorting, shown as a numbered runtime error.
struct SortFailure {
    int number;
    QString description;
};
constexpr int kErrorOutOfMemory = 7;
constexpr int kErrorSubscriptOutOfRange = 9;

// First half of a sort: each cell keeps its text in the tag and shows its key.
void replaceTextsByKeys(const QList<QTreeWidgetItem*>& rows, int column, const QLocale& locale) {
    for (QTreeWidgetItem* row : rows) {
        const QString text = row->text(column);
        ListView::setTag(row, text + kSeparator + ListView::tag(row, column), column);
        if (const std::optional<QString> key = sortKeyFor(text, locale))
            row->setText(column, *key);
    }
}

// Second half: texts and tags back from the combined tags. Paths never
// contain the separator but a text read from a file may, so the split is at
// the last one.
void restoreTexts(const QList<QTreeWidgetItem*>& rows, int column) {
    for (QTreeWidgetItem* row : rows) {
        const QString combined = ListView::tag(row, column);
        const qsizetype at = combined.lastIndexOf(kSeparator);
        row->setText(column, combined.left(at));
        ListView::setTag(row, combined.mid(at + 1), column);
    }
}

} // namespace

std::optional<QString> sortKeyFor(const QString& text, const QLocale& locale) {
    bool ok = false;
    double value = locale.toDouble(text, &ok);
    if (!ok)
        value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const QString digits = QString::number(std::fabs(value), 'f', kKeyDigits);
    const qsizetype point = digits.indexOf(QLatin1Char('.'));
    QString key;
    key.reserve(2 * kKeyDigits + 2);
    if (value < 0)
        key += QLatin1Char('-');
    key += QString(std::max<qsizetype>(kKeyDigits - point, 0), QLatin1Char('0'));
    key += QStringView(digits).left(point);
    key += locale.decimalPoint();
    key += QStringView(digits).mid(point + 1);
    return key;
}

void SortListViewColumn(int Index, ListView* CurrentListView) {
    QWidget* window = CurrentListView->window();
    if (!modGlobal::LockWindowUpdate(window)) {
        modGlobal::MsgBox(window,
                          QStringLiteral("Can't lock window ") +
                              QString::number(static_cast<qulonglong>(window->winId())),
                          modGlobal::Icon::Critical);
        return;
    }
    try {
        const int column = std::max(Index, 0);
        // Checked before any row is touched, so a failure leaves the list as it was.
        if (column >= CurrentListView->columnCount())
            throw SortFailure{kErrorSubscriptOutOfRange,
                              QStringLiteral("Die Liste hat keine Spalte %1.").arg(column)};
        const QLocale locale;
        CurrentListView->rearrangeRows(
            [&](QList<QTreeWidgetItem*>& rows) { replaceTextsByKeys(rows, column, locale); });
        CurrentListView->setSortKey(column);
        CurrentListView->setSorted(true);
        CurrentListView->setSortOrder(1 - CurrentListView->sortOrder());
        CurrentListView->rearrangeRows(
            [column](QList<QTreeWidgetItem*>& rows) { restoreTexts(rows, column); });
        modGlobal::LockWindowUpdate(nullptr);
    } catch (const SortFailure& failure) {
        modGlobal::LockWindowUpdate(nullptr);
        modGlobal::MsgBox(window,
                          QStringLiteral("Runtime error %1: \r\n%2")
                              .arg(QString::number(failure.number), failure.description),
                          modGlobal::Icon::Critical);
    } catch (const std::bad_alloc&) {
        modGlobal::LockWindowUpdate(nullptr);
        modGlobal::MsgBox(
            window,
            QStringLiteral("Runtime error %1: \r\nNicht genügend Speicher.").arg(kErrorOutOfMemory),
            modGlobal::Icon::Critical);
    }
}

namespace {

// Only so many files are named, and only while their entries stay short, so
// that a folder of foreign files does not give a message taller than the
// screen.
constexpr int kNamedFailuresMax = 10;
constexpr qsizetype kNamedFailuresChars = 900;

struct Unreadable {
    QString path;
    QString name;
    QString cause;
};

// A cause that quotes the file's path names it by its file name: the folder
// is said once, above.
QString failureEntry(const Unreadable& file) {
    if (file.cause.contains(file.path))
        return QString(file.cause).replace(file.path, file.name);
    return QStringLiteral("%1: %2").arg(file.name, file.cause);
}

QString unreadableMessage(const QString& folder, const QList<Unreadable>& files) {
    QString text = files.size() == 1
                       ? QStringLiteral("Eine Datei im Ordner „%1“ konnte nicht als "
                                        "DICOM-Bild gelesen werden und fehlt in der Liste:\n")
                             .arg(QDir::toNativeSeparators(folder))
                       : QStringLiteral("%1 Dateien im Ordner „%2“ konnten nicht als "
                                        "DICOM-Bild gelesen werden und fehlen in der Liste:\n")
                             .arg(files.size())
                             .arg(QDir::toNativeSeparators(folder));
    qsizetype named = 0, chars = 0;
    for (const Unreadable& file : files) {
        const QString entry = failureEntry(file);
        chars += entry.size();
        if (named == kNamedFailuresMax || (named > 0 && chars > kNamedFailuresChars))
            break;
        text += QLatin1Char('\n') + entry;
        ++named;
    }
    if (files.size() > named)
        text += QStringLiteral("\n… und %1 weitere.").arg(files.size() - named);
    return text;
}

// A number that is empty or holds a path separator names no file in Gemessen.
bool measuredCopyExists(const QString& folder, const QString& number) {
    if (number.isEmpty() || number.contains(QLatin1Char('/')) || number.contains(QLatin1Char('\\')))
        return false;
    return modGlobal::fso().FileExists(folder + QLatin1Char('/') + core::names::kMeasured +
                                       QLatin1Char('/') + number + QStringLiteral(".dcm"));
}

// The files of the folder's Original that may be images. The program's own
// temporary files never are: they are left out, and those an interrupted
// write left in Original or Gemessen are removed where possible. Throws
// modGlobal::FileSystemError when Original cannot be listed.
QList<modGlobal::FileEntry> imageFiles(const QString& folder) {
    core::removeStaleTemporaries(folder + QLatin1Char('/') + core::names::kMeasured);
    QList<modGlobal::FileEntry> files =
        modGlobal::fso().Files(folder + QLatin1Char('/') + core::names::kOriginal);
    files.removeIf([](const modGlobal::FileEntry& file) {
        if (!core::isTemporaryName(file.name))
            return false;
        QFile::remove(file.path);
        return true;
    });
    return files;
}

void showList(ListView* list, QProgressBar* bar) {
    bar->hide();
    list->show();
    list->update();
}

} // namespace

bool LoadImageList(session::Session& s, const session::Controls& c) {
    ListView* const lvwList = c.lvwList;
    QProgressBar* const prgBar = c.prgBar;
    // A copy: a newer load started while events run changes the session's.
    const QString folder = s.currentFolder;
    const quint64 generation = ++s.loadGeneration;
    const bool interruptsLoad = s.loading;
    if (!modGlobal::fso().FolderExists(folder)) {
        // Nothing changes, unless a load this one supersedes has hidden the
        // list: its half-filled rows go and the list is shown again.
        if (interruptsLoad) {
            lvwList->clear();
            s.loading = false;
            showList(lvwList, prgBar);
        }
        return true;
    }
    s.loading = true;
    lvwList->hide();
    prgBar->show();
    prgBar->setValue(0);

    const QString original = folder + QLatin1Char('/') + core::names::kOriginal;
    QList<modGlobal::FileEntry> files;
    QString folderProblem;
    if (!modGlobal::fso().FolderExists(original)) {
        folderProblem = QStringLiteral("Der Messordner „%1“ hat keinen Unterordner „Original“. "
                                       "Die Bildliste bleibt leer.")
                            .arg(QDir::toNativeSeparators(folder));
    } else {
        try {
            files = imageFiles(folder);
        } catch (const modGlobal::FileSystemError& e) {
            folderProblem = QStringLiteral("Der Ordner „%1“ kann nicht gelesen werden. %2 Die "
                                           "Bildliste bleibt leer.")
                                .arg(QDir::toNativeSeparators(e.path()), e.cause());
        }
    }
    if (!files.isEmpty())
        prgBar->setMaximum(static_cast<int>(files.size()));
    lvwList->clear();

    // Events run before every file; they may start a newer load or close the
    // window, the session with it.
    const QPointer<ListView> list(lvwList);
    const QPointer<QProgressBar> bar(prgBar);
    const auto superseded = [&] { return !list || !bar || s.loadGeneration != generation; };
    QList<Unreadable> unreadable;
    for (const modGlobal::FileEntry& file : std::as_const(files)) {
        QCoreApplication::processEvents();
        if (superseded())
            return false;
        try {
            const QString number = imaging::readImageNumber(file.path);
            auto* row = new QTreeWidgetItem;
            row->setText(0, number);
            ListView::setTag(row, file.path);
            row->setText(1, measuredCopyExists(folder, number) ? QStringLiteral("X")
                                                               : QStringLiteral("-"));
            lvwList->addTopLevelItem(row);
        } catch (const imaging::ImagingError& e) {
            unreadable.append({file.path, file.name, e.message()});
        }
        prgBar->setValue(prgBar->value() + 1);
    }

    SortListViewColumn(0, lvwList);
    SortListViewColumn(0, lvwList);
    s.loading = false;
    showList(lvwList, prgBar);

    if (!folderProblem.isEmpty())
        modGlobal::MsgBox(lvwList, folderProblem, modGlobal::Icon::Warning);
    else if (!unreadable.isEmpty())
        modGlobal::MsgBox(lvwList, unreadableMessage(original, unreadable),
                          modGlobal::Icon::Warning);
    return true;
}

} // namespace imagelist
