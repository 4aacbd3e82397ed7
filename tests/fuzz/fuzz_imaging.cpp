// Runs the list read, the full read, the render and the bitmap import over
// the test fixtures and seeded mutations of them. Every exception other than
// ImagingError is a failure (reported, its input kept); a crash or an input
// that runs for a minute ends the run and leaves its input as
// kalvara-fuzz-input in the working folder.
//
//   kalvara-fuzz [--seconds S] [--iterations N] [--seed N] [--first N] [--verbose]
//   kalvara-fuzz FILE...    runs the same operations once over each file

#include "DicomFixtures.h"
#include "TestSupport.h"
#include "imaging/Imaging.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QTemporaryDir>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <random>
#include <utility>

using namespace Qt::StringLiterals;
using enum fixtures::Colour;
using enum fixtures::Encoding;

#ifdef __SANITIZE_ADDRESS__
// An allocation beyond what any fixture could need ends the run with a
// report; only a non-throwing one returns null, as the toolkit expects of it
// when it reserves a value's declared length.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=1024:allocator_may_return_null=1";
}
#endif

namespace {

struct Seed {
    QString name;
    QByteArray bytes;
    // Offsets of 32-bit fields worth changing: value lengths, item lengths
    // and the first words of each fragment, or the bitmap header's fields.
    QList<qsizetype> fields;
};

struct Options {
    double seconds = 0;
    qint64 iterations = 0;
    quint64 seed = 1;
    qint64 first = 0;
    bool verbose = false;
    QStringList files;
};

bool isLongVr(const char* vr) {
    for (const char* known : {"OB", "OW", "OF", "OD", "OL", "OV", "SQ", "UN", "UT", "UC", "UR"})
        if (vr[0] == known[0] && vr[1] == known[1])
            return true;
    return false;
}

bool isShortVr(const char* vr) {
    for (const char* known : {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO",
                              "LT", "PN", "SH", "SL", "SS", "ST", "TM", "UI", "UL", "US"})
        if (vr[0] == known[0] && vr[1] == known[1])
            return true;
    return false;
}

QList<qsizetype> dicomFields(const QByteArray& bytes) {
    QList<qsizetype> fields;
    const qsizetype size = bytes.size();
    for (qsizetype p = 4; p + 8 <= size; ++p) {
        const char* at = bytes.constData() + p;
        if (isLongVr(at) && at[2] == 0 && at[3] == 0)
            fields.append(p + 4);
        else if (isShortVr(at))
            fields.append(p + 2); // the 16-bit length and the value's first bytes
    }
    static const QByteArray item("\xFE\xFF\x00\xE0", 4);
    for (qsizetype p = bytes.indexOf(item); p >= 0; p = bytes.indexOf(item, p + 1)) {
        fields.append(p + 4);
        for (qsizetype word = 0; word < 16 && p + 8 + 4 * word + 4 <= size; ++word)
            fields.append(p + 8 + 4 * word);
    }
    return fields;
}

QList<qsizetype> bitmapFields() {
    // File size, pixel offset, header size, width, height, planes and bit
    // count, compression, image size, palette size.
    return {2, 10, 14, 18, 22, 26, 30, 34, 46};
}

QList<Seed> writeSeeds(const QString& folder) {
    const std::pair<const char*, fixtures::VariantSpec> dicoms[] = {
        {"native", {}},
        {"native rgb", {.colour = Rgb}},
        {"big endian 16 bit", {.encoding = ExplicitBig, .sixteenBit = true}},
        {"implicit without meta", {.encoding = ImplicitLittle, .meta = false}},
        {"rle", {.encoding = Rle}},
        {"rle rgb", {.encoding = Rle, .colour = Rgb}},
        {"rle 16 bit two frames", {.encoding = Rle, .sixteenBit = true, .frames = 2}},
        {"jpeg", {.encoding = JpegBaseline}},
        {"jpeg rgb", {.encoding = JpegBaseline, .colour = Rgb}},
        {"jpeg-ls", {.encoding = JpegLs}},
        {"jpeg-ls 16 bit", {.encoding = JpegLs, .sixteenBit = true}},
        {"jpeg 2000", {.encoding = Jpeg2000Lossless}},
        {"jpeg 2000 rgb", {.encoding = Jpeg2000, .colour = Rgb}},
        {"jpeg 2000 two frames", {.encoding = Jpeg2000Lossless, .frames = 2}},
        {"deflated", {.encoding = Deflated}},
        {"regions", {.regions = {{0, 0, 63, 47, 3, 0.05}}}},
        {"long private value before the number", {.base = {.privateBytes = 2000}}},
        {"number behind the first 4 KB", {.base = {.privateBytes = 6000}}},
    };
    const std::pair<const char*, fixtures::BmpSpec> bitmaps[] = {
        {"bmp 1 bit", {.bits = 1}},   {"bmp 4 bit colour", {.bits = 4, .greyPalette = false}},
        {"bmp 8 bit", {.bits = 8}},   {"bmp 24 bit top-down", {.bits = 24, .topDown = true}},
        {"bmp 32 bit", {.bits = 32}},
    };
    QList<Seed> seeds;
    const QString file = QDir(folder).filePath(u"seed"_s);
    for (const auto& [name, fixture] : dicoms) {
        fixtures::writeVariant(file, fixture);
        const QByteArray bytes = readFile(file);
        seeds.append({QString::fromLatin1(name), bytes, dicomFields(bytes)});
    }
    for (const auto& [name, fixture] : bitmaps) {
        fixtures::writeBmp(file, fixture);
        seeds.append({QString::fromLatin1(name), readFile(file), bitmapFields()});
    }
    return seeds;
}

quint32 interestingValue(std::mt19937_64& random, quint32 old, qsizetype fileSize) {
    const quint32 values[] = {0,
                              1,
                              2,
                              15,
                              16,
                              64,
                              0x7F,
                              0xFFFF,
                              0x10000,
                              0x7FFFFFFF,
                              0xFFFFFFFF,
                              old + 1,
                              old - 1,
                              old * 2,
                              old / 2,
                              quint32(fileSize),
                              quint32(fileSize) + 64,
                              quint32(random())};
    return values[random() % std::size(values)];
}

// One to four mutations: bit flips, byte sets, a cut, changed length fields.
QByteArray mutate(const Seed& seed, std::mt19937_64& random) {
    QByteArray bytes = seed.bytes;
    const int count = 1 + int(random() % 4);
    for (int m = 0; m < count && !bytes.isEmpty(); ++m) {
        const auto anywhere = [&] { return qsizetype(random() % quint64(bytes.size())); };
        switch (random() % 5) {
        case 0: {
            const qsizetype at = anywhere();
            bytes[at] = char(bytes[at] ^ (1 << (random() % 8)));
            break;
        }
        case 1: {
            const char values[] = {0, '\x01', '\x7F', '\x80', '\xFF', char(random())};
            bytes[anywhere()] = values[random() % std::size(values)];
            break;
        }
        case 2:
            bytes.truncate(anywhere());
            break;
        default: { // twice as likely: a length or header field
            if (seed.fields.isEmpty())
                break;
            const qsizetype at = seed.fields[qsizetype(random() % quint64(seed.fields.size()))];
            if (at + 4 > bytes.size())
                break;
            quint32 old = 0;
            std::memcpy(&old, bytes.constData() + at, 4);
            const quint32 value = interestingValue(random, old, bytes.size());
            if (random() % 2) // a 16-bit field
                bytes.replace(at, 2, reinterpret_cast<const char*>(&value), 2);
            else
                bytes.replace(at, 4, reinterpret_cast<const char*>(&value), 4);
        }
        }
    }
    return bytes;
}

// Every operation of the boundary that reads a file from elsewhere.
void exercise(const QString& path) {
    const auto tolerate = [](auto&& action) {
        try {
            action();
        } catch (const imaging::ImagingError&) {
        }
    };
    tolerate([&] { imaging::readImageNumber(path); });
    tolerate([&] {
        imaging::ImageCollection images;
        images.readFile(path);
        images.item(1).displayImage();
    });
    tolerate([&] {
        imaging::Image image;
        image.importBitmap(path, u"BMP"_s);
        image.displayImage();
    });
}

bool parse(const QStringList& arguments, Options& options) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& flag = arguments[i];
        if (flag == u"--verbose"_s) {
            options.verbose = true;
            continue;
        }
        if (!flag.startsWith(u"--"_s)) {
            options.files.append(flag);
            continue;
        }
        if (i + 1 >= arguments.size())
            return false;
        bool ok = false;
        const QString value = arguments[++i];
        if (flag == u"--seconds"_s)
            options.seconds = value.toDouble(&ok);
        else if (flag == u"--iterations"_s)
            options.iterations = value.toLongLong(&ok);
        else if (flag == u"--seed"_s)
            options.seed = value.toULongLong(&ok);
        else if (flag == u"--first"_s)
            options.first = value.toLongLong(&ok);
        if (!ok)
            return false;
    }
    return options.seconds > 0 || options.iterations > 0 || !options.files.isEmpty();
}

