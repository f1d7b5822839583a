// Keying quality on a family of studio shots with known coverage, drawn by seed and split
// into a tuning half and a validation half (fixed in studio_scenes.h). Per shot it prints, for
// Magic Number 10 untuned and for ffmpeg's chromakey with its similarity and blend chosen per
// shot on the true alpha (if ffmpeg is on the PATH): the sum of absolute alpha errors per
// megapixel, the share of the true subject keyed below half ("lost"), the share of the true
// backdrop kept above half ("kept") and the mean absolute RGB error at the subject's edge
// after composing over neutral grey. Then both halves' summaries, side by side.
//
//   keying_quality [--quick] [--seeds A-B] [--half tuning|validation] [--all-keyers]
//                  [--peer-cache FILE [--cached-peer]] [--save DIR] [--plate]
//                  [--param NAME=VALUE ...]
//   keying_quality --hashes [file to check against]
//
// --quick leaves out the 24-megapixel shots; --cached-peer compares only with the chromakey
// scores already in the peer cache, for quick turns. --all-keyers adds Magic Numbers 1 to 9, each
// with its best fine tuning per shot. --peer-cache keeps the tuned chromakey's scores per
// seed in FILE, so a later run need not search again. --save writes each shot, its truth and
// Magic Number 10's result as PNG. --hashes prints a hash of Magic Number 10's output on the
// sample photos and the first shots under several settings, or compares them with a file of
// such lines and fails on any difference: a change meant to keep the output must keep these.
// --plate also keys each shot against its backdrop plate (the empty backdrop with its own
// noise, the exposure 2-4% off, the camera 1 to 3 pixels aside), with the shadow keyed out
// for the scores and kept for the shadow error: the mean |darkening made - true darkening|
// over the true backdrop, in % of full scale; and beside it a floor, the key told each pixel's
// true subject colour and backdrop (floorScore). --param sets one of the soft key's tuning
// constants for Magic Number 10 without the plate, for choosing them on the tuning half.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <numeric>
#include <optional>

#include "keying/keyer.h"
#include "keying/soft/params.h"
#include "keying/soft/plate_key.h"
#include "keying/soft/soft_key.h"
#include "studio_scenes.h"

