#include "batch/runner.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>
#include <QtConcurrent/QtConcurrentRun>
#include <thread>
#include <vector>

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

// The output of each foreground, in the order given: its plain result name unless that holds
// the result of another photo (of this run or from before) or a photo this run reads; then the
// next free numbered name, with a line naming both. Empty for a photo given twice, or when no
// name is free.
QStringList plannedOutputs(const Options& o, Progress& progress) {
    QHash<QString, QString> claims;  // file key -> the photo that writes or is that file
    for (const QString& fg : o.foregrounds)
        claims.insert(fileKey(fg), results::sourceName(fg));
    if (!o.transparent)
        claims.insert(fileKey(o.background), results::sourceName(o.background));
    const auto claimed = [&](const QString& path) { return claims.value(fileKey(path)); };

    QHash<QString, QString> done;  // photo -> its output
    QStringList outputs;
    for (const QString& fg : o.foregrounds) {
        const QString me = results::sourceName(fg);
        if (done.contains(me)) {
            progress.problem(problemLine(fg, QStringLiteral("given twice; done once")));
            outputs << QString();
            continue;
        }
        const results::ResultSlot slot =
            results::resultSlot(o.outputDir, fg, claimed, formats::suffix(o.format));
        if (!results::slotNote(slot).isEmpty())
            progress.problem(problemLine(fg, results::slotNote(slot)));
        if (!slot.path.isEmpty())
            claims.insert(fileKey(slot.path), me);
        done.insert(me, slot.path);
        outputs << slot.path;
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

Status runBatch(const Options& o, Progress& progress, const std::atomic<bool>& stop) {
    QString why;
    if (!outputFolderUsable(o.outputDir, &why)) {
        progress.problem(problemLine(o.outputDir, why));
        for (const QString& fg : o.foregrounds)
            progress.finished(fg, QString(), false);
        return SomeFailed;
    }
    const QStringList outputs = plannedOutputs(o, progress);

    // The background is held for the whole run: its decoded and layered copies come off the
    // budget first.
    qint64 budget = memoryBudget();
    QSize backgroundSize;
    if (!o.transparent) {
        const PhotoLoad header = readPhotoHeader(o.background, o.maxPixels);
        if (header.ok() && header.size.isValid()) {
            backgroundSize = header.size;
            budget -= qint64(header.size.width()) * header.size.height() * 8;
        }
    }
    MemoryGate gate(std::max<qint64>(budget, 0));

    std::atomic<bool> diskFull{false};
    JobShared shared{o, QImage(), backgroundSize, &gate, [&] { return stop || diskFull; }};
    // The background is decoded once, while the first foregrounds decode beside it.
    QFuture<QImage> background;
    std::atomic<bool> backgroundFailed{false};
    if (!o.transparent) {
        background = QtConcurrent::run([&o, &progress, &backgroundFailed] {
            QString why, warning;
            QImage layer = readBackground(o.background, o, &why, &warning);
            if (!warning.isEmpty())
                progress.problem(problemLine(o.background, warning));
            if (layer.isNull()) {
                backgroundFailed = true;
                progress.problem(problemLine(o.background, why));
            }
            return layer;
        });
    }

    std::atomic<int> next{0};
    auto work = [&] {
        compose::ComposeCache cache;  // keeps the scaled background between photos
        JobShared mine = shared;
        for (int i = next++; i < o.foregrounds.size(); i = next++) {
            const QString& fg = o.foregrounds[i];
            if (shared.stopping())
                return;  // photos not begun are neither written nor failed
            if (outputs[i].isEmpty()) {
                progress.finished(fg, QString(), false);
                continue;
            }
            if (!o.transparent && mine.background.isNull()) {
                mine.background = background.result();
                if (mine.background.isNull()) {
                    progress.finished(fg, QString(), false);
                    continue;
                }
            }
            progress.started(fg);
            const JobResult r = runPhotoJob(fg, outputs[i], mine, &cache);
            if (r.outcome == JobResult::Outcome::NotBegun)
                return;
            if (r.diskFull)
                diskFull = true;
            if (!r.warning.isEmpty())
                progress.problem(problemLine(fg, r.warning));
            if (!r.problem.isEmpty())
                progress.problem(problemLine(fg, r.problem));
            progress.finished(fg, outputs[i], r.outcome == JobResult::Outcome::Written);
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
        background.waitForFinished();

    if (stop)
        return Interrupted;
    if (diskFull)
        return DiskFull;
    return progress.failed() > 0 || backgroundFailed ? SomeFailed : AllWritten;
}

}  // namespace batch
