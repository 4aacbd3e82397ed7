// Timed runs over generated data, each against a baseline of the same run,
// every ratio printed as the program's time divided by the baseline's.
// "--list N" times loading the image list of the main window over N images
// against DCMTK reading the same files' headers up to the pixel data and
// against opening each file and reading its first 4 KB, and measures the
// longest pause of the event loop during a second load. "--show N" times N
// row clicks until the viewer has painted a 640 × 480 grey image against
// DicomImage rendering frame 1 of the same files; "--show-rgb N" does so for
// 1024 × 768 RGB images and "--show-cine N" for 20-frame JPEG 2000 cines,
// whose baseline is OpenJPEG decoding frame 1 alone. "--save N" times N saves
// of a copy with two measurements against plain writes of the unmeasured
// image to new files, and the N rows of the record that those saves wrote
// saved again alone against the saves. "--pointer N" times N pointer moves
// over a shown image with the guide and the loupe at 1920 × 1080, each until
// the viewer has painted what changed (and once more with the whole viewer
// repainted), against plain repaints of the whole viewer. "--report N"
// measures and saves N images, then times the day's report (PDF and
// workbook) against rendering the same N thumbnails alone.

#include "Baselines.h"
#include "Workspace.h"
#include "global/modGlobal.h"
#include "imaging/Imaging.h"
#include "record/Record.h"
#include "report/Report.h"
#include "viewer/Viewer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMouseEvent>

#include <algorithm>
#include <cstdio>

namespace {

int usage() {
    std::fprintf(stderr, "Aufruf: kalvara-bench [--list N] [--show N] [--show-rgb N] "
                         "[--show-cine N] [--save N] [--pointer N] [--report N]   (N > 0)\n");
    return 2;
}

double perItemMs(qint64 ns, int count) {
    return ns / 1e6 / count;
}

double ratio(qint64 ns, qint64 baselineNs) {
    return static_cast<double>(ns) / static_cast<double>(baselineNs);
}

int benchList(int count) {
    Bench bench(count, Kind::Grey);
    // The dictionary and the first read of a file are one-time costs.
    baseline::warmDictionary();
    imaging::ImageCollection().readFile(bench.paths.first());
    QElapsedTimer timer;
    timer.start();
    if (baseline::readHeaders(bench.paths) != count)
        return 1;
    const qint64 headersNs = timer.nsecsElapsed();
    timer.restart();
    if (!bench.load())
        return 1;
    const qint64 listNs = timer.nsecsElapsed();
    timer.restart();
    readPrefixes(bench.paths, 4096);
    const qint64 prefixNs = timer.nsecsElapsed();
    const qint64 pauseNs = bench.longestPauseNs();
    if (pauseNs < 0)
        return 1;
    std::printf("list %d files: %.0f ms (%.0f µs per file), DCMTK header reads: %.0f ms, "
                "ratio: %.2f; 4 KB reads: %.0f ms, ratio: %.1f; longest pause: %.0f ms\n",
                count, listNs / 1e6, listNs / 1e3 / count, headersNs / 1e6,
                ratio(listNs, headersNs), prefixNs / 1e6, ratio(listNs, prefixNs), pauseNs / 1e6);
    return 0;
}

// Clicks count rows of images of the kind, after one untimed click on an
// extra image, against decoding frame 1 of as many of the files.
int benchShow(int count, Kind kind, const char* name) {
    Bench bench(count + 1, kind);
    if (!bench.load())
        return 1;
    baseline::decodeFrame1(bench.paths.last());
    bench.clickRow(count);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        bench.clickRow(i);
    const qint64 showNs = timer.nsecsElapsed();
    if (bench.window.dvIMG->tag() != QStringLiteral("ORIGINAL") || bench.messages != 0)
        return 1;
    timer.restart();
    for (int i = 0; i < count; ++i)
        baseline::decodeFrame1(bench.paths[i]);
    const qint64 frameNs = timer.nsecsElapsed();
    std::printf("show %d %s: %.2f ms per image, frame 1 decoded: %.2f ms per image, "
                "ratio: %.2f\n",
                count, name, perItemMs(showNs, count), perItemMs(frameNs, count),
                ratio(showNs, frameNs));
    return 0;
}

int benchShowGrey(int count) {
    return benchShow(count, Kind::Grey, "grey images");
}

int benchShowRgb(int count) {
    return benchShow(count, Kind::Rgb, "RGB images");
}

int benchShowCine(int count) {
    return benchShow(count, Kind::Cine, "cines");
}

int benchSave(int count) {
    Bench bench(count, Kind::Grey);
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
                count, perItemMs(saveNs, count), perItemMs(writeNs, count), ratio(saveNs, writeNs));
    std::printf("record of %d rows: %.2f ms per row saved again, share of a save: %.2f\n", count,
                perItemMs(recordNs, count), ratio(recordNs, saveNs));
    return 0;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// Moves the pointer count times along a zigzag over the image, Shift held,
// after each move either letting the event loop paint or repainting the
// whole viewer; the time of all moves.
qint64 movePointer(imaging::DicomViewer& viewer, int count, bool wholeViewer) {
    const QRect surface = viewer.placement().surfaceRect();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        const QPointF at(surface.left() + (i * 3) % surface.width(),
                         surface.top() + 200 + (i % 200));
        QMouseEvent move(QEvent::MouseMove, at, viewer.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::ShiftModifier);
        QCoreApplication::sendEvent(&viewer, &move);
        if (wholeViewer)
            viewer.repaint();
        else
            QCoreApplication::processEvents();
    }
    return timer.nsecsElapsed();
}