namespace {

constexpr int kGrey = 128;

struct Score {
    double alpha = 1e30;  // sum |alpha error| / 255 per megapixel
    double edge = 0;      // mean |RGB error| at the edge, 0..255
    double lost = 0;      // share of the true subject (alpha >= half) keyed below half
    double kept = 0;      // share of the true backdrop (alpha < half) kept at half or more
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
    qint64 edgeCount = 0, subject = 0, lost = 0, backdrop = 0, kept = 0;
    for (int y = 0; y < h; ++y) {
        const auto* k = reinterpret_cast<const QRgb*>(keyed.constScanLine(y));
        const auto* t = reinterpret_cast<const QRgb*>(sc.truth.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const int ka = qAlpha(k[x]), ta = qAlpha(t[x]);
            alphaErr += std::abs(ka - ta);
            if (ta >= 128) {
                ++subject, lost += ka < 128;
            } else {
                ++backdrop, kept += ka >= 128;
            }
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
    s.lost = double(lost) / double(std::max<qint64>(1, subject));
    s.kept = double(kept) / double(std::max<qint64>(1, backdrop));
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
    const double blends[] = {0.0, 0.02, 0.05, 0.1, 0.18, 0.3};
    constexpr int kBlends = int(std::size(blends));
    const int w = sc.photo.width(), h = sc.photo.height();
    Score best;
    for (int si = 1; si <= 14; ++si) {
        const double sim = 0.03 * si;
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
            if (raw.size() != qsizetype(w) * h * 4) {
                return std::nullopt;
            }
            const QImage rgba(reinterpret_cast<const uchar*>(raw.constData()), w, h,
                              QImage::Format_RGBA8888);
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
    for (quint32 seed = quality::kFirstSeed; photos.size() < 8; ++seed) {
        if (quality::isLargeSeed(seed)) {
            continue;
        }
        const quality::Scene sc = quality::makeScene(seed);
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

bool ffmpegOnPath() {
    QProcess probe;
    probe.start("ffmpeg", {"-v", "quiet", "-version"});
    return probe.waitForFinished(-1) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

int checkHashes(const QString& file) {
    // Without ffmpeg the 4:4:4 shots come out 4:2:0 and every hash of theirs differs: say so
    // rather than report a changed keyer.
    if (!file.isEmpty() && !ffmpegOnPath()) {
        std::fprintf(stderr,
                     "ffmpeg is not on the PATH: the 4:4:4 shots that %s pins cannot be "
                     "made (./setup.sh installs it)\n",
                     qPrintable(file));
        return 2;
    }
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

struct PlateScore {
    Score key;               // shadow keyed out
    double shadowError = 0;  // shadow kept: mean |made - true darkening| on the backdrop, 0..1
    bool used = false;       // the plate was found to fit
};

// The floor under the lost and kept shares: a key told each pixel's true subject colour F and
// the true backdrop K behind it (as lit, shadow included, free of noise), which unmixes the
// photo's pixel P = a F + (1 - a) K by least squares. What it still gets wrong is the shot's
// own noise and JPEG at the outline, which no key that reads pixels one by one undoes. Pixels
// with no subject at all it keys clear. Counted at half, as every key is; and at the alpha
// level, found on the truth, where the larger of its two shares is least.
struct FloorScore {
    Score atHalf;
    int level = 128;            // keyed at this alpha or more counts as subject
    double lost = 0, kept = 0;  // the shares there
};

FloorScore floorScore(const quality::Scene& sc, const std::vector<char>& edge) {
    const QImage back = sc.backdrop();
    const int w = sc.photo.width(), h = sc.photo.height();
    QImage keyed(w, h, QImage::Format_ARGB32);
    std::array<qint64, 256> subject{}, backdrop{};  // keyed alpha by the truth's side of half
    for (int y = 0; y < h; ++y) {
        const auto* t = reinterpret_cast<const QRgb*>(sc.truth.constScanLine(y));
        const auto* ph = reinterpret_cast<const QRgb*>(sc.photo.constScanLine(y));
        const auto* k = reinterpret_cast<const QRgb*>(back.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int ta = qAlpha(t[x]);
            out[x] = 0;
            if (ta > 0) {
                const double f[3] = {qRed(t[x]) * 255.0 / ta, qGreen(t[x]) * 255.0 / ta,
                                     qBlue(t[x]) * 255.0 / ta};
                const double b[3] = {double(qRed(k[x])), double(qGreen(k[x])), double(qBlue(k[x]))};
                const double p[3] = {double(qRed(ph[x])), double(qGreen(ph[x])),
                                     double(qBlue(ph[x]))};
                double along = 0, span = 0;
                for (int c = 0; c < 3; ++c) {
                    along += (p[c] - b[c]) * (f[c] - b[c]);
                    span += (f[c] - b[c]) * (f[c] - b[c]);
                }
                const double a = std::clamp(along / std::max(1.0, span), 0.0, 1.0);
                out[x] =
                    qRgba(int(f[0] + 0.5), int(f[1] + 0.5), int(f[2] + 0.5), int(a * 255 + 0.5));
            }
            ++(ta >= 128 ? subject : backdrop)[size_t(qAlpha(out[x]))];
        }
    }
    FloorScore r;
    r.atHalf = score(keyed, sc, edge);
    qint64 below = 0, above = std::accumulate(backdrop.begin(), backdrop.end(), qint64(0));
    const double ns =
        double(std::max<qint64>(1, std::accumulate(subject.begin(), subject.end(), qint64(0))));
    const double nb = double(std::max<qint64>(1, above));
    double best = 2;
    for (int level = 1; level < 256; ++level) {
        below += subject[size_t(level - 1)], above -= backdrop[size_t(level - 1)];
        const double lost = double(below) / ns, kept = double(above) / nb;
        if (std::max(lost, kept) < best) {
            best = std::max(lost, kept), r.level = level, r.lost = lost, r.kept = kept;
        }
    }
    return r;
}

PlateScore plateScore(const quality::Scene& sc, const std::vector<char>& edge,
                      const keying::soft::SoftKeyParams& params, const QString& keep) {
    QRandomGenerator rng(sc.seed * 31u + 5u);
    QPoint camera;
    while (camera.isNull()) {
        camera = QPoint(int(rng.bounded(7u)) - 3, int(rng.bounded(7u)) - 3);
    }
    const double off = 0.02 + 0.02 * rng.generateDouble();
    const double exposure = rng.bounded(2u) ? 1 + off : 1 - off;
    const QImage platePhoto = sc.plate(camera, exposure);
    const keying::BackdropPlate plate = keying::prepareBackdropPlate(platePhoto);
    keying::KeySettings s;
    s.magic = 10;
    s.backdrop = sc.blue ? keying::Backdrop::Blue : keying::Backdrop::Green;
    QImage img = sc.photo;
    PlateScore r;
    const keying::PlateOutcome out = keying::maskOutSoftWithPlate(img, plate, s, params);
    r.used = out.use == keying::PlateOutcome::Use::Used;
    if (!keep.isEmpty()) {
        img.save(keep + "/" + sc.name + "_mn10plate.png");
        platePhoto.save(keep + "/" + sc.name + "_plate.png");
    }
    r.key = score(img, sc, edge);
    r.key.tuning = QString("camera %1,%2 exposure %3%")
                       .arg(camera.x())
                       .arg(camera.y())
                       .arg(100 * (exposure - 1), 0, 'f', 1);
    r.key.tuning += QString(", found %1,%2 gains %3 %4 %5, agreement %6%")
                        .arg(out.dx)
                        .arg(out.dy)
                        .arg(out.gain[0], 0, 'f', 3)
                        .arg(out.gain[1], 0, 'f', 3)
                        .arg(out.gain[2], 0, 'f', 3)
                        .arg(100 * out.agreement, 0, 'f', 1);
    if (!r.used) {
        r.key.tuning += " NOT USED";
    }
    s.keepShadows = true;
    img = sc.photo;
    keying::maskOutSoftWithPlate(img, plate, s, params);
    double err = 0;
    qint64 n = 0;
    for (int y = 0; y < img.height(); ++y) {
        const auto* k = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        const auto* t = reinterpret_cast<const QRgb*>(sc.truth.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if (qAlpha(t[x]) == 0) {
                err += std::abs(qAlpha(k[x]) / 255.0 - sc.shadow(x, y)), ++n;
            }
        }
    }
    r.shadowError = err / double(std::max<qint64>(1, n));
    return r;
}

struct Row {
    quint32 seed;
    bool tuning;
    Score soft;
    std::optional<Score> peer;
    std::optional<PlateScore> plate;
    std::optional<FloorScore> floor;  // told the true subject colour and backdrop
};

// The tuned chromakey's scores by seed: "seed alpha edge lost kept" a line.
std::map<quint32, Score> readPeerCache(const QString& file) {
    std::map<quint32, Score> out;
    QFile f(file);
    if (file.isEmpty() || !f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return out;
    }
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QStringList v = in.readLine().split(' ', Qt::SkipEmptyParts);
        if (v.size() >= 5) {
            Score sc;
            sc.alpha = v[1].toDouble(), sc.edge = v[2].toDouble();
            sc.lost = v[3].toDouble(), sc.kept = v[4].toDouble();
            sc.tuning = v.mid(5).join(' ');
            out[v[0].toUInt()] = sc;
        }
    }
    return out;
}

void appendPeerCache(const QString& file, quint32 seed, const Score& sc) {
    QFile f(file);
    if (!file.isEmpty() && f.open(QIODevice::Append | QIODevice::Text)) {
        QTextStream(&f) << seed << ' ' << QString::number(sc.alpha, 'g', 10) << ' '
                        << QString::number(sc.edge, 'g', 10) << ' '
                        << QString::number(sc.lost, 'g', 10) << ' '
                        << QString::number(sc.kept, 'g', 10) << ' ' << sc.tuning << '\n';
    }
}

void summary(const char* half, const std::vector<Row>& rows, bool tuning) {
    double soft = 0, peer = 0, edge = 0, peerEdge = 0, worstLost = 0, worstKept = 0;
    int n = 0, withPeer = 0, worse = 0, lostOver = 0, keptOver = 0;
    for (const Row& r : rows) {
        if (r.tuning != tuning) {
            continue;
        }
        ++n;
        edge += r.soft.edge;
        lostOver += r.soft.lost > 0.01, keptOver += r.soft.kept > 0.01;
        worstLost = std::max(worstLost, r.soft.lost), worstKept = std::max(worstKept, r.soft.kept);
        if (r.peer) {
            ++withPeer;
            soft += r.soft.alpha, peer += r.peer->alpha, peerEdge += r.peer->edge;
            worse += r.soft.alpha > r.peer->alpha;
        }
    }
    if (n == 0) {
        return;
    }
    std::printf(
        "%-10s %3d shots  lost > 1%%: %2d (worst %5.1f%%)  kept > 1%%: %2d (worst %5.1f%%)"
        "  edge RGB %.2f",
        half, n, lostOver, 100 * worstLost, keptOver, 100 * worstKept, edge / n);
    if (withPeer > 0) {
        std::printf("  MN10 / tuned chromakey SAD %.2f, worse on %d of %d, chromakey edge %.2f",
                    soft / peer, worse, withPeer, peerEdge / withPeer);
    }
    std::printf("\n");
    // With the plate: against the same shots' tuned chromakey and the key without a plate.
    double withPlate = 0, without = 0, peerSad = 0, shadow = 0, worstShadow = 0;
    double worstPlateLost = 0, worstPlateKept = 0;
    int plates = 0, unused = 0, plateLost = 0, plateKept = 0, platePeers = 0;
    for (const Row& r : rows) {
        if (r.tuning != tuning || !r.plate) {
            continue;
        }
        const PlateScore& p = *r.plate;
        ++plates;
        unused += !p.used;
        withPlate += p.key.alpha, without += r.soft.alpha;
        plateLost += p.key.lost > 0.005, plateKept += p.key.kept > 0.005;
        worstPlateLost = std::max(worstPlateLost, p.key.lost);
        worstPlateKept = std::max(worstPlateKept, p.key.kept);
        shadow += p.shadowError, worstShadow = std::max(worstShadow, p.shadowError);
        if (r.peer) {
            ++platePeers, peerSad += r.peer->alpha;
        }
    }
    if (plates == 0) {
        return;
    }
    // The same failure counts for the key told the truth, and every mean lost share.
    double floorLost = 0, softLost = 0, plateLostMean = 0;
    int floorOver1 = 0, floorOverHalf = 0, floorKept1 = 0, floorKeptHalf = 0;
    int bestOver1 = 0, bestOverHalf = 0;  // at the floor's best level, either share
    for (const Row& r : rows) {
        if (r.tuning != tuning || !r.plate || !r.floor) {
            continue;
        }
        const Score& f = r.floor->atHalf;
        floorLost += f.lost, softLost += r.soft.lost, plateLostMean += r.plate->key.lost;
        floorOver1 += f.lost > 0.01, floorOverHalf += f.lost > 0.005;
        floorKept1 += f.kept > 0.01, floorKeptHalf += f.kept > 0.005;
        const double worse = std::max(r.floor->lost, r.floor->kept);
        bestOver1 += worse > 0.01, bestOverHalf += worse > 0.005;
    }
    std::printf("%-10s with plate: SAD / without %.2f", half, withPlate / without);
    if (platePeers == plates) {
        std::printf(", / tuned chromakey %.2f", withPlate / peerSad);
    }
    std::printf(
        "; lost > 0.5%%: %d (worst %.2f%%), kept > 0.5%%: %d (worst %.2f%%); shadow error mean "
        "%.2f%% (worst %.2f%%); plate not used on %d of %d\n",
        plateLost, 100 * worstPlateLost, plateKept, 100 * worstPlateKept, 100 * shadow / plates,
        100 * worstShadow, unused, plates);
    std::printf(
        "%-10s floor (true subject colour and backdrop): lost > 1%%: %d, > 0.5%%: %d; kept > 1%%: "
        "%d, > 0.5%%: %d; mean lost %.2f%% (MN10 %.2f%%, with plate %.2f%%); at its best level "
        "per shot, lost or kept > 1%%: %d, > 0.5%%: %d\n",
        half, floorOver1, floorOverHalf, floorKept1, floorKeptHalf, 100 * floorLost / plates,
        100 * softLost / plates, 100 * plateLostMean / plates, bestOver1, bestOverHalf);
}

// NAME=VALUE into the parameter set, within the parameter's range.
bool setParam(keying::soft::SoftKeyParams& p, const QString& set) {
    const QStringList parts = set.split('=');
    bool ok = false;
    const double v = parts.value(1).toDouble(&ok);
    std::size_t count = 0;
    const keying::soft::ParamInfo* table = keying::soft::paramTable(&count);
    for (std::size_t i = 0; ok && parts.size() == 2 && i < count; ++i) {
        if (parts[0] == table[i].name && v >= table[i].least && v <= table[i].most) {
            p.*table[i].field = v;
            return true;
        }
    }
    return false;
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
    const bool quick = args.removeAll("--quick") > 0;
    const bool allKeyers = args.removeAll("--all-keyers") > 0;
    const bool withPlate = args.removeAll("--plate") > 0;
    const bool cachedOnly = args.removeAll("--cached-peer") > 0;
    auto value = [&](const char* name) {
        const int i = args.indexOf(name);
        QString v;
        if (i >= 0 && i + 1 < args.size()) {
            v = args[i + 1];
            args.remove(i, 2);
        }
        return v;
    };
    const QString cacheFile = value("--peer-cache"), keep = value("--save");
    const QString half = value("--half");  // tuning or validation; both when empty
    const QStringList range = value("--seeds").split('-');
    keying::soft::SoftKeyParams params;
    for (QString set = value("--param"); !set.isEmpty(); set = value("--param")) {
        if (!setParam(params, set)) {
            std::fprintf(stderr, "unknown parameter or value out of range: %s\n", qPrintable(set));
            return 2;
        }
    }
    const quint32 first = range.size() == 2 ? range[0].toUInt() : quality::kFirstSeed;
    const quint32 last =
        range.size() == 2 ? range[1].toUInt() : quality::kFirstSeed + quality::kSeeds - 1;
    std::map<quint32, Score> cache = readPeerCache(cacheFile);
    QTemporaryDir tmp;
    bool haveFfmpeg = ffmpegOnPath();
    if (!haveFfmpeg) {
        std::printf("ffmpeg is not on the PATH: no tuned chromakey to compare with\n");
    }

    std::printf("%-4s %-4s %-10s %10s %7s %7s %7s  %s\n", "shot", "half", "keyer", "SAD/MP",
                "lost%", "kept%", "edge", "tuning / scene");
    std::vector<Row> rows;
    for (quint32 seed = first; seed <= last; ++seed) {
        if ((quick && quality::isLargeSeed(seed)) ||
            (half == "tuning" && !quality::isTuningSeed(seed)) ||
            (half == "validation" && quality::isTuningSeed(seed))) {
            continue;
        }
        const quality::Scene sc = quality::makeScene(seed);
        const bool tuning = quality::isTuningSeed(seed);
        const std::vector<char> edge = edgeMask(sc.truth);
        auto line = [&](const char* keyer, const Score& s, const QString& note) {
            std::printf("%-4s %-4s %-10s %10.0f %7.2f %7.2f %7.2f  %s\n", qPrintable(sc.name),
                        tuning ? "tune" : "val", keyer, s.alpha, 100 * s.lost, 100 * s.kept, s.edge,
                        qPrintable(note));
        };
        keying::KeySettings s;
        s.magic = 10;
        s.backdrop = sc.blue ? keying::Backdrop::Blue : keying::Backdrop::Green;
        QImage soft = sc.photo;
        keying::soft::keyWithParams(soft, s, params);
        Row row{seed, tuning, score(soft, sc, edge), std::nullopt, std::nullopt, std::nullopt};
        line("MN10", row.soft, sc.features);
        if (!keep.isEmpty()) {
            QDir().mkpath(keep);
            sc.photo.save(keep + "/" + sc.name + ".png");
            sc.truth.save(keep + "/" + sc.name + "_truth.png");
            soft.save(keep + "/" + sc.name + "_mn10.png");
        }
        for (int m = 1; m <= 9 && allKeyers; ++m) {
            const Score b = bestMagic(m, sc, edge);
            line(qPrintable(QString("MN%1").arg(m)), b, b.tuning);
        }
        if (const auto hit = cache.find(seed); hit != cache.end()) {
            row.peer = hit->second;
        } else if (haveFfmpeg && !cachedOnly) {
            row.peer = bestChromakey(sc, edge, tmp.path());
            if (row.peer) {
                appendPeerCache(cacheFile, seed, *row.peer);
            }
        }
        if (row.peer) {
            line("chromakey", *row.peer, row.peer->tuning);
        }
        if (withPlate) {
            row.plate = plateScore(sc, edge, params, keep);
            line("MN10+plate", row.plate->key,
                 row.plate->key.tuning +
                     QString(", shadow error %1%").arg(100 * row.plate->shadowError, 0, 'f', 2));
            row.floor = floorScore(sc, edge);
            line("floor", row.floor->atHalf,
                 QString("true subject colour and backdrop; at alpha %1: lost %2%, kept %3%")
                     .arg(row.floor->level)
                     .arg(100 * row.floor->lost, 0, 'f', 2)
                     .arg(100 * row.floor->kept, 0, 'f', 2));
        }
        rows.push_back(row);
        std::fflush(stdout);
    }
    std::printf("\n");
    summary("tuning", rows, true);
    summary("validation", rows, false);
    return 0;
}
