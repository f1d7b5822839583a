// Writes the sample photos, backgrounds, window icon and logo of the application.
//
// Usage: mattora-samplegen OUTDIR [LOGODIR [ICONDIR]]
// The logo goes into LOGODIR (the resource folder) when given, else into OUTDIR. ICONDIR gets
// the window icon for the desktop's icon theme, ICONDIR/<N>x<N>/apps/mattora.png.
// Everything is painted from fixed seeds, so two runs write identical files.
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTextStream>
#include <cstdio>

#include "backgrounds.h"
#include "marks.h"
#include "shots.h"

namespace {

bool save(const QImage& image, const QDir& dir, const QString& name, const char* format,
          int quality) {
    const QString path = dir.filePath(name);
    if (image.isNull() || !image.save(path, format, quality)) {
        std::fprintf(stderr, "mattora-samplegen: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%d x %d)\n", qPrintable(path), image.width(), image.height());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // The image plugins (JPEG) are found through the application object.
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 4) {
        std::fprintf(stderr, "usage: mattora-samplegen OUTDIR [LOGODIR [ICONDIR]]\n");
        return 2;
    }
    QDir out(args.at(1));
    if (!out.mkpath(QStringLiteral("Bkg"))) {
        std::fprintf(stderr, "mattora-samplegen: cannot create %s\n", qPrintable(args.at(1)));
        return 1;
    }
    QDir bkg(out.filePath(QStringLiteral("Bkg")));
    QDir logoDir(args.size() == 3 ? args.at(2) : args.at(1));
    if (!logoDir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "mattora-samplegen: cannot create %s\n", qPrintable(logoDir.path()));
        return 1;
    }

    using namespace samplegen;
    constexpr int kJpegQuality = 92;
    // PNG "quality" in Qt is the inverse of the compression level: 0 packs hardest.
    constexpr int kPngPacked = 0;
    bool ok = true;
    ok &= save(greenScreenShot(), out, QStringLiteral("1green.JPG"), "JPG", kJpegQuality);
    ok &= save(blueScreenShot(), out, QStringLiteral("blue1.JPG"), "JPG", kJpegQuality);
    QDir plates(out.filePath(QStringLiteral("Plates")));
    ok &= plates.mkpath(QStringLiteral("."));
    ok &= save(greenScreenPlate(), plates, QStringLiteral("1green.JPG"), "JPG", kJpegQuality);
    ok &= save(blueScreenPlate(), plates, QStringLiteral("blue1.JPG"), "JPG", kJpegQuality);
    ok &= save(beach(), bkg, QStringLiteral("beach.JPG"), "JPG", kJpegQuality);
    ok &= save(interior(), bkg, QStringLiteral("interior.png"), "PNG", kPngPacked);
    ok &= save(landscape(), bkg, QStringLiteral("landscape.jpg"), "JPG", kJpegQuality);
    ok &= save(sky(), bkg, QStringLiteral("sky.jpg"), "JPG", kJpegQuality);
    ok &= save(studioPaper(), bkg, QStringLiteral("studio_paper.png"), "PNG", kPngPacked);
    ok &= save(appIcon(), out, QStringLiteral("icon.png"), "PNG", kPngPacked);
    ok &= save(logo(), logoDir, QStringLiteral("w_logo.png"), "PNG", kPngPacked);
    if (args.size() == 4) {
        // The sizes desktops ask the hicolor theme for; smaller ones are the big drawing scaled.
        const QImage icon = appIcon();
        for (const int n : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString sub = QStringLiteral("%1x%1/apps").arg(n);
            QDir dir(args.at(3));
            ok &= dir.mkpath(sub) && dir.cd(sub);
            const QImage sized = n == icon.width() ? icon
                                                   : icon.scaled(n, n, Qt::IgnoreAspectRatio,
                                                                 Qt::SmoothTransformation);
            ok &= save(sized, dir, QStringLiteral("mattora.png"), "PNG", kPngPacked);
        }
    }
    return ok ? 0 : 1;
}
