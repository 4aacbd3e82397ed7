// kalvara-demo WORKSPACE: fills an empty workspace with a small demo day.
#include "app/DemoWorkspace.h"
#include "imaging/Imaging.h"

#include <QCoreApplication>
#include <QTextStream>

#include <exception>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        err << "usage: kalvara-demo WORKSPACE\n";
        return 2;
    }
    imaging::initialise();
    try {
        if (!demo::fillWorkspace(args.at(1), QDate::currentDate())) {
            err << "workspace is not empty, left as it is: " << args.at(1) << "\n";
            return 0;
        }
    } catch (const std::exception& e) {
        err << "kalvara-demo: " << QString::fromUtf8(e.what()) << "\n";
        return 1;
    }
    QTextStream(stdout) << "demo day written to " << args.at(1) << "\n";
    return 0;
}
