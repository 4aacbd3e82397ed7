#include "report/Pdf.h"

#include "core/AtomicFile.h"
#include "core/Causes.h"
#include "core/Names.h"
#include "imaging/DicomViewer.h"
#include "imaging/ImagingError.h"
#include "report/ReportError.h"
#include "report/Statistics.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <memory>

namespace report {

QImage thumbnail(const QString& copyPath, QSize bounds) {
    imaging::DicomViewer viewer;
    viewer.images().readFile(copyPath);
    const imaging::Image& image = viewer.images().item(1);
    if (image.displayImage().isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    // The viewer sized to the image's shape, so the picture fills it.
    const QSize size = QSize(image.width(), image.height()).scaled(bounds, Qt::KeepAspectRatio);
    viewer.resize(size.expandedTo(QSize(1, 1)));
    QImage picture(viewer.size(), QImage::Format_RGB32);
    viewer.render(&picture);
    return picture;
}

namespace {

constexpr int kResolution = 300; // dots per inch of the page's coordinates
constexpr int kColumns = 3;      // thumbnails side by side
// A4 with its margins, in millimetres.
constexpr double kPageWidth = 210.0;
constexpr double kSideMargin = 15.0;
constexpr double kThumbnailGap = 4.0;

int mm(double millimetres) {
    return qRound(millimetres * kResolution / 25.4);
}

// A thumbnail's frame on the page: a third of the content width, 4:3.
QSize thumbnailFrame() {
    const int content = mm(kPageWidth - 2 * kSideMargin);
    const int width = (content - (kColumns - 1) * mm(kThumbnailGap)) / kColumns;
    return {width, width * 3 / 4};
}

} // namespace

QSize thumbnailBounds() {
    return thumbnailFrame() / 2;
}

QString pdfPath(const Day& day, const QDateTime& made) {
    const QList<QDate> dates = day.studyDates();
    const QDate date = dates.isEmpty() ? made.date() : dates.front();
    return day.folder + QStringLiteral("/Bericht_") +
           date.toString(core::names::kFolderDateFormat) + QStringLiteral(".pdf");
}

namespace {

QFont font(double points, bool bold = false) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QString lengthsText(const Animal& animal) {
    QStringList texts;
    for (const Length& length : animal.lengths)
        texts << QStringLiteral("Länge %1: %2 %3").arg(length.column).arg(length.text, length.unit);
    return texts.isEmpty() ? QStringLiteral("keine Messwerte") : texts.join(QStringLiteral("; "));
}

QString dateText(const QDate& date) {
    return date.toString(QStringLiteral("dd.MM.yyyy"));
}

// A piece of a page: painted into a rectangle of the content's width and
// its height, at the place the pages give it.
struct Block {
    int height = 0;
    bool newPage = false; // starts a page of its own
    std::function<void(QPainter&, const QRect&)> paint;
    // Painted first on every page this block's section continues on.
    std::shared_ptr<Block> header;
};

// The report laid out as blocks on pages of one content size.
class Layout {
public:
    Layout(QPaintDevice& device, QSize content) : m_device(device), m_content(content) {}

    int width() const { return m_content.width(); }
    int height() const { return m_content.height(); }

    // The height text takes, wrapped at width, in the font.
    int textHeight(const QString& text, const QFont& f, int width) const {
        const QFontMetrics metrics(f, &m_device);
        return metrics.boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, text).height();
    }

    void add(Block block) { m_blocks << std::move(block); }

    void text(const QString& text, const QFont& f, int spaceBefore = 0, bool newPage = false) {
        const int height = textHeight(text, f, width());
        add({height + spaceBefore, newPage,
             [=](QPainter& p, const QRect& r) {
                 p.setFont(f);
                 p.drawText(r.adjusted(0, spaceBefore, 0, 0), Qt::TextWordWrap, text);
             },
             nullptr});
    }

    // The blocks of each page, with their tops.
    QList<QList<std::pair<const Block*, int>>> pages() const {
        QList<QList<std::pair<const Block*, int>>> pages(1);
        int y = 0;
        for (const Block& block : m_blocks) {
            const bool full = y > 0 && y + block.height > m_content.height();
            if ((block.newPage && y > 0) || full) {
                pages.emplace_back();
                y = 0;
                if (full && block.header) {
                    pages.last().append({block.header.get(), y});
                    y += block.header->height;
                }
            }
            pages.last().append({&block, y});
            y += block.height;
        }
        return pages;
    }

private:
    QPaintDevice& m_device;
    QSize m_content;
    QList<Block> m_blocks;
};

// A row of cells with the given widths (parts of the whole width), each cell's
// text wrapped, the row as high as its highest cell.
Block tableRow(const Layout& layout, const QStringList& cells, const QList<double>& widths,
               const QFont& f, bool shaded) {
    const int pad = mm(1);
    QList<int> columns;
    for (const double w : widths)
        columns << qRound(w * layout.width());
    int height = 0;
    for (qsizetype i = 0; i < cells.size(); ++i)
        height = std::max(height, layout.textHeight(cells[i], f, columns[i] - 2 * pad));
    // A row higher than a page (a hand-edited cell) is cut at the page's end.
    return {std::min(height + 2 * pad, layout.height() / 2), false,
            [=](QPainter& p, const QRect& r) {
                if (shaded)
                    p.fillRect(r, QColor(230, 230, 230));
                p.setFont(f);
                int x = r.left();
                for (qsizetype i = 0; i < cells.size(); ++i) {
                    p.drawText(
                        QRect(x + pad, r.top() + pad, columns[i] - 2 * pad, r.height() - 2 * pad),
                        Qt::TextWordWrap, cells[i]);
                    x += columns[i];
                }
                p.setPen(QPen(QColor(160, 160, 160), 0));
                p.drawLine(r.bottomLeft(), r.bottomRight());
                p.setPen(Qt::black);
            },
            nullptr};
}

// A histogram of a group's values: bars, their counts above them and the
// bin edges below.
void paintHistogram(QPainter& p, const QRect& r, const LengthGroup& group) {
    const Histogram h = histogram(group.values);
    const int bins = static_cast<int>(h.counts.size());
    const int most = *std::max_element(h.counts.begin(), h.counts.end());
    p.setFont(font(9, true));
    const int titleHeight = QFontMetrics(p.font(), p.device()).height();
    p.drawText(QRect(r.left(), r.top(), r.width(), titleHeight), Qt::AlignLeft,
               QStringLiteral("Häufigkeit: %1 in %2").arg(group.title(), group.unit));
    p.setFont(font(7));
    const int labelHeight = QFontMetrics(p.font(), p.device()).height();
    const QRect plot(r.left() + mm(8), r.top() + titleHeight + labelHeight + mm(1),
                     r.width() - mm(16), r.height() - titleHeight - 3 * labelHeight - mm(2));
    const double barWidth = static_cast<double>(plot.width()) / bins;
    for (int i = 0; i < bins; ++i) {
        const int barHeight = qRound(static_cast<double>(plot.height()) * h.counts[i] / most);
        const QRectF bar(plot.left() + i * barWidth, plot.bottom() - barHeight, barWidth,
                         barHeight);
        p.fillRect(bar.adjusted(mm(0.4), 0, -mm(0.4), 0), QColor(70, 110, 160));
        p.drawText(QRectF(bar.left(), bar.top() - labelHeight, barWidth, labelHeight),
                   Qt::AlignHCenter | Qt::AlignBottom, QString::number(h.counts[i]));
    }
    p.setPen(QPen(Qt::black, mm(0.2)));
    p.drawLine(plot.bottomLeft(), plot.bottomRight());
    p.setPen(Qt::black);
    // Each edge below the axis, alternately on two lines so that they never overlap.
    for (int i = 0; i <= bins; ++i) {
        const double x = plot.left() + i * barWidth;
        const int line = bins > 6 ? i % 2 : 0;
        p.drawText(QRectF(x - barWidth, plot.bottom() + mm(0.5) + line * labelHeight, 2 * barWidth,
                          labelHeight),
                   Qt::AlignHCenter | Qt::AlignTop, formatNumber(h.edges[i], group.decimals + 1));
    }
}

void addSummary(Layout& layout, const Day& day, const QList<LengthGroup>& groups,
                const QDateTime& made) {
    layout.text(QStringLiteral("Messbericht"), font(20, true));
    layout.text(QFileInfo(day.folder).fileName(), font(12), mm(1));
    QStringList dates;
    for (const QDate& date : day.studyDates())
        dates << dateText(date);
    const QList<std::pair<QString, QString>> facts = {
        {QStringLiteral("Ordner"), QDir::toNativeSeparators(day.folder)},
        {QStringLiteral("Studiendatum"),
         dates.isEmpty() ? QStringLiteral("unbekannt") : dates.join(QStringLiteral(", "))},
        {QStringLiteral("Bilder"), QString::number(day.images)},
        {QStringLiteral("Gemessene Bilder"), QString::number(day.animals.size())},
        {QStringLiteral("Davon mit gemessener Kopie"), QString::number(day.copies())},
        {QStringLiteral("Erstellt am"), made.toString(QStringLiteral("dd.MM.yyyy HH:mm"))}};
    layout.add({mm(4), false, [](QPainter&, const QRect&) {}, nullptr});
    for (const auto& [name, value] : facts)
        layout.add(tableRow(layout, {name + QLatin1Char(':'), value}, {0.3, 0.7}, font(10), false));

    layout.text(QStringLiteral("Messwerte je Länge"), font(13, true), mm(8));
    if (groups.isEmpty()) {
        layout.text(QStringLiteral("Keine Messwerte."), font(10), mm(2));
    } else {
        const QList<double> widths = {0.1, 0.2, 0.08, 0.11, 0.13, 0.13, 0.12, 0.13};
        auto header = std::make_shared<Block>(tableRow(
            layout,
            {QStringLiteral("Länge"), QStringLiteral("Kalibrierung"), QStringLiteral("Anzahl"),
             QStringLiteral("Mittelwert"), QStringLiteral("Standard\u00ADabweichung (n\u22121)"),
             QStringLiteral("Minimum"), QStringLiteral("Median"), QStringLiteral("Maximum")},
            widths, font(8, true), true));
        layout.add(*header);
        for (const LengthGroup& g : groups) {
            const Statistics& s = g.figures;
            const QString unit = QLatin1Char(' ') + g.unit;
            Block row =
                tableRow(layout,
                         {QString::number(g.column),
                          g.calibration.isEmpty() ? QStringLiteral("\u2013") : g.calibration,
                          QString::number(s.count), formatNumber(s.mean, g.decimals + 1) + unit,
                          s.deviation ? formatNumber(*s.deviation, g.decimals + 1) + unit
                                      : QStringLiteral("\u2013"),
                          formatNumber(s.minimum, g.decimals) + unit,
                          formatNumber(s.median, g.decimals + 1) + unit,
                          formatNumber(s.maximum, g.decimals) + unit},
                         widths, font(8), false);
            row.header = header;
            layout.add(row);
        }
        for (const LengthGroup& g : groups)
            layout.add({mm(62), false,
                        [g](QPainter& p, const QRect& r) {
                            paintHistogram(p, r.adjusted(0, mm(6), 0, 0), g);
                        },
                        nullptr});
    }
    if (!day.problems.isEmpty()) {
        layout.text(QStringLiteral("Nicht gelesen"), font(13, true), mm(8));
        layout.text(QStringLiteral("Diese Zeilen und Dateien konnten nicht (ganz) gelesen "
                                   "werden; ihre Werte fehlen in den Zahlen oben."),
                    font(9), mm(1));
        for (const Problem& problem : day.problems)
            layout.add(
                tableRow(layout, {problem.place, problem.reason}, {0.22, 0.78}, font(9), false));
    }
}

void addTable(Layout& layout, const Day& day) {
    layout.text(QStringLiteral("Gemessene Tiere"), font(13, true), 0, true);
    const QList<double> widths = {0.07, 0.2, 0.5, 0.23};
    auto header = std::make_shared<Block>(
        tableRow(layout,
                 {QStringLiteral("Nr."), QStringLiteral("Kuhnummer"), QStringLiteral("Messwerte"),
                  QStringLiteral("Gespeichert")},
                 widths, font(9, true), true));
    header->height += mm(2);
    layout.add(*header);
    for (qsizetype i = 0; i < day.animals.size(); ++i) {
        const Animal& animal = day.animals[i];
        Block row = tableRow(
            layout,
            {QString::number(i + 1), animal.number, lengthsText(animal), animal.savedAtText},
            widths, font(9), false);
        row.header = header;
        layout.add(row);
    }
}

void addThumbnails(Layout& layout, const Day& day, const Progress& progress) {
    QList<const Animal*> measured;
    for (const Animal& animal : day.animals)
        if (!animal.copyPath.isEmpty())
            measured << &animal;
    if (measured.isEmpty())
        return;
    layout.text(QStringLiteral("Gemessene Kopien"), font(13, true), 0, true);
    const int gap = mm(kThumbnailGap);
    const int cell = thumbnailFrame().width();
    const int pictureHeight = thumbnailFrame().height();
    const QFont caption = font(9, true);
    const QFont values = font(8);
    auto done = std::make_shared<int>(0);
    const int total = static_cast<int>(measured.size());
    for (qsizetype first = 0; first < measured.size(); first += kColumns) {
        const QList<const Animal*> row = measured.mid(first, kColumns);
        int textHeight = 0;
        for (const Animal* animal : row)
            textHeight =
                std::max(textHeight, layout.textHeight(lengthsText(*animal), values, cell));
        const int captionHeight = layout.textHeight(QStringLiteral("Kuh"), caption, cell);
        layout.add(
            {gap + pictureHeight + mm(1) + captionHeight + textHeight, false,
             [=](QPainter& p, const QRect& r) {
                 int x = r.left();
                 for (const Animal* animal : row) {
                     const QRect frame(x, r.top() + gap, cell, pictureHeight);
                     QImage picture;
                     QString failure = QStringLiteral("Bild nicht darstellbar");
                     try {
                         picture = thumbnail(animal->copyPath, thumbnailBounds());
                     } catch (const imaging::ImagingError&) {
                         failure = QStringLiteral("Kopie nicht lesbar");
                     }
                     p.fillRect(frame, QColor(240, 240, 240));
                     if (picture.isNull()) {
                         p.setFont(values);
                         p.drawText(frame, Qt::AlignCenter, failure);
                     } else {
                         const QSize shown =
                             picture.size().scaled(frame.size(), Qt::KeepAspectRatio);
                         p.drawImage(
                             QRect(QPoint(frame.left() + (frame.width() - shown.width()) / 2,
                                          frame.top() + (frame.height() - shown.height()) / 2),
                                   shown),
                             picture);
                     }
                     p.setFont(caption);
                     const QRect captionRect(x, frame.bottom() + mm(1), cell, captionHeight);
                     p.drawText(captionRect, Qt::AlignLeft,
                                QStringLiteral("Kuh %1").arg(animal->number));
                     p.setFont(values);
                     p.drawText(QRect(x, captionRect.bottom() + 1, cell, textHeight),
                                Qt::TextWordWrap, lengthsText(*animal));
                     x += cell + gap;
                     ++*done;
                     if (progress)
                         progress(*done, total);
                 }
             },
             nullptr});
    }
}

void paint(QPdfWriter& writer, const Day& day, const QDateTime& made, const Progress& progress) {
    QPainter painter;
    if (!painter.begin(&writer))
        throw ReportError(QStringLiteral("Die Seiten können nicht gezeichnet werden."));
    const QFont footerFont = font(8);
    const int footer = QFontMetrics(footerFont, &writer).height() + mm(3);
    Layout layout(writer, QSize(writer.width(), writer.height() - footer));
    addSummary(layout, day, lengthGroups(day), made);
    addTable(layout, day);
    addThumbnails(layout, day, progress);
    const auto pages = layout.pages();
    const QString madeText = made.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    for (qsizetype n = 0; n < pages.size(); ++n) {
        if (n > 0)
            writer.newPage();
        for (const auto& [block, top] : pages[n])
            block->paint(painter, QRect(0, top, layout.width(), block->height));
        const QRect foot(0, writer.height() - footer + mm(3), writer.width(), footer - mm(3));
        painter.setFont(footerFont);
        painter.drawText(foot, Qt::AlignLeft,
                         QStringLiteral("Kalvara \u2013 Bericht erstellt am %1").arg(madeText));
        painter.drawText(foot, Qt::AlignRight,
                         QStringLiteral("Seite %1 von %2").arg(n + 1).arg(pages.size()));
    }
    painter.end();
}

} // namespace

void writePdf(const Day& day, const QString& path, const QDateTime& made,
              const Progress& progress) {
    const QString failed = QStringLiteral("Der Bericht \u201E%1\u201C konnte nicht geschrieben "
                                          "werden; ein vorhandener bleibt, wie er war. %2");
    try {
        core::replaceFile(path, [&](const QString& temporary) {
            QFile file(temporary);
            if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                throw core::FileSystemError(QStringLiteral("Das Schreiben"), path,
                                            core::fileCause(file));
            {
                QPdfWriter writer(&file);
                writer.setPageSize(QPageSize(QPageSize::A4));
                writer.setPageOrientation(QPageLayout::Portrait);
                writer.setPageMargins(QMarginsF(kSideMargin, 15, kSideMargin, 12),
                                      QPageLayout::Millimeter);
                writer.setResolution(kResolution);
                writer.setCreator(QStringLiteral("Kalvara"));
                writer.setTitle(
                    QStringLiteral("Messbericht %1").arg(QFileInfo(day.folder).fileName()));
                paint(writer, day, made, progress);
            }
            if (!file.flush() || file.error() != QFileDevice::NoError)
                throw core::FileSystemError(QStringLiteral("Das Schreiben"), path,
                                            core::fileCause(file));
        });
    } catch (const core::FileSystemError& e) {
        throw ReportError(failed.arg(QDir::toNativeSeparators(path), e.cause()));
    } catch (const ReportError& e) {
        throw ReportError(failed.arg(QDir::toNativeSeparators(path), e.message()));
    }
}

} // namespace report