// Runs exercise over path; false, with a report, when it throws anything
// but ImagingError.
bool survives(const QString& path, const QString& what) {
    try {
        exercise(path);
        return true;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "FAILURE at %s: %s\n", qPrintable(what), error.what());
        return false;
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    Options options;
    if (!parse(application.arguments(), options)) {
        std::fprintf(stderr, "usage: kalvara-fuzz [--seconds S] [--iterations N] [--seed N] "
                             "[--first N] [--verbose]\n       kalvara-fuzz FILE...\n");
        return 2;
    }
    // Qt's image reader comments on damaged bitmaps; that is expected here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
#if defined(Q_OS_UNIX) && !defined(__SANITIZE_ADDRESS__)
    // Without the sanitizer an allocation far beyond the fixtures fails and
    // surfaces as std::bad_alloc (a failure) instead of swapping.
    const rlimit limit{4ULL << 30, 4ULL << 30};
    setrlimit(RLIMIT_AS, &limit);
#endif
    if (!options.files.isEmpty()) {
        qint64 failures = 0;
        for (const QString& file : std::as_const(options.files))
            failures += survives(file, file) ? 0 : 1;
        return failures == 0 ? 0 : 1;
    }
    QTemporaryDir folder;
    const QList<Seed> seeds = writeSeeds(folder.path());
    const QString input = u"kalvara-fuzz-input"_s;

    QElapsedTimer clock;
    clock.start();
    qint64 runs = 0;
    qint64 failures = 0;
    qint64 slowest = 0;
    qint64 slowestIteration = -1;
    for (qint64 i = options.first;; ++i) {
        if (options.iterations > 0 && runs >= options.iterations)
            break;
        if (options.seconds > 0 && double(clock.elapsed()) >= options.seconds * 1000)
            break;
        // The first round gives each seed unchanged, then mutations follow.
        std::seed_seq sequence{quint32(options.seed), quint32(options.seed >> 32), quint32(i),
                               quint32(quint64(i) >> 32)};
        std::mt19937_64 random(sequence);
        const Seed& seed = seeds[qsizetype(quint64(i) % quint64(seeds.size()))];
        const QByteArray bytes = i < seeds.size() ? seed.bytes : mutate(seed, random);
        {
            QFile out(input);
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                out.write(bytes) != bytes.size()) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(input));
                return 2;
            }
        }
        if (options.verbose)
            std::fprintf(stderr, "iteration %lld: %s, %lld bytes\n", static_cast<long long>(i),
                         qPrintable(seed.name), static_cast<long long>(bytes.size()));
        QElapsedTimer timer;
        timer.start();
        // An input still running after a minute has stalled: SIGALRM ends
        // the run and leaves the input behind.
#if defined(Q_OS_UNIX)
        alarm(60);
#endif
        const QString kept = u"kalvara-fuzz-%1-%2"_s.arg(options.seed).arg(i);
        if (!survives(input,
                      u"iteration %1 (%2), input kept as %3"_s.arg(i).arg(seed.name, kept))) {
            ++failures;
            QFile::copy(input, kept);
        }
#if defined(Q_OS_UNIX)
        alarm(0);
#endif
        if (timer.elapsed() > slowest) {
            slowest = timer.elapsed();
            slowestIteration = i;
        }
        ++runs;
    }
    QFile::remove(input);
    std::printf("%lld inputs from %lld seeds in %.1f s (seed %llu); slowest: iteration %lld, "
                "%lld ms; %lld failures\n",
                static_cast<long long>(runs), static_cast<long long>(seeds.size()),
                double(clock.elapsed()) / 1000, static_cast<unsigned long long>(options.seed),
                static_cast<long long>(slowestIteration), static_cast<long long>(slowest),
                static_cast<long long>(failures));
    return failures == 0 ? 0 : 1;
}
