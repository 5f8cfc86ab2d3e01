// CV-QRN: opens the window and runs the event loop until it is closed.
#include <QApplication>

#include "ui/main_window.h"
#include "ui/track_operations.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("CV-QRN"));
    cvqrn::ui::CoreTrackOperations operations;
    cvqrn::ui::MainWindow window(operations);
    window.show();
    return QApplication::exec();
}
