#include "batch/runner.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>
#include <QtConcurrent/QtConcurrentRun>
#include <thread>
#include <vector>

#include "core/photofile.h"
#include "keying/photoframe.h"
#include "png/pngfile.h"

namespace batch {

namespace {

QString problemLine(const QString& file, const QString& what) {
    return QStringLiteral("mattora-batch: %1: %2").arg(QDir::toNativeSeparators(file), what);
}

QString fileKey(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    const QString key = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
#ifdef Q_OS_DARWIN
    return key.toLower();  // the usual macOS disk ignores case
#else
    return key;
#endif
}

// The output of each foreground, or an empty string with a problem line for one that must not
// be written: its name clashes with an earlier foreground's result, or its result would
// replace one of the run's own photos.
QStringList plannedOutputs(const Options& o, Progress& progress) {
    QHash<QString, QString> inputs;  // file key -> photo
    for (const QString& fg : o.foregrounds)
        inputs.insert(fileKey(fg), fg);
    if (!o.transparent)
        inputs.insert(fileKey(o.background), o.background);

    QHash<QString, QString> claimed;  // output key -> foreground that writes it
    QStringList outputs;
    for (const QString& fg : o.foregrounds) {
        const QString out = png::compositeFileName(o.outputDir, fg);
        const QString key = fileKey(out);
        if (claimed.contains(key)) {
            progress.problem(
                problemLine(fg, QStringLiteral("not written: its result %1 is already that of %2")
                                    .arg(QDir::toNativeSeparators(out),
                                         QDir::toNativeSeparators(claimed.value(key)))));
            outputs << QString();
        } else if (inputs.contains(key)) {
            progress.problem(
                problemLine(fg, QStringLiteral("not written: its result would replace the photo %1")
                                    .arg(QDir::toNativeSeparators(inputs.value(key)))));
            outputs << QString();
        } else {
            claimed.insert(key, fg);
            outputs << out;
        }
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

QImage composePhoto(const QString& foreground, const QImage& background, const Options& o,
                    compose::ComposeCache* cache, QString* why) {
    QString reason;
    QImage photo = loadPhoto(foreground, &reason);
    if (photo.isNull()) {
        *why = QStringLiteral("cannot be read: ") + reason;
        return QImage();
    }
    QImage keyed = keying::turnPhoto(photo, o.rotation);
    photo = QImage();  // at most one full-size copy of the photo is held
    keying::keyTurnedPhoto(keyed, o.key);
    QImage composite = compose::createComposite(background, keyed, o.offset.x(), o.offset.y(),
                                                o.transparent, o.compose, cache);
    if (composite.isNull())
        *why = QStringLiteral("cannot be composed: the result would be empty or too large");
    return composite;
}

Status runBatch(const Options& o, Progress& progress, const std::atomic<bool>& stop) {
    QString why;
    if (!outputFolderUsable(o.outputDir, &why)) {
        progress.problem(problemLine(o.outputDir, why));
        for (const QString& fg : o.foregrounds)
            progress.finished(fg, QString(), false);
        return SomeFailed;
    }
    const QStringList outputs = plannedOutputs(o, progress);

    // The background is decoded once, while the first foregrounds decode beside it.
    QFuture<QImage> background;
    std::atomic<bool> backgroundFailed{false};
    if (!o.transparent) {
        background = QtConcurrent::run([&o, &progress, &backgroundFailed] {
            QString reason;
            const QImage decoded = loadPhoto(o.background, &reason);
            if (decoded.isNull()) {
                backgroundFailed = true;
                progress.problem(
                    problemLine(o.background, QStringLiteral("cannot be read: ") + reason));
                return QImage();
            }
            return compose::backgroundLayer(decoded);
        });
    }

    std::atomic<int> next{0};
    auto work = [&] {
        compose::ComposeCache cache;  // keeps the scaled background between photos
        for (int i = next++; i < o.foregrounds.size(); i = next++) {
            const QString& fg = o.foregrounds[i];
            if (stop)
                return;  // photos not begun are neither written nor failed
            if (outputs[i].isEmpty() || backgroundFailed) {
                progress.finished(fg, QString(), false);
                continue;
            }
            progress.started(fg);
            QString reason;
            QImage composite;
            {
                const QImage bg = o.transparent ? QImage() : background.result();
                if (!o.transparent && bg.isNull()) {
                    progress.finished(fg, QString(), false);
                    continue;
                }
                composite = composePhoto(fg, bg, o, &cache, &reason);
            }
            cache.foreground.clear();  // the next photo's subject is a different one
            bool written = false;
            if (composite.isNull()) {
                progress.problem(problemLine(fg, reason));
            } else {
                written = png::writePng(composite, outputs[i], o.quality, &reason);
                if (!written)
                    progress.problem(
                        problemLine(fg, QStringLiteral("could not be written to %1: %2")
                                            .arg(QDir::toNativeSeparators(outputs[i]), reason)));
            }
            progress.finished(fg, outputs[i], written);
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
    return progress.failed() > 0 ? SomeFailed : AllWritten;
}

}  // namespace batch
