// Keying quality on studio shots with known coverage. Prints, per shot and keyer, the sum of
// absolute alpha errors per megapixel and the mean absolute RGB error at the subject's edge
// after composing over neutral grey. Magic Number 10 runs untuned; the other Magic Numbers
// get their best fine tuning per shot, and ffmpeg's chromakey (if ffmpeg is on the PATH) its
// best similarity and blend, both chosen on the true alpha.
//
//   keying_quality [--soft-only] [folder for the shots as PNG]
//   keying_quality --hashes [file to check against]
//
// --soft-only runs Magic Number 10 alone, for quick turns while tuning it. --hashes prints a
// hash of Magic Number 10's output on the sample photos and the shots under several settings,
// or compares them with a file of such lines and fails on any difference: a change meant to
// keep the output must keep these.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <optional>

#include "keying/keyer.h"
#include "studio_scenes.h"

namespace {

constexpr int kGrey = 128;

struct Score {
    double alpha = 1e30;  // sum |alpha error| / 255 per megapixel
    double edge = 0;      // mean |RGB error| at the edge, 0..255
    QString tuning;
};

// Pixels near the subject's outline: partly covered, or within two pixels of a change.
std::vector<char> edgeMask(const QImage& truth) {
    const int w = truth.width(), h = truth.height();
    std::vector<char> seed(size_t(w) * h, 0), mask(size_t(w) * h, 0);
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(truth.constScanLine(y));
        const auto* below =
            reinterpret_cast<const QRgb*>(truth.constScanLine(std::min(y + 1, h - 1)));
        for (int x = 0; x < w; ++x) {
            const int a = qAlpha(row[x]);
            seed[size_t(y) * w + x] = (a > 0 && a < 255) ||
                                      a != qAlpha(row[std::min(x + 1, w - 1)]) ||
                                      a != qAlpha(below[x]);
        }
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (!seed[size_t(y) * w + x]) {
                continue;
            }
            for (int dy = -2; dy <= 2; ++dy) {
                for (int dx = -2; dx <= 2; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < w && ny < h) {
                        mask[size_t(ny) * w + nx] = 1;
                    }
                }
            }
        }
    }
    return mask;
}

// Scores a keyed image, non-premultiplied ARGB32, against the truth.
Score score(const QImage& keyed, const quality::Scene& sc, const std::vector<char>& edge) {
    const int w = keyed.width(), h = keyed.height();
    double alphaErr = 0, colourErr = 0;
    qint64 edgeCount = 0;
    for (int y = 0; y < h; ++y) {
        const auto* k = reinterpret_cast<const QRgb*>(keyed.constScanLine(y));
        const auto* t = reinterpret_cast<const QRgb*>(sc.truth.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const int ka = qAlpha(k[x]), ta = qAlpha(t[x]);
            alphaErr += std::abs(ka - ta);
            if (!edge[size_t(y) * w + x]) {
                continue;
            }
            auto over = [&](int c) { return (c * ka + kGrey * (255 - ka)) / 255.0; };
            auto truthOver = [&](int c) { return c + kGrey * (255 - ta) / 255.0; };
            colourErr += std::abs(over(qRed(k[x])) - truthOver(qRed(t[x]))) +
                         std::abs(over(qGreen(k[x])) - truthOver(qGreen(t[x]))) +
                         std::abs(over(qBlue(k[x])) - truthOver(qBlue(t[x])));
            ++edgeCount;
        }
    }
    Score s;
    s.alpha = alphaErr / 255.0 / (double(w) * h * 1e-6);
    s.edge = colourErr / 3.0 / double(std::max<qint64>(1, edgeCount));
    return s;
}

Score bestMagic(int magic, const quality::Scene& sc, const std::vector<char>& edge) {
    Score best;
    const QRgb key = keying::keyColourOf(sc.photo);
    for (int fine = -100; fine <= 100; fine += 10) {
        keying::KeySettings s;
        s.magic = magic;
        s.fine = fine;
        s.backdrop = sc.blue ? keying::Backdrop::Blue : keying::Backdrop::Green;
        QImage img = sc.photo;
        keying::keyImage(img, key, s);
        Score r = score(img, sc, edge);
        if (r.alpha < best.alpha) {
            best = r;
            best.tuning = QString("fine %1").arg(fine);
        }
    }
    return best;
}

