#include "batch/runner.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QTemporaryFile>
#include <QtConcurrent/QtConcurrentRun>
#include <thread>
#include <vector>

#include "batch/contactsheet.h"
#include "batch/photojob.h"
#include "formats/result.h"
#include "results/photonames.h"

namespace batch {

namespace {

QString fileKey(const QString& path) {
    const QString key = results::sourceName(path);
#ifdef Q_OS_DARWIN
    return key.toLower();  // the usual macOS disk ignores case
#else
    return key;
#endif
}

// The outputs of each foreground, in the order given, one per background (one when
// transparent): its plain result name (with several backgrounds, <name>-<background name>)
// unless that holds the result of another photo (of this run or from before) or a photo this run
// reads; then the next free numbered name, with a line naming both. Empty for a photo given
// twice, or when no name is free.
std::vector<QStringList> plannedOutputs(const Options& o, Progress& progress) {
    QHash<QString, QString> claims;  // file key -> the photo that writes or is that file
    for (const QString& fg : o.foregrounds)
        claims.insert(fileKey(fg), results::sourceName(fg));
    if (!o.transparent)
        for (const QString& bg : o.backgrounds)
            claims.insert(fileKey(bg), results::sourceName(bg));
    const auto claimed = [&](const QString& path) { return claims.value(fileKey(path)); };
    const bool paired = !o.transparent && o.backgrounds.size() > 1;
    const QStringList overs = paired ? o.backgrounds : QStringList{QString()};

    QSet<QString> done;
    std::vector<QStringList> outputs;
    for (const QString& fg : o.foregrounds) {
        const QString me = results::sourceName(fg);
        QStringList mine;
        if (done.contains(me)) {
            progress.problem(problemLine(fg, QStringLiteral("given twice; done once")));
            outputs.push_back(QStringList());
            continue;
        }
        done.insert(me);
        for (const QString& bg : overs) {
            results::ResultKind kind;
            if (paired)
                kind = {results::pairedStem(fg, bg), bg};
            const results::ResultSlot slot =
                results::resultSlot(o.outputDir, fg, claimed, formats::suffix(o.format), kind);
            if (!results::slotNote(slot).isEmpty())
                progress.problem(problemLine(fg, results::slotNote(slot)));
            if (!slot.path.isEmpty())
                claims.insert(fileKey(slot.path), results::resultIdentity(fg, kind.background));
            mine << slot.path;
        }
        outputs.push_back(mine);
    }
    return outputs;
}

// Creates the output folder if needed and checks that files can be made in it, so that a run
// over hundreds of photos does not key them all only to fail at every write.
bool outputFolderUsable(const QString& dir, QString* why) {
    if (!QDir().mkpath(dir)) {
        *why = QStringLiteral("the output folder cannot be created");
        return false;
    }
    QTemporaryFile probe(dir + QStringLiteral("/.mattora-batch-XXXXXX"));
    if (!probe.open()) {
        *why = QStringLiteral("cannot write in the output folder: ") + probe.errorString();
        return false;
    }
    return true;
}

}  // namespace

int resultsPerPhoto(const Options& o) {
    return o.transparent || o.contactSheet ? 1 : std::max(1, int(o.backgrounds.size()));
}

Status runBatch(const Options& o, Progress& progress, const std::atomic<bool>& stop) {
    const int per = resultsPerPhoto(o);
    const auto failPhoto = [&](const QString& fg) {
        for (int k = 0; k < per; ++k)
            progress.finished(fg, QString(), false);
    };
    QString why;
    if (!outputFolderUsable(o.outputDir, &why)) {
        progress.problem(problemLine(o.outputDir, why));
        for (const QString& fg : o.foregrounds)
            failPhoto(fg);
        return SomeFailed;
    }
    if (o.contactSheet)
        return runContactSheets(o, progress, stop);
    const std::vector<QStringList> outputs = plannedOutputs(o, progress);

    // The backgrounds are held for the whole run: their decoded and layered copies come off
    // the budget first.
    qint64 budget = memoryBudget();
    std::vector<BackgroundLayer> backgrounds;
    if (!o.transparent) {
        for (const QString& bg : o.backgrounds) {
            BackgroundLayer b;
            b.path = bg;
            const PhotoLoad header = readPhotoHeader(bg, o.maxPixels);
            if (header.ok() && header.size.isValid()) {
                b.size = header.size;
                budget -= qint64(header.size.width()) * header.size.height() * 8;
            }
            backgrounds.push_back(b);
        }
    }
    QImage overlay;
    if (!o.overlay.isEmpty()) {
        overlay = readOverlay(o.overlay, o, &why);
        if (overlay.isNull()) {
            progress.problem(problemLine(o.overlay, why));
            for (const QString& fg : o.foregrounds)
                failPhoto(fg);
            return SomeFailed;
        }
        budget -= overlay.sizeInBytes() * 2;
    }
    MemoryGate gate(std::max<qint64>(budget, 0));

    std::atomic<bool> diskFull{false};
    JobShared shared{o, backgrounds, overlay, &gate, [&] { return stop || diskFull; }};
    // The backgrounds are decoded once, in turn, while the first foregrounds decode beside them.
    QFuture<std::vector<BackgroundLayer>> decoded;
    std::atomic<bool> backgroundFailed{false};
    if (!o.transparent) {
        decoded = QtConcurrent::run([&o, &progress, &backgroundFailed, backgrounds] {
            std::vector<BackgroundLayer> layers = backgrounds;
            for (BackgroundLayer& b : layers) {
                QString why, warning;
                b.layer = readBackground(b.path, o, &why, &warning);
                if (!warning.isEmpty())
                    progress.problem(problemLine(b.path, warning));
                if (b.layer.isNull()) {
                    backgroundFailed = true;
                    progress.problem(problemLine(b.path, why));
                }
            }
            return layers;
        });
    }

    QMutex toldMutex;
    QSet<QString> told;  // canvas sizes whose overlay mismatch was told
    std::atomic<int> next{0};
    auto work = [&] {
        // Keeps each background scaled between photos.
        std::vector<compose::ComposeCache> caches;
        JobShared mine = shared;
        bool haveLayers = o.transparent;
        for (int i = next++; i < o.foregrounds.size(); i = next++) {
            const QString& fg = o.foregrounds[i];
            if (shared.stopping())
                return;  // photos not begun are neither written nor failed
            if (outputs[size_t(i)].isEmpty()) {
                failPhoto(fg);
                continue;
            }
            if (!haveLayers) {
                mine.backgrounds = decoded.result();
                haveLayers = true;
            }
            // Outputs over a background that could not be read fail; the others are made.
            QStringList wanted = outputs[size_t(i)];
            bool any = false;
            for (int k = 0; k < wanted.size(); ++k) {
                const bool usable = o.transparent || !mine.backgrounds[size_t(k)].layer.isNull();
                if (!usable || wanted[k].isEmpty())
                    wanted[k].clear();
                any = any || !wanted[k].isEmpty();
            }
            if (!any) {
                failPhoto(fg);
                continue;
            }
            progress.started(fg);
            const JobResult r = runPhotoJob(fg, wanted, mine, &caches);
            if (r.outcome == JobResult::Outcome::NotBegun)
                return;
            if (r.diskFull)
                diskFull = true;
            if (!r.warning.isEmpty())
                progress.problem(problemLine(fg, r.warning));
            const bool noneWritten =
                std::none_of(r.outputs.begin(), r.outputs.end(),
                             [](const OutputResult& out) { return out.written; });
            // The photo's own failure (unreadable, not keyed): one line for all its results.
            if (r.outputs.empty() || (noneWritten && !r.outputSide && !r.problem.isEmpty())) {
                if (!r.problem.isEmpty())
                    progress.problem(problemLine(fg, r.problem));
                failPhoto(fg);
                continue;
            }
            for (const OutputResult& out : r.outputs) {
                if (out.path.isEmpty()) {
                    progress.finished(fg, QString(), false);
                    continue;
                }
                if (out.overlayMismatch.isValid()) {
                    const QString size = QStringLiteral("%1 x %2")
                                             .arg(out.overlayMismatch.width())
                                             .arg(out.overlayMismatch.height());
                    QMutexLocker lock(&toldMutex);
                    if (!told.contains(size)) {
                        told.insert(size);
                        progress.problem(problemLine(
                            o.overlay,
                            QStringLiteral("its proportions (%1 x %2) differ from the result's "
                                           "(%3): it is centred and leaves bands uncovered")
                                .arg(overlay.width())
                                .arg(overlay.height())
                                .arg(size)));
                    }
                }
                if (!out.problem.isEmpty())
                    progress.problem(problemLine(fg, out.problem));
                progress.finished(fg, out.path, out.written);
            }
        }
    };
    const int workers = qBound(1, o.jobs, int(o.foregrounds.size()));
    std::vector<std::thread> threads;
    for (int i = 1; i < workers; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    if (!o.transparent)
        decoded.waitForFinished();

    if (stop)
        return Interrupted;
    if (diskFull)
        return DiskFull;
    return progress.failed() > 0 || backgroundFailed ? SomeFailed : AllWritten;
}

}  // namespace batch