int benchPointer(int count) {
    Bench bench(1, Kind::Grey);
    bench.window.resize(1920, 1080);
    if (!bench.load())
        return 1;
    bench.clickRow(0);
    imaging::DicomViewer& viewer = *bench.window.dvIMG;
    modGlobal::setStartLine(QStringLiteral("100"));
    viewer::showStartLine(bench.window.session, bench.window.controls());
    movePointer(viewer, 10, true);
    if (!viewer.guide() || viewer.loupeRect().isEmpty() || bench.messages != 0)
        return 1;
    // Each move must have been painted, or the figure times nothing.
    const PaintCounter counter(viewer);
    const qint64 changedNs = movePointer(viewer, count, false);
    if (counter.paints < count) {
        std::fprintf(stderr, "%d of %d moves painted\n", counter.paints, count);
        return 1;
    }
    const qint64 wholeNs = movePointer(viewer, count, true);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        viewer.repaint();
    const qint64 repaintNs = timer.nsecsElapsed();
    std::printf("pointer %d moves over %d × %d: %.3f ms per move, plain repaints: %.3f ms, "
                "ratio: %.2f; with the whole viewer repainted: %.3f ms per move, ratio: %.2f\n",
                count, viewer.width(), viewer.height(), perItemMs(changedNs, count),
                perItemMs(repaintNs, count), ratio(changedNs, repaintNs), perItemMs(wholeNs, count),
                ratio(wholeNs, repaintNs));
    return 0;
}

int benchReport(int count) {
    Bench bench(count, Kind::Grey);
    if (!bench.load())
        return 1;
    const session::Controls controls = bench.window.controls();
    for (int i = 0; i < count; ++i) {
        bench.clickRow(i);
        viewer::dvIMG_MouseEvent(bench.window.session, controls, 1, 0, 100, 300);
        viewer::dvIMG_MouseEvent(bench.window.session, controls, 1, 0, 300, 400);
        viewer::cmdSave_Click(bench.window.session, controls);
    }
    const QFileInfoList copies =
        QDir(bench.folder + QStringLiteral("/Gemessen")).entryInfoList(QDir::Files);
    if (copies.size() != count || bench.messages != 0)
        return 1;
    QElapsedTimer timer;
    timer.start();
    const report::Files files = report::writeReport(bench.folder, {});
    const qint64 reportNs = timer.nsecsElapsed();
    timer.restart();
    for (const QFileInfo& copy : copies)
        if (report::thumbnail(copy.filePath(), report::thumbnailBounds()).isNull())
            return 1;
    const qint64 thumbnailNs = timer.nsecsElapsed();
    std::printf("report of %d cows: %.0f ms (PDF %.1f MB), %d thumbnails alone: %.0f ms, "
                "ratio: %.2f\n",
                count, reportNs / 1e6, QFileInfo(files.pdf).size() / 1e6, count, thumbnailNs / 1e6,
                ratio(reportNs, thumbnailNs));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Each figure appears as soon as it is measured, also through a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    imaging::initialise();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3 || args.size() % 2 == 0)
        return usage();
    const QList<std::pair<QString, int (*)(int)>> runs = {
        {QStringLiteral("--list"), benchList},
        {QStringLiteral("--show"), benchShowGrey},
        {QStringLiteral("--show-rgb"), benchShowRgb},
        {QStringLiteral("--show-cine"), benchShowCine},
        {QStringLiteral("--save"), benchSave},
        {QStringLiteral("--pointer"), benchPointer},
        {QStringLiteral("--report"), benchReport}};
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
