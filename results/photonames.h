// The names of photos and of the results made from them: which files are photos, which formats
// are read, and which file a photo's result goes to without destroying another's.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace results {

// Wildcards of photo file names, to be matched in any letter case (QDir's default).
const QStringList& photoNamePatterns();

// True when `fileName` (no folder) matches photoNamePatterns in any letter case.
bool isPhotoName(const QString& fileName);

// The formats read, as the messages name them: "JPEG, TIFF, BMP, PNG, XPM".
QString readableFormats();

// A file chooser's filter of photos: "`label` (*.jpeg *.jpg ...)".
QString photoFileFilter(const QString& label);

// The result's name of `photo`: its file name without the folder and the last suffix, then
// `suffix` (gala.2026.12.05.001.jpg gives gala.2026.12.05.001.png; IMG_0001.JPG gives
// IMG_0001.png).
QString resultName(const QString& photo, const QString& suffix = QStringLiteral("png"));

// The result's name numbered `n` (2, 3, ...): gala-2.png; `n` 1 is resultName.
QString numberedResultName(const QString& photo, int n,
                           const QString& suffix = QStringLiteral("png"));

// The stem of the result of `photo` over `background`, one of several of the photo:
// "<photo's name>-<background's name>" (gala.001.jpg over beach.jpg gives gala.001-beach).
QString pairedStem(const QString& photo, const QString& background);

// Keys of the PNG text entries in which a result records the photo it was made from (its
// absolute path) and that photo's version (see photoVersion).
extern const char kSourceKey[];
extern const char kVersionKey[];
extern const char kDigestKey[];
// ... and, for one of several results of a photo, the background it was made over.
extern const char kBackgroundKey[];

// What identifies one version of the file at `path`: device, inode, size, modification and
// status-change times, as text; empty when it cannot be looked at.
QString photoVersion(const QString& path);

// A digest of the bytes of the file at `path` (kDigestKey), to tell a photo whose times were
// set after it was written (a copy keeping them) from new contents; empty when unreadable.
QString photoDigest(const QString& path);

// True when two photoVersion texts name the same file at the same size, whatever its times.
bool sameFileAndSize(const QString& version, const QString& other);

// The photo a result records (kSourceKey), and the version recorded with it.
struct ResultOrigin {
    QString source;      // empty: no result there, or one that records no photo
    QString version;     // the photo's version when the result was made
    QString digest;      // and its digest
    QString background;  // the background recorded (kBackgroundKey), if any
    bool exists = false;
};
ResultOrigin resultOrigin(const QString& resultPath);

// The photo as a result records it: its absolute, canonical path when it exists.
QString sourceName(const QString& photo);

// Where the result of `photo` goes in `folder`.
struct ResultSlot {
    enum class First {
        Free,         // the plain name is the one taken
        OtherResult,  // it holds (or this run gives it) the result of the photo `takenBy`
        InUse,        // it is a photo this run reads (`takenBy`), such as the background
        NotAResult,   // a file lies there that records no photo
    };
    QString path;   // folder/<name>.png or folder/<name>-N.png; empty when none is free
    QString first;  // folder/<name>.png
    First why = First::Free;
    QString takenBy;
    ResultOrigin was;  // what lay at `path` before: this photo's earlier result, or nothing
};

// What a result is, when it is not the one plain result of its photo.
struct ResultKind {
    QString stem;        // the name without suffix; empty: the photo's own (resultName)
    QString background;  // one of several results: the background it is made over
};

// The first of resultName, numberedResultName 2, 3, ... that holds nothing or an earlier result
// of this same photo (which is replaced). A name is passed over when `claimed` gives another
// photo for it (the result of a photo of the same run, or a photo the run reads), or when a
// file lies there that is not a result of `photo`. With `kind.stem` the names are that stem,
// then stem-2, ...; with `kind.background` an earlier result counts as this one's only when it
// records that background too, and `claimed` is asked for identity(photo, background).
ResultSlot resultSlot(const QString& folder, const QString& photo,
                      const std::function<QString(const QString& path)>& claimed = {},
                      const QString& suffix = QStringLiteral("png"),
                      const ResultKind& kind = ResultKind());

// Who claims a result name in a run: the photo's sourceName, and with a background the two.
QString resultIdentity(const QString& photo, const QString& background = QString());

// Why a result did not get its plain name, in words ("gala.png holds the result of
// /in/a/gala.jpg; written as gala-2.png"); empty when it did.
QString slotNote(const ResultSlot& slot);

}  // namespace results
