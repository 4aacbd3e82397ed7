#include "ViewerState.h"
#include "core/Names.h"
#include "global/modGlobal.h"
#include "settings/modINI.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace viewer {

namespace {

constexpr quint32 kRed = 255; // 0x00BBGGRR

bool insideImage(const imaging::Image& image, int x, int y) {
    return x >= 0 && y >= 0 && x < image.width() && y < image.height();
}

// The crosshair pointer is the armed start-line pick; any button sets it.
bool startLinePickArmed(const Controls& c) {
    return c.form->cursor().shape() == Qt::CrossCursor;
}

// Measurements may be added to and taken off the viewer's image: an
// unmeasured image is shown.
bool measuringAllowed(const Controls& c) {
    return c.dvIMG->images().count() > 0 && !c.dvIMG->tag().isEmpty();
}

// The measured line from the start line to (x, y), bound to the image; none
// when the start line gives none there.
std::optional<imaging::Label> boundLine(const imaging::Image& image, const QString& startLine,
                                        int x, int y) {
    std::optional<imaging::Label> line = measurementLine(startLine, x, y);
    if (line)
        line->bindToImage(image);
    return line;
}

void putOnClipboard(const imaging::Label& line) {
    // The clipboard gets the number alone, without the blank and the unit.
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(measurementNumber(line.measuredLength(), QLocale()));
}

void pickStartLine(Session& s, const Controls& c, int x, int y) {
    c.form->setCursor(Qt::ArrowCursor);
    // Without an image the viewer reports widget pixels, not image rows: a
    // start line picked so would start every later line somewhere else.
    if (c.dvIMG->images().count() == 0) {
        modGlobal::MsgBox(c.form,
                          QStringLiteral("Die Startlinie kann nur auf einem angezeigten Bild "
                                         "festgelegt werden.\n\nBitte zeigen Sie zuerst ein Bild "
                                         "an, doppelklicken Sie dann auf das Feld links oben und "
                                         "klicken Sie auf die gewünschte Höhe im Bild."),
                          modGlobal::Icon::Information);
        return;
    }
    // Beside or below the image there is no image row to start from.
    if (!insideImage(c.dvIMG->images().item(1), x, y)) {
        modGlobal::MsgBox(c.form,
                          QStringLiteral("Die Stelle liegt außerhalb des Bildes; die Startlinie "
                                         "wurde nicht geändert.\n\nBitte doppelklicken Sie "
                                         "erneut auf das Feld links oben und klicken Sie auf die "
                                         "gewünschte Höhe im Bild."),
                          modGlobal::Icon::Information);
        return;
    }
    const QString value = QString::number(y);
    const QString file = modINI::settingsFile();
    QString cause;
    const bool stored = modINI::WritePrivateProfileString(
        core::names::kSection, core::names::kStartLineKey, value, file, &cause);
    modGlobal::setStartLine(value);
    showStartLine(s, c);
    if (!stored)
        modGlobal::MsgBox(c.form,
                          QStringLiteral("Die Startlinie %1 gilt nur bis zum Beenden von Kalvara, "
                                         "denn sie konnte nicht in der Einstellungsdatei "
                                         "gespeichert werden:\n\n%2\n\n%3")
                              .arg(value, QDir::toNativeSeparators(file), cause),
                          modGlobal::Icon::Warning);
}

void addMeasurement(const Controls& c, imaging::Image& image, int x, int y) {
    const QString startLine = modGlobal::startLine();
    const std::optional<imaging::Label> line = boundLine(image, startLine, x, y);
    if (!line) {
        // A whole number (as toInt reads one: ASCII digits, blanks around)
        // that still gives no line lies beyond 32 bits or too far from the
        // click: no image has such rows.
        static const QRegularExpression wholeNumber(QStringLiteral("^\\s*[+-]?\\d+\\s*$"));
        const QString cause =
            wholeNumber.match(startLine).hasMatch()
                ? QStringLiteral("Sie liegt zu weit von der angeklickten Stelle entfernt, "
                                 "außerhalb der möglichen Bildzeilen.")
                : QStringLiteral("Sie muss eine ganze Zahl sein.");
        modGlobal::MsgBox(c.form,
                          QStringLiteral("Mit der Startlinie \u201E%1\u201C ist an dieser Stelle "
                                         "keine Messung möglich: %2\n\nBitte legen Sie die "
                                         "Startlinie neu fest: Doppelklick auf das Feld links "
                                         "oben, dann Klick auf die gewünschte Höhe im Bild.")
                              .arg(startLine, cause),
                          modGlobal::Icon::Warning);
        return;
    }
    imaging::LabelList& labels = image.labels();
    labels.add(*line);

    imaging::Label text;
    text.kind = imaging::Label::Text;
    text.switch1 = true;
    text.switch2 = true;
    const imaging::Label& added = labels.item(labels.count());
    text.text = measurementText(added.measuredLength(), added.unitText(), QLocale());
    text.left = x;
    text.top = y;
    text.colour = kRed;
    text.bindToImage(image);
    text.size = 12;

    putOnClipboard(added);
    labels.add(text);
    // A new measurement ends what could be put back.
    c.dvIMG->forgetSetAside();
    image.refreshLabels(false);
}

// Takes the last measurement (its line and its text) off the image and sets
// it aside, so that it can be put back.
void removeMeasurement(const Controls& c, imaging::Image& image) {
    imaging::LabelList& labels = image.labels();
    if (labels.count() > 1) {
        const int last = labels.count();
        c.dvIMG->setAside({labels.item(last - 1), labels.item(last)});
        labels.remove(last);
        labels.remove(last - 1);
        image.refreshLabels(false);
    }
    QGuiApplication::clipboard()->clear();
}

} // namespace

