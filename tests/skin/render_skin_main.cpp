// cv-qrn-render-skin OUT.png [dpr]: writes the window's skin as a PNG picture,
// for looking at it and for the README.
#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <cstdio>

#include "ui/skin.h"

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: cv-qrn-render-skin OUT.png [device-pixel-ratio]\n");
        return 2;
    }
    double dpr = 1.0;
    if (args.size() == 3) {
        bool ok = false;
        dpr = args[2].toDouble(&ok);
        if (!ok || !(dpr > 0) || dpr > 8) {
            std::fprintf(stderr, "cv-qrn-render-skin: the device pixel ratio must be in (0, 8]\n");
            return 2;
        }
    }
    const QImage skin = cvqrn::ui::RenderSkin(dpr);
    if (!skin.save(args[1], "PNG")) {
        std::fprintf(stderr, "cv-qrn-render-skin: cannot write %s\n", qPrintable(args[1]));
        return 1;
    }
    return 0;
}
