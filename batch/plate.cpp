#include "batch/plate.h"

#include <QDir>
#include <QFileInfo>
#include <memory>
#include <mutex>

#include "keying/photoframe.h"
#include "keying/soft/plate_key.h"
#include "photo/photofile.h"

namespace batch {

namespace {

struct LoadedPlate {
    QString path;
    int rotation = 0;
    QString stamp;  // size and modification time of the file it was read from
    QString problem;
    std::shared_ptr<const keying::BackdropPlate> plate;
};

QString stampOf(const QString& path) {
    const QFileInfo info(path);
    return QStringLiteral("%1/%2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
}

// The plate for these options: shared by every photo of the run, read again when its file
// changes. A plate that cannot be read gives its reason.
LoadedPlate platePhoto(const JobSettings& o) {
    static std::mutex mutex;
    static LoadedPlate held;
    const QString stamp = stampOf(o.plate);
    std::lock_guard<std::mutex> lock(mutex);
    if (held.path == o.plate && held.rotation == o.rotation && held.stamp == stamp)
        return held;
    LoadedPlate fresh;
    fresh.path = o.plate, fresh.rotation = o.rotation, fresh.stamp = stamp;
    PhotoLoad load = readPhoto(o.plate, o.maxPixels);
    if (!load.ok()) {
        fresh.problem = problemText(load);
    } else {
        auto plate = std::make_shared<keying::BackdropPlate>(
            keying::prepareBackdropPlate(keying::turnPhoto(load.image, o.rotation)));
        if (plate->isNull())
            fresh.problem = QStringLiteral("out of memory");
        else
            fresh.plate = std::move(plate);
    }
    held = fresh;
    return fresh;
}

QString sizeText(const QSize& s) {
    return QStringLiteral("%1 x %2").arg(s.width()).arg(s.height());
}

}  // namespace

bool keyShot(QImage& turned, const JobSettings& o, QString* why, QString* warning) {
    const auto note = [warning](const QString& line) {
        if (!line.isEmpty())
            *warning = warning->isEmpty() ? line : *warning + QStringLiteral("; ") + line;
    };
    if (o.plate.isEmpty() || o.key.magic != 10) {
        note(keying::keyNotesText(keying::keyTurnedPhoto(turned, o.key)));
        return true;
    }
    const QString name = QDir::toNativeSeparators(o.plate);
    const LoadedPlate held = platePhoto(o);
    if (!held.plate) {
        *why = QStringLiteral("cannot be keyed: the backdrop plate %1 cannot be read: %2")
                   .arg(name, held.problem);
        return false;
    }
    const QSize shot = turned.size();
    const keying::PlateOutcome out = keying::maskOutSoftWithPlate(turned, *held.plate, o.key);
    note(keying::keyNotesText(out.notes));
    switch (out.use) {
        case keying::PlateOutcome::Use::Used:
            break;
        case keying::PlateOutcome::Use::WrongSize:
            *why = QStringLiteral("cannot be keyed: it is %1 pixels, its backdrop plate %2 is %3")
                       .arg(sizeText(shot), name, sizeText(held.plate->size()));
            return false;
        case keying::PlateOutcome::Use::DoesNotFit: {
            const QString line =
                QStringLiteral(
                    "the backdrop plate %1 does not fit this shot (%2% of its clear "
                    "backdrop agrees with it); keyed without it")
                    .arg(name)
                    .arg(qRound(out.agreement * 100));
            note(line);
            break;
        }
    }
    return true;
}

}  // namespace batch
