// cv-qrn-render-skin OUT.png [dpr]: writes the window's skin as a PNG picture to look at.
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "ui/skin.h"

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const double dpr = argc == 3 ? std::atof(argv[2]) : 1.0;
    if (argc < 2 || argc > 3 || !(dpr > 0.0 && dpr <= 8.0)) {
        std::fprintf(stderr, "usage: cv-qrn-render-skin OUT.png [device-pixel-ratio in (0, 8]]\n");
        return 2;
    }
    if (cvqrn::ui::RenderSkin(dpr).save(QString::fromLocal8Bit(argv[1]), "PNG")) return 0;
    std::fprintf(stderr, "cv-qrn-render-skin: cannot write %s\n", argv[1]);
    return 1;
}
