// Inputs and the baseline for the batch comparison script:
//   mattora-bench-shots make DIR            writes DIR/green.jpg and DIR/scene.jpg (6000 x 4000)
//   mattora-bench-shots baseline JPG PNG    times one plain decode of JPG and one write of the
//                                           composite PNG (decoded first), median of five
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/hugepages.h"
#include "png/pngfile.h"
#include "scene.h"
#include "support/photos.h"

namespace {

template <class F>
double medianMs(F f) {
    std::vector<double> ms;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    preferHugePages(argv);
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == "make") {
        const QDir dir(args[2]);
        const bool ok = photos::studioShot().save(dir.filePath("green.jpg"), "JPG", 92) &&
                        bench::scene().save(dir.filePath("scene.jpg"), "JPG", 92);
        return ok ? 0 : 1;
    }
    if (args.size() == 4 && args[1] == "baseline") {
        const QImage composite =
            QImage(args[3]).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (composite.isNull())
            return 1;
        const double decode = medianMs([&] {
            QImageReader reader(args[2]);
            reader.setAllocationLimit(2048);
            if (reader.read().isNull())
                std::exit(1);
        });
        const QString copy = args[3] + QStringLiteral(".again.png");
        const double write = medianMs([&] {
            if (!png::writePng(composite, copy, 100, nullptr))
                std::exit(1);
        });
        QFile::remove(copy);
        std::printf("%.1f %.1f\n", decode, write);
        return 0;
    }
    std::fprintf(stderr, "usage: %s make DIR | baseline JPG PNG\n", argv[0]);
    return 2;
}
