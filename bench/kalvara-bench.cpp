// Timed runs over generated data, each against a baseline of the same run.
// "--list N" writes N ultrasound-sized DICOM images into a temporary
// measurement folder and times loading the image list of the main window
// against reading the same files whole and against the floor of opening each
// file and reading its first 4 KB. "--show N" times N row clicks until the
// viewer has painted against reading the same files whole; "--save N" times
// N saves of a copy with two measurements against plain writes of the
// unmeasured image to new files, and the N rows of the record that those
// saves wrote saved again alone against the saves.

#include "app/frmMain.h"
#include "global/modGlobal.h"
#include "imagelist/ListView.h"
#include "imaging/Imaging.h"
#include "record/Record.h"
#include "viewer/Viewer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

int usage() {
    std::fprintf(stderr, "Aufruf: kalvara-bench [--list N] [--show N] [--save N]   (N > 0)\n");
    return 2;
}

double perItemMs(qint64 ns, int count) {
    return ns / 1e6 / count;
}

// An 8-bit grey bitmap as the import dialog receives it.
QString writeBitmap(const QString& folder) {
    QImage bitmap(kWidth, kHeight, QImage::Format_Indexed8);
    QList<QRgb> grey;
    for (int i = 0; i < 256; ++i)
        grey.append(qRgb(i, i, i));
    bitmap.setColorTable(grey);
    for (int y = 0; y < kHeight; ++y) {
        uchar* line = bitmap.scanLine(y);
        for (int x = 0; x < kWidth; ++x)
            line[x] = static_cast<uchar>((x * 7 + y * 3) % 256);
    }
    const QString path = folder + QStringLiteral("/bild.bmp");
    if (!bitmap.save(path, "BMP"))
        throw imaging::ImagingError(QStringLiteral("Bitmap %1 nicht schreibbar.").arg(path));
    return path;
}

// Writes count images named by their UIDs; every third has a measured copy.
QStringList writeImages(const QString& folder, const QString& bitmap, int count) {
    imaging::Image image;
    image.importBitmap(bitmap, QStringLiteral("BMP"));
    imaging::UidGenerator uids;
    QStringList paths;
    for (int i = 1; i <= count; ++i) {
        const QString uid = uids.newUid();
        image.setImageNumber(QString::number(i));
        image.setImageUid(uid);
        const QString path = folder + QStringLiteral("/Original/") + uid + QStringLiteral(".dcm");
        image.write(path, true);
        paths.append(path);
        if (i % 3 == 0) {
            QFile measured(folder + QStringLiteral("/Gemessen/") + QString::number(i) +
                           QStringLiteral(".dcm"));
            if (!measured.open(QIODevice::WriteOnly))
                throw imaging::ImagingError(
                    QStringLiteral("%1 nicht schreibbar.").arg(measured.fileName()));
        }
    }
    return paths;
}

void readWhole(const QStringList& paths) {
    for (const QString& path : paths) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            file.readAll();
    }
}

void readPrefixes(const QStringList& paths, qint64 bytes) {
    for (const QString& path : paths) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            file.read(bytes);
    }
}

// A workspace with count images in its current measurement, the main window
// showing its list, and every file in the page cache.
struct Bench {
    QTemporaryDir root;
    QString folder;
    QStringList paths;
    frmMain window;
    int messages = 0;

    explicit Bench(int count) {
        if (!root.isValid())
            throw imaging::ImagingError(QStringLiteral("Kein temporärer Ordner."));
        modGlobal::setWorkspaceRoot(root.path());
        modGlobal::setMessageHandler([this](const modGlobal::Message& m) {
            ++messages;
            std::fprintf(stderr, "Meldung: %s\n", qPrintable(m.text));
            return modGlobal::Answer::Ok;
        });
        folder = root.path() + QStringLiteral("/Messungen/Messung");
        QDir().mkpath(folder + QStringLiteral("/Original"));
        QDir().mkpath(folder + QStringLiteral("/Gemessen"));
        paths = writeImages(folder, writeBitmap(root.path()), count);
        readWhole(paths);
        window.show();
        window.session.currentFolder = folder;
    }

    bool load() {
        window.LoadImageList();
        if (window.lvwList->topLevelItemCount() == paths.size() && messages == 0)
            return true;
        std::fprintf(stderr, "Die Liste hat %d statt %lld Zeilen, %d Meldungen.\n",
                     window.lvwList->topLevelItemCount(), static_cast<long long>(paths.size()),
                     messages);
        return false;
    }

    // A left click on row i as the operator does it, then the viewer painted.
    void clickRow(int i) {
        QTreeWidgetItem* row = window.lvwList->topLevelItem(i);
        window.lvwList->setCurrentItem(row);
        const QPointF at = window.lvwList->visualItemRect(row).center();
        QMouseEvent release(QEvent::MouseButtonRelease, at,
                            window.lvwList->viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.lvwList->viewport(), &release);
        window.dvIMG->repaint();
    }