// The mean colour of what truly is backdrop: the best key colour chromakey can be given.
QRgb trueBackdropColour(const quality::Scene& sc) {
    double sum[3] = {0, 0, 0};
    qint64 n = 0;
    for (int y = 0; y < sc.photo.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(sc.photo.constScanLine(y));
        const auto* t = reinterpret_cast<const QRgb*>(sc.truth.constScanLine(y));
        for (int x = 0; x < sc.photo.width(); ++x) {
            if (qAlpha(t[x]) == 0) {
                sum[0] += qRed(p[x]), sum[1] += qGreen(p[x]), sum[2] += qBlue(p[x]), ++n;
            }
        }
    }
    return qRgb(int(sum[0] / n + 0.5), int(sum[1] / n + 0.5), int(sum[2] / n + 0.5));
}

std::optional<Score> bestChromakey(const quality::Scene& sc, const std::vector<char>& edge,
                                   const QString& dir) {
    const QString png = dir + "/in.png";
    if (!sc.photo.save(png)) {
        return std::nullopt;
    }
    const QString colour =
        QString("0x%1").arg(trueBackdropColour(sc) & 0xffffff, 6, 16, QChar('0'));
    const double blends[] = {0.0, 0.01, 0.03, 0.06, 0.1, 0.15, 0.22, 0.3};
    constexpr int kBlends = int(std::size(blends));
    Score best;
    for (int si = 1; si <= 20; ++si) {
        const double sim = 0.02 * si;
        QString graph = QString("[0:v]split=%1").arg(kBlends);
        for (int b = 0; b < kBlends; ++b) {
            graph += QString("[i%1]").arg(b);
        }
        QStringList args{"-v", "error", "-y", "-i", png, "-filter_complex"};
        for (int b = 0; b < kBlends; ++b) {
            graph += QString(";[i%1]chromakey=color=%2:similarity=%3:blend=%4,format=rgba[o%1]")
                         .arg(b)
                         .arg(colour)
                         .arg(sim)
                         .arg(blends[b]);
        }
        args << graph;
        for (int b = 0; b < kBlends; ++b) {
            args << "-map" << QString("[o%1]").arg(b) << "-f"
                 << "rawvideo"
                 << "-pix_fmt"
                 << "rgba" << QString("%1/o%2.raw").arg(dir).arg(b);
        }
        QProcess ff;
        ff.start("ffmpeg", args);
        if (!ff.waitForFinished(-1) || ff.exitCode() != 0) {
            std::fprintf(stderr, "ffmpeg failed: %s\n", ff.readAllStandardError().constData());
            return std::nullopt;
        }
        for (int b = 0; b < kBlends; ++b) {
            QFile f(QString("%1/o%2.raw").arg(dir).arg(b));
            if (!f.open(QIODevice::ReadOnly)) {
                return std::nullopt;
            }
            const QByteArray raw = f.readAll();
            if (raw.size() != qsizetype(quality::kW) * quality::kH * 4) {
                return std::nullopt;
            }
            const QImage rgba(reinterpret_cast<const uchar*>(raw.constData()), quality::kW,
                              quality::kH, QImage::Format_RGBA8888);
            Score r = score(rgba.convertToFormat(QImage::Format_ARGB32), sc, edge);
            if (r.alpha < best.alpha) {
                best = r;
                best.tuning = QString("sim %1 blend %2").arg(sim).arg(blends[b]);
            }
        }
    }
    return best;
}

QByteArray softHash(const QImage& photo, bool blue, int fine, bool spill) {
    keying::KeySettings s;
    s.magic = 10;
    s.fine = fine;
    s.correctSpill = spill;
    s.spill = spill ? 10 : 0;
    s.backdrop = blue ? keying::Backdrop::Blue : keying::Backdrop::Green;
    QImage img = photo;
    keying::keyImage(img, keying::keyColourOf(img), s);
    QCryptographicHash h(QCryptographicHash::Sha1);
    for (int y = 0; y < img.height(); ++y) {
        h.addData(QByteArrayView(reinterpret_cast<const char*>(img.constScanLine(y)),
                                 qsizetype(img.width()) * 4));
    }
    return h.result().toHex().left(16);
}

