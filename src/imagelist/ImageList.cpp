#include "imagelist/ImageList.h"

#include "global/modGlobal.h"
#include "imaging/Imaging.h"

#include "core/AtomicFile.h"
#include "core/Names.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <memory>
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

// Significant digits that every double holds exactly.
constexpr qsizetype kExactDigits = 15;

// The key of a text of ASCII digits alone, built from the digits themselves.
// Only for up to kExactDigits significant digits: longer ones are keyed by
// their nearest double, like every other number.
std::optional<QString> plainDigitsKey(const QString& text, const QLocale& locale) {
    if (text.isEmpty())
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    qsizetype first = 0;
    while (first < text.size() - 1 && text[first] == QLatin1Char('0'))
        ++first;
    const qsizetype digits = text.size() - first;
    if (digits > kExactDigits)
        return std::nullopt;
    QString key;
    key.reserve(2 * kKeyDigits + 2);
    key.fill(QLatin1Char('0'), kKeyDigits - digits);
    key += QStringView(text).mid(first);
    key += locale.decimalPoint();
    key += QString(kKeyDigits, QLatin1Char('0'));
    return key;
}

} // namespace

std::optional<QString> sortKeyFor(const QString& text, const QLocale& locale) {
    if (std::optional<QString> key = plainDigitsKey(text, locale))
        return key;
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
        CurrentListView->setSortState(column, true, 1 - CurrentListView->sortOrder());
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
    QList<modGlobal::FileEntry> files = modGlobal::fso().Files(
        folder + QLatin1Char('/') + core::names::kOriginal, modGlobal::FileTimes::Without);
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

struct Row {
    QString number;
    QString path;
    bool measured;
};

// What the reading thread hands back: the rows in the folder's order, the
// files it could not read and why the folder could not be listed, if so.
struct Reading {
    QList<Row> rows;
    QList<Unreadable> unreadable;
    QString folderProblem;
    std::exception_ptr failure;
};

// Orders the rows as the load's two sorts by number leave them: by sort key
// in the list's direction (order 0 ascending, 1 descending), compared as the
// list compares texts, and rows with equal keys in the folder's order, since
// both sorts are stable.
void sortByNumber(QList<Row>& rows, int order, const QLocale& locale) {
    QList<std::pair<QString, qsizetype>> keyed;
    keyed.reserve(rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i)
        keyed.append({sortKeyFor(rows[i].number, locale).value_or(rows[i].number), i});
    const bool descending = order != 0;
    std::stable_sort(keyed.begin(), keyed.end(), [descending](const auto& a, const auto& b) {
        return descending ? b.first < a.first : a.first < b.first;
    });
    QList<Row> sorted;
    sorted.reserve(rows.size());
    for (const auto& [key, at] : std::as_const(keyed))
        sorted.append(std::move(rows[at]));
    rows = std::move(sorted);
}

// Lists Original, reads every file's number and orders the rows by number.
// Runs away from the window; counts the listed files into total and the read
// ones into done, and stops early once cancel is set.
void readFolder(const QString& folder, int order, const QLocale& locale, Reading& out,
                std::atomic<int>& total, std::atomic<int>& done, const std::atomic<bool>& cancel) {
    try {
        QList<modGlobal::FileEntry> files;
        try {
            files = imageFiles(folder);
        } catch (const modGlobal::FileSystemError& e) {
            out.folderProblem = QStringLiteral("Der Ordner „%1“ kann nicht gelesen werden. %2 Die "
                                               "Bildliste bleibt leer.")
                                    .arg(QDir::toNativeSeparators(e.path()), e.cause());
            return;
        }
        total = static_cast<int>(files.size());
        out.rows.reserve(files.size());
        for (const modGlobal::FileEntry& file : std::as_const(files)) {
            if (cancel)
                return;
            try {
                const QString number = imaging::readImageNumber(file.path);
                out.rows.append({number, file.path, measuredCopyExists(folder, number)});
            } catch (const imaging::ImagingError& e) {
                out.unreadable.append({file.path, file.name, e.message()});
            }
            ++done;
        }
        sortByNumber(out.rows, order, locale);
    } catch (...) {
        out.failure = std::current_exception();
    }
}

// How often the window shows the progress of a load.
constexpr int kProgressIntervalMs = 50;

// The rows are made in slices with the events run between them, so that a
// long list does not hold up the window.
constexpr qsizetype kRowsPerSlice = 5000;

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
    lvwList->clear();

    const QString original = folder + QLatin1Char('/') + core::names::kOriginal;
    // Only a sort changes the list's direction, and none runs while this load
    // lets events run: a load started meanwhile supersedes this one.
    const int order = lvwList->sortOrder();
    // Events run while the headers are read and between slices of rows; they
    // may start a newer load or close the window, the session with it.
    const QPointer<ListView> list(lvwList);
    const QPointer<QProgressBar> bar(prgBar);
    const auto superseded = [&] { return !list || !bar || s.loadGeneration != generation; };
    Reading reading;
    if (!modGlobal::fso().FolderExists(original)) {
        reading.folderProblem = QStringLiteral("Der Messordner „%1“ hat keinen Unterordner "
                                               "„Original“. Die Bildliste bleibt leer.")
                                    .arg(QDir::toNativeSeparators(folder));
    } else {
        // The headers are read on another thread while events run here.
        std::atomic<int> total = -1;
        std::atomic<int> done = 0;
        std::atomic<bool> cancel = false;
        const std::unique_ptr<QThread> worker(QThread::create([&, locale = QLocale()] {
            readFolder(folder, order, locale, reading, total, done, cancel);
        }));
        QEventLoop loop;
        QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
        const auto showProgress = [&] {
            if (superseded()) {
                cancel = true;
                loop.quit();
                return;
            }
            if (total > 0)
                prgBar->setMaximum(total);
            prgBar->setValue(done);
        };
        QTimer progress;
        progress.setInterval(kProgressIntervalMs);
        QObject::connect(&progress, &QTimer::timeout, &loop, showProgress);
        progress.start();
        worker->start();
        loop.exec();
        cancel = cancel || superseded();
        worker->wait();
        if (cancel)
            return false;
        if (reading.failure)
            std::rethrow_exception(reading.failure);
        showProgress();
    }

    QList<QTreeWidgetItem*> items;
    items.reserve(reading.rows.size());
    for (const Row& row : std::as_const(reading.rows)) {
        if (!items.isEmpty() && items.size() % kRowsPerSlice == 0) {
            QCoreApplication::processEvents();
            if (superseded()) {
                qDeleteAll(items);
                return false;
            }
        }
        auto* item = new QTreeWidgetItem;
        item->setText(0, row.number);
        ListView::setTag(item, row.path);
        item->setText(1, row.measured ? QStringLiteral("X") : QStringLiteral("-"));
        items.append(item);
    }
    lvwList->addTopLevelItems(items);
    // The rows came in number order; the list takes the state that sorting
    // it twice by its first column leaves: that column, sorted, and the
    // direction it had before.
    lvwList->adoptSortState(0, true, order);
    s.loading = false;
    showList(lvwList, prgBar);

    if (!reading.folderProblem.isEmpty())
        modGlobal::MsgBox(lvwList, reading.folderProblem, modGlobal::Icon::Warning);
    else if (!reading.unreadable.isEmpty())
        modGlobal::MsgBox(lvwList, unreadableMessage(original, reading.unreadable),
                          modGlobal::Icon::Warning);
    return true;
}

} // namespace imagelist
