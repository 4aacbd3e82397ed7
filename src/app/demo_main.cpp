// kalvara-demo [--cows N] WORKSPACE: fills an empty workspace with a demo
// day, the small one of five cows or one of N cows.
#include "app/DemoWorkspace.h"
#include "imaging/Imaging.h"

#include <QCoreApplication>
#include <QTextStream>

#include <exception>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QStringList args = QCoreApplication::arguments().mid(1);
    int cows = 0;
    if (args.size() == 3 && args.at(0) == QStringLiteral("--cows")) {
        bool ok = false;
        cows = args.at(1).toInt(&ok);
        if (!ok || cows < 1 || cows > 10000)
            cows = -1;
        args = args.mid(2);
    }
    if (args.size() != 1 || cows < 0) {
        err << "usage: kalvara-demo [--cows N] WORKSPACE   (N from 1 to 10000)\n";
        return 2;
    }
    imaging::initialise();
    try {
        if (!demo::fillWorkspace(args.at(0), QDate::currentDate(), cows)) {
            err << "workspace is not empty, left as it is: " << args.at(0) << "\n";
            return 0;
        }
    } catch (const std::exception& e) {
        err << "kalvara-demo: " << QString::fromUtf8(e.what()) << "\n";
        return 1;
    }
    QTextStream(stdout) << "demo day written to " << args.at(0) << "\n";
    return 0;
}