// One line per photo and setting: name, settings, hash.
QStringList softHashes() {
    std::vector<std::pair<QString, QImage>> photos;
    std::vector<bool> blues;
    for (const char* name : {"1green.JPG", "blue1.JPG"}) {
        photos.emplace_back(name, QImage(QString(MATTORA_SAMPLES "/") + name));
        blues.push_back(QString(name).startsWith("blue"));
    }
    for (const quality::Scene& sc : quality::scenes()) {
        photos.emplace_back(sc.name, sc.photo);
        blues.push_back(sc.blue);
    }
    QStringList out;
    for (size_t i = 0; i < photos.size(); ++i) {
        const struct {
            int fine;
            bool spill;
        } settings[] = {{0, false}, {0, true}, {-50, false}, {50, true}};
        for (const auto& st : settings) {
            out << QString("%1 fine=%2 spill=%3 %4")
                       .arg(photos[i].first)
                       .arg(st.fine)
                       .arg(st.spill ? 10 : 0)
                       .arg(QString::fromLatin1(
                           softHash(photos[i].second, blues[i], st.fine, st.spill)));
        }
    }
    return out;
}

int checkHashes(const QString& file) {
    const QStringList now = softHashes();
    if (file.isEmpty()) {
        for (const QString& line : now) {
            std::printf("%s\n", qPrintable(line));
        }
        return 0;
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "%s: cannot be read\n", qPrintable(file));
        return 2;
    }
    const QStringList want = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    int differ = 0;
    for (const QString& line : now) {
        if (!want.contains(line)) {
            std::printf("differs: %s\n", qPrintable(line));
            ++differ;
        }
    }
    std::printf("%d of %lld outputs differ from %s\n", differ, qlonglong(now.size()),
                qPrintable(file));
    return differ == 0 && want.size() == now.size() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // MaskOut9 reports each run on the debug channel; the table is all that matters here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.removeAll("--hashes") > 0) {
        return checkHashes(args.value(0));
    }
    const bool softOnly = args.removeAll("--soft-only") > 0;
    const QString keep = args.isEmpty() ? QString() : args.first();
    QTemporaryDir tmp;
    bool haveFfmpeg = !softOnly;

    std::printf("%-7s %-10s %12s %10s  %s\n", "shot", "keyer", "alpha err/MP", "edge RGB",
                "tuning");
    double sumSoft = 0, sumFf = 0;
    bool softNeverWorse = true;
    for (const quality::Scene& sc : quality::scenes()) {
        if (!keep.isEmpty()) {
            QDir().mkpath(keep);
            sc.photo.save(keep + "/" + sc.name + ".png");
        }
        const std::vector<char> edge = edgeMask(sc.truth);
        auto row = [&](const char* keyer, const Score& s) {
            std::printf("%-7s %-10s %12.0f %10.2f  %s\n", qPrintable(sc.name), keyer, s.alpha,
                        s.edge, qPrintable(s.tuning));
        };
        keying::KeySettings s;
        s.magic = 10;
        s.backdrop = sc.blue ? keying::Backdrop::Blue : keying::Backdrop::Green;
        QImage soft = sc.photo;
        keying::keyImage(soft, 0, s);
        const Score softScore = score(soft, sc, edge);
        row("MN10", softScore);
        for (int m = 1; m <= 9 && !softOnly; ++m) {
            row(qPrintable(QString("MN%1").arg(m)), bestMagic(m, sc, edge));
        }
        std::optional<Score> ff = haveFfmpeg ? bestChromakey(sc, edge, tmp.path()) : std::nullopt;
        if (ff) {
            row("chromakey", *ff);
            sumSoft += softScore.alpha, sumFf += ff->alpha;
            softNeverWorse = softNeverWorse && softScore.alpha <= ff->alpha;
        } else {
            haveFfmpeg = false;
        }
        std::fflush(stdout);
    }
    if (haveFfmpeg && sumFf > 0) {
        std::printf("\nMN10 / tuned chromakey, mean alpha error: %.2f; never worse: %s\n",
                    sumSoft / sumFf, softNeverWorse ? "yes" : "no");
    }
    return 0;
}
