// CV-QRN: opens the window and runs the event loop until it is closed.
//   cv-qrn [FILE]          the window, with FILE loaded as Load Track would
//   cv-qrn --help | --version
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/main_window.h"
#include "frontend/track_operations.h"
#include "frontend/window_arguments.h"

#ifndef CVQRN_VERSION
#define CVQRN_VERSION "unknown"
#endif

namespace {

std::vector<std::string> Arguments(const QStringList& all) {
    std::vector<std::string> args;
    for (qsizetype i = 1; i < all.size(); ++i) args.push_back(all.at(i).toStdString());
    return args;
}

// Prints what the arguments ask for; true when the program ends here.
bool Answered(const cvqrn::ui::WindowArguments& arguments, int& status) {
    if (arguments.exitCode < 0) return false;
    std::fputs(arguments.out.c_str(), stdout);
    std::fputs(arguments.err.c_str(), stderr);
    status = arguments.exitCode;
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    // --help and --version answer without a display.
    int status = 0;
    const std::vector<std::string> raw(argv + 1, argv + argc);
    const auto early = cvqrn::ui::ParseWindowArguments(raw, CVQRN_VERSION);
    if (early.exitCode == 0 && Answered(early, status)) return status;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("CV-QRN"));
    QApplication::setApplicationVersion(QStringLiteral(CVQRN_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("cv-qrn"));
    // The toolkit has taken its own options out by now.
    const auto arguments =
        cvqrn::ui::ParseWindowArguments(Arguments(QApplication::arguments()), CVQRN_VERSION);
    if (Answered(arguments, status)) return status;

    cvqrn::ui::CoreTrackOperations operations;
    cvqrn::ui::MainWindow window(operations);
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    if (!arguments.file.empty()) {
        // Once the window is up, so that a refusal shows its box over it.
        const QString file = QString::fromStdString(arguments.file);
        QTimer::singleShot(0, &window, [&window, file] { window.LoadFile(file); });
    }
    return QApplication::exec();
}