void picStartLine_DblClick(Session& /*s*/, const Controls& c) {
    c.form->setCursor(Qt::CrossCursor);
    // No guide while the next click picks the start line.
    c.dvIMG->refreshOverlays();
}

void dvIMG_MouseEvent(Session& s, const Controls& c, int button, int /*shift*/, int x, int y) {
    if (startLinePickArmed(c)) {
        pickStartLine(s, c, x, y);
        c.dvIMG->refreshOverlays();
        return;
    }
    if (!measuringAllowed(c))
        return;
    modGlobal::guarded(c.form, QStringLiteral("Das Messen"), [&] {
        imaging::Image& image = c.dvIMG->images().item(1);
        if (button == 1) {
            // A point beside or below the image is no point of it.
            if (insideImage(image, x, y))
                addMeasurement(c, image, x, y);
        } else {
            removeMeasurement(c, image);
        }
    });
}

std::optional<imaging::MeasurementGuide> measurementGuide(Session& /*s*/, const Controls& c, int x,
                                                          int y) {
    if (startLinePickArmed(c) || !measuringAllowed(c))
        return std::nullopt;
    const imaging::Image& image = c.dvIMG->images().item(1);
    if (!insideImage(image, x, y))
        return std::nullopt;
    const std::optional<imaging::Label> line = boundLine(image, modGlobal::startLine(), x, y);
    if (!line)
        return std::nullopt;
    return imaging::MeasurementGuide{
        x, line->top, y, measurementText(line->measuredLength(), line->unitText(), QLocale())};
}

void undoMeasurement(Session& /*s*/, const Controls& c) {
    if (!measuringAllowed(c))
        return;
    modGlobal::guarded(c.form, QStringLiteral("Das Rückgängigmachen der Messung"),
                       [&] { removeMeasurement(c, c.dvIMG->images().item(1)); });
}

void redoMeasurement(Session& /*s*/, const Controls& c) {
    if (!measuringAllowed(c))
        return;
    modGlobal::guarded(c.form, QStringLiteral("Das Wiederherstellen der Messung"), [&] {
        const QList<imaging::Label> measurement = c.dvIMG->takeBackSetAside();
        if (measurement.isEmpty())
            return;
        imaging::Image& image = c.dvIMG->images().item(1);
        for (const imaging::Label& label : measurement)
            image.labels().add(label);
        putOnClipboard(measurement.first());
        image.refreshLabels(false);
    });
}

void showStartLine(Session& /*s*/, const Controls& c) {
    bool ok = false;
    const int row = modGlobal::startLine().toInt(&ok);
    c.dvIMG->setStartLine(ok ? std::optional<int>(row) : std::nullopt);
}

QString measurementSummary(const imaging::LabelList& labels) {
    QStringList lines;
    for (int i = 1; i <= labels.count(); ++i) {
        if (labels.item(i).kind == imaging::Label::Text)
            lines << QStringLiteral("%1. %2").arg(lines.size() + 1).arg(labels.item(i).text);
    }
    if (lines.isEmpty())
        return {};
    lines.prepend(QStringLiteral("Messwerte:"));
    return lines.join(QLatin1Char('\n'));
}

std::optional<imaging::Label> measurementLine(const QString& startLine, int x, int y) {
    bool ok = false;
    const int top = startLine.toInt(&ok);
    if (!ok)
        return std::nullopt;
    const qint64 height = qint64{y} - top;
    if (height < std::numeric_limits<int>::min() || height > std::numeric_limits<int>::max())
        return std::nullopt;
    imaging::Label line;
    line.kind = imaging::Label::Line;
    line.left = x;
    line.top = top;
    line.height = static_cast<int>(height);
    line.colour = kRed;
    line.switch2 = true;
    line.switch1 = true;
    return line;
}

QString measurementNumber(double length, const QLocale& locale) {
    const float single = static_cast<float>(length);
    // Ten times a float is exact in double precision, so the rounding sees the
    // single-precision value itself; rint takes halves to the even neighbour.
    // Adding +0 turns a rounded -0 into 0.
    const float rounded =
        static_cast<float>(std::rint(static_cast<double>(single) * 10.0) / 10.0) + 0.0f;
    QLocale format(locale);
    format.setNumberOptions(format.numberOptions() | QLocale::OmitGroupSeparator);
    // Seven significant digits are what a float holds; 'g' drops trailing zeros.
    return format.toString(rounded, 'g', 7);
}

QString measurementText(double length, const QString& unit, const QLocale& locale) {
    return measurementNumber(length, locale) + QLatin1Char(' ') + unit;
}

} // namespace viewer