    qint64 readAllWhole() const {
        QElapsedTimer timer;
        timer.start();
        imaging::ImageCollection collection;
        for (const QString& path : paths) {
            collection.clear();
            collection.readFile(path);
        }
        return timer.nsecsElapsed();
    }
};

int benchList(int count) {
    Bench bench(count);
    QElapsedTimer timer;
    timer.start();
    if (!bench.load())
        return 1;
    const qint64 listNs = timer.nsecsElapsed();
    const qint64 wholeNs = bench.readAllWhole();
    timer.restart();
    readPrefixes(bench.paths, 4096);
    const qint64 prefixNs = timer.nsecsElapsed();

    std::printf("list %d files: %.0f ms, whole-file reads: %.0f ms, 4 KB reads: %.0f ms, "
                "ratio: %.1f\n",
                count, listNs / 1e6, wholeNs / 1e6, prefixNs / 1e6,
                static_cast<double>(wholeNs) / static_cast<double>(listNs));
    return 0;
}

int benchShow(int count) {
    Bench bench(count);
    if (!bench.load())
        return 1;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        bench.clickRow(i);
    const qint64 showNs = timer.nsecsElapsed();
    if (bench.window.dvIMG->tag() != QStringLiteral("ORIGINAL") || bench.messages != 0)
        return 1;
    const qint64 wholeNs = bench.readAllWhole();
    std::printf("show %d images: %.2f ms per image, whole-file reads: %.2f ms per image, "
                "ratio: %.2f\n",
                count, perItemMs(showNs, count), perItemMs(wholeNs, count),
                static_cast<double>(showNs) / static_cast<double>(wholeNs));
    return 0;
}

int benchSave(int count) {
    Bench bench(count);
    if (!bench.load())
        return 1;
    const session::Controls controls = bench.window.controls();
    session::Session& session = bench.window.session;
    QDir().mkpath(bench.root.path() + QStringLiteral("/plain"));
    qint64 saveNs = 0;
    qint64 writeNs = 0;
    QElapsedTimer timer;
    for (int i = 0; i < count; ++i) {
        bench.clickRow(i);
        viewer::dvIMG_MouseEvent(session, controls, 1, 0, 100, 300);
        viewer::dvIMG_MouseEvent(session, controls, 1, 0, 300, 400);
        timer.start();
        viewer::cmdSave_Click(session, controls);
        saveNs += timer.nsecsElapsed();
        timer.start();
        bench.window.dvIMG->images().item(1).write(
            bench.root.path() + QStringLiteral("/plain/%1.dcm").arg(i), true);
        writeNs += timer.nsecsElapsed();
    }
    // Each row replaced once more in the record of count rows.
    timer.start();
    for (const QString& path : std::as_const(bench.paths))
        record::saveEntries(
            bench.folder,
            {{QStringLiteral("1"),
              QFileInfo(path).completeBaseName(),
              QStringLiteral("05.12.2026"),
              QStringLiteral("07.12.2026 10:00:00"),
              {{QStringLiteral("31,6"), QStringLiteral("mm"), QStringLiteral("100")},
               {QStringLiteral("50,2"), QStringLiteral("mm"), QStringLiteral("100")}}}});
    const qint64 recordNs = timer.nsecsElapsed();
    if (bench.messages != 0)
        return 1;
    std::printf("save %d copies: %.2f ms per copy, plain writes: %.2f ms per image, "
                "ratio: %.2f\n",
                count, perItemMs(saveNs, count), perItemMs(writeNs, count),
                static_cast<double>(saveNs) / static_cast<double>(writeNs));
    std::printf("record of %d rows: %.2f ms per row saved again, share of a save: %.2f\n", count,
                perItemMs(recordNs, count),
                static_cast<double>(recordNs) / static_cast<double>(saveNs));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    imaging::initialise();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3 || args.size() % 2 == 0)
        return usage();
    const QList<std::pair<QString, int (*)(int)>> runs = {{QStringLiteral("--list"), benchList},
                                                          {QStringLiteral("--show"), benchShow},
                                                          {QStringLiteral("--save"), benchSave}};
    for (int i = 1; i < args.size(); i += 2) {
        bool ok = false;
        const int count = args[i + 1].toInt(&ok);
        const auto run = std::find_if(runs.begin(), runs.end(),
                                      [&](const auto& r) { return r.first == args[i]; });
        if (!ok || count <= 0 || run == runs.end())
            return usage();
        try {
            if (const int result = run->second(count); result != 0)
                return result;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    return 0;
}
