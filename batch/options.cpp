#include "batch/options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QThread>

#include "results/photonames.h"

namespace batch {

namespace {

const QString kSynopsis = QStringLiteral(
    "Keys out the green or blue backdrop of each FOREGROUND photo, lays the subject over the "
    "background photo and writes OUTPUT-DIR/<name>.png, as \"Save Image\" does in the window "
    "(or <name>.jpg, <name>.tif with --format).");

struct Option {
    const char* name;
    const char* valueName;  // nullptr: a switch
    const char* help;
};

// Ranges and defaults are those of the window's controls.
const Option kOptions[] = {
    {"magic", "N", "Keyer, the Magic Number 1..10 (default 9)."},
    {"fine", "N", "Fine tuning -100..100 (default 0)."},
    {"coarse", "N", "Coarse tuning -100..100 (default 0)."},
    {"spill", "N", "Spill strength 0..40 (default 0)."},
    {"correct-spill", nullptr, "Correct spill over: pull the backdrop's colour out of the edges."},
    {"blue", nullptr, "Key out a blue backdrop (default: green)."},
    {"rotation", "DEG", "Turn each photo clockwise by 0, 90, 180 or 270 degrees (default 0)."},
    {"background", "FILE",
     "Background photo; required unless --transparent (or --contact-sheet). Give it several "
     "times for one result per background, named <name>-<background name>.png."},
    {"backgrounds", "DIR",
     "Every photo of folder DIR is a background, in name order (after any --background)."},
    {"overlay", "FILE",
     "A picture with transparency (a PNG frame, names, a logo) laid over every result, scaled "
     "with its proportions kept to the result and centred; a line says so when its proportions "
     "differ from the result's."},
    {"transparent", nullptr, "Transparent background: write the keyed foreground alone."},
    {"canvas", "foreground|background", "Size of the result (default foreground)."},
    {"align", "center|top-left", "Where the background sits on the result (default center)."},
    {"bg-scale", "fit|actual|fill",
     "fit: scale the background to the foreground; actual: keep its size; fill: scale it "
     "without stretching to cover the foreground, centred, the overflow cut off (default fit)."},
    {"fg-size", "P", "Foreground size in percent 5..200 (default 100)."},
    {"offset", "X,Y",
     "Move the foreground by X,Y pixels of the window's preview, as a drag there does "
     "(default 0,0)."},
    {"output-dir", "DIR", "Where to write (default: the window's folder Documents/Verdalux)."},
    {"format", "png|jpeg|tiff",
     "Format of the results (default png): jpeg for print and sharing (no transparency), tiff "
     "(8 bits with alpha, compressed) for retouching. Each keeps the photo's colour profile, "
     "capture date and camera."},
    {"quality", "Q",
     "PNG: 0..100 (default 100, as \"Save Image\"); lower values give smaller files with the "
     "same pixels, written more slowly. JPEG: 1..100 (default 92; from 90 on, colour at full "
     "resolution). TIFF: not used."},
    {"jobs", "N",
     "Photos processed at once (default: the number of cores), fewer when their pixels would "
     "not fit in half the memory available."},
    {"max-megapixels", "N",
     "Refuse photos whose header claims more than N megapixels, before decoding them "
     "(default 250)."},
    {"keep-damaged", nullptr,
     "Write damaged photos (cut short, corrupt data) as far as they decode, with a warning; "
     "by default they fail."},
    {"plate", "FILE",
     "Backdrop plate: a photo of the empty backdrop from the same camera position, shot "
     "before the first subject. Each photo is keyed against it with Magic Number 10 (the "
     "default with a plate): uneven light, creases and texture key out cleanly. It must have "
     "the photos' size; a plate that does not fit a photo is named and that photo keyed "
     "without it."},
    {"keep-shadows", nullptr,
     "With --plate: keep the subject's shadow on the backdrop; the result darkens the new "
     "background there (with --transparent, black with the shadow's strength as alpha)."},
    {"watch", "DIR",
     "Hot folder: key the photos in DIR not done yet, then each photo written or moved into DIR "
     "once complete, until Ctrl-C; no FOREGROUND is given."},
    {"recursive", nullptr, "With --watch: the folders inside DIR too, at any depth."},
    {"contact-sheet", nullptr,
     "Instead of results, write OUTPUT-DIR/<name>-keyers.png per photo: the photo keyed by "
     "each Magic Number 1..10 at its default tuning over the (first) background, or a "
     "checkerboard, in a labelled grid, to choose the keyer."},
    {"settings", "FILE",
     "Read options from FILE, an INI file whose keys are the long option names (magic=10, "
     "background=...), as \"Save Batch Settings...\" writes it in the window; options given on "
     "the command line win."},
    {"verbose", nullptr, "Show the keyers' own debug messages."},
};

void addOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(kSynopsis);
    for (const Option& o : kOptions) {
        QCommandLineOption option(QString::fromLatin1(o.name), QString::fromUtf8(o.help));
        if (o.valueName)
            option.setValueName(QString::fromLatin1(o.valueName));
        parser.addOption(option);
    }
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("FOREGROUND"),
        QStringLiteral("Foreground photos (%1).").arg(results::readableFormats()),
        QStringLiteral("FOREGROUND..."));
}

// Reads the whole-number value of `name` into `out` when given; false with `problem` set
// when it is not a number in [lo, hi].
bool readInt(const QCommandLineParser& p, const char* name, int lo, int hi, int* out,
             QString* problem) {
    const QString key = QString::fromLatin1(name);
    if (!p.isSet(key))
        return true;
    bool ok = false;
    const int v = p.value(key).trimmed().toInt(&ok);
    if (!ok || v < lo || v > hi) {
        *problem = QStringLiteral("--%1 must be a whole number from %2 to %3, not \"%4\"")
                       .arg(key)
                       .arg(lo)
                       .arg(hi)
                       .arg(p.value(key));
        return false;
    }
    *out = v;
    return true;
}

// Reads one of `choices` (their index into `out`) when given.
bool readChoice(const QCommandLineParser& p, const char* name, const QStringList& choices, int* out,
                QString* problem) {
    const QString key = QString::fromLatin1(name);
    if (!p.isSet(key))
        return true;
    const int i = choices.indexOf(p.value(key));
    if (i < 0) {
        *problem = QStringLiteral("--%1 must be %2, not \"%3\"")
                       .arg(key, choices.join(QStringLiteral(" or ")), p.value(key));
        return false;
    }
    *out = i;
    return true;
}

bool readOffset(const QCommandLineParser& p, QPoint* out, QString* problem) {
    if (!p.isSet(QStringLiteral("offset")))
        return true;
    const QString value = p.value(QStringLiteral("offset"));
    const QStringList parts = value.split(QLatin1Char(','));
    bool okX = false, okY = false;
    const int x = parts.size() == 2 ? parts[0].trimmed().toInt(&okX) : 0;
    const int y = parts.size() == 2 ? parts[1].trimmed().toInt(&okY) : 0;
    if (!okX || !okY) {
        *problem = QStringLiteral("--offset must be two whole numbers X,Y, not \"%1\"").arg(value);
        return false;
    }
    *out = QPoint(x, y);
    return true;
}

bool readAll(const QCommandLineParser& p, Options* o, QString* problem) {
    int rotation = 0;
    int megapixels = int(o->maxPixels / 1'000'000);
    if (!readInt(p, "magic", 1, 10, &o->key.magic, problem) ||
        !readInt(p, "fine", -100, 100, &o->key.fine, problem) ||
        !readInt(p, "coarse", -100, 100, &o->key.coarse, problem) ||
        !readInt(p, "spill", 0, 40, &o->key.spill, problem) ||
        !readInt(p, "rotation", 0, 270, &rotation, problem) ||
        !readInt(p, "fg-size", 5, 200, &o->compose.fgSize, problem) ||
        !readInt(p, "quality", 0, 100, &o->quality, problem) ||
        !readInt(p, "jobs", 1, 256, &o->jobs, problem) ||
        !readInt(p, "max-megapixels", 1, 100000, &megapixels, problem) ||
        !readOffset(p, &o->offset, problem))
        return false;
    o->maxPixels = qint64(megapixels) * 1'000'000;
    const QString format = p.value(QStringLiteral("format"));
    if (p.isSet(QStringLiteral("format")) && !formats::formatNamed(format, &o->format)) {
        *problem = QStringLiteral("--format must be png, jpeg or tiff, not \"%1\"").arg(format);
        return false;
    }
    if (!p.isSet(QStringLiteral("quality")))
        o->quality = formats::defaultQuality(o->format);
    else if (o->format == formats::Format::Jpeg && o->quality < 1) {
        *problem = QStringLiteral("--quality of a JPEG must be from 1 to 100, not \"%1\"")
                       .arg(p.value(QStringLiteral("quality")));
        return false;
    }
    o->keepDamaged = p.isSet(QStringLiteral("keep-damaged"));
    if (rotation % 90 != 0) {
        *problem = QStringLiteral("--rotation must be 0, 90, 180 or 270, not \"%1\"")
                       .arg(p.value(QStringLiteral("rotation")));
        return false;
    }
    o->rotation = rotation;
    int canvas = 0, align = 0, scale = 0;
    if (!readChoice(p, "canvas", {QStringLiteral("foreground"), QStringLiteral("background")},
                    &canvas, problem) ||
        !readChoice(p, "align", {QStringLiteral("center"), QStringLiteral("top-left")}, &align,
                    problem) ||
        !readChoice(p, "bg-scale",
                    {QStringLiteral("fit"), QStringLiteral("actual"), QStringLiteral("fill")},
                    &scale, problem))
        return false;
    o->compose.canvas = canvas == 0 ? compose::Canvas::Foreground : compose::Canvas::Background;
    o->compose.align = align == 0 ? compose::Align::Center : compose::Align::TopLeft;
    o->compose.bgScale = scale == 0   ? compose::BackgroundScale::Fit
                         : scale == 1 ? compose::BackgroundScale::Actual
                                      : compose::BackgroundScale::Fill;
    o->key.correctSpill = p.isSet(QStringLiteral("correct-spill"));
    o->key.backdrop =
        p.isSet(QStringLiteral("blue")) ? keying::Backdrop::Blue : keying::Backdrop::Green;
    o->transparent = p.isSet(QStringLiteral("transparent"));
    o->watchDir = p.value(QStringLiteral("watch"));
    o->backgrounds = p.values(QStringLiteral("background"));
    o->outputDir = p.value(QStringLiteral("output-dir"));
    o->foregrounds = p.positionalArguments();
    if (o->backgrounds.contains(QString())) {
        *problem = QStringLiteral("--background needs a file name");
        return false;
    }
    if (p.isSet(QStringLiteral("backgrounds"))) {
        const QString dir = p.value(QStringLiteral("backgrounds"));
        const QFileInfo info(dir);
        if (dir.isEmpty() || !info.isDir()) {
            *problem = QStringLiteral("--backgrounds needs a folder, not \"%1\"").arg(dir);
            return false;
        }
        const QDir folder(info.absoluteFilePath());
        const QStringList names = folder.entryList(results::photoNamePatterns(), QDir::Files,
                                                   QDir::Name | QDir::IgnoreCase);
        if (names.isEmpty()) {
            *problem = QStringLiteral("--backgrounds: no photo (%1) in %2")
                           .arg(results::readableFormats(), QDir::toNativeSeparators(dir));
            return false;
        }
        for (const QString& name : names)
            o->backgrounds << folder.filePath(name);
    }
    o->overlay = p.value(QStringLiteral("overlay"));
    if (p.isSet(QStringLiteral("overlay")) && o->overlay.isEmpty()) {
        *problem = QStringLiteral("--overlay needs a file name");
        return false;
    }
    o->contactSheet = p.isSet(QStringLiteral("contact-sheet"));
    if (o->contactSheet && !o->watchDir.isEmpty()) {
        *problem = QStringLiteral("--contact-sheet cannot be used with --watch");
        return false;
    }
    if (o->transparent && !formats::keepsAlpha(o->format)) {
        *problem =
            QStringLiteral(
                "--format %1 cannot keep a transparent background: give --background FILE, or "
                "--format png or tiff")
                .arg(formats::formatName(o->format));
        return false;
    }
    if (!o->transparent && o->backgrounds.isEmpty() && !o->contactSheet) {
        *problem = QStringLiteral("no background photo: give --background FILE, or --transparent");
        return false;
    }
    if (p.isSet(QStringLiteral("output-dir")) && o->outputDir.isEmpty()) {
        *problem = QStringLiteral("--output-dir needs a folder name");
        return false;
    }
    if (p.isSet(QStringLiteral("watch")) && (o->watchDir.isEmpty() || !o->foregrounds.isEmpty())) {
        *problem = QStringLiteral("--watch needs a folder name and no FOREGROUND photos");
        return false;
    }
    o->recursive = p.isSet(QStringLiteral("recursive"));
    if (o->recursive && o->watchDir.isEmpty()) {
        *problem = QStringLiteral("--recursive needs --watch");
        return false;
    }
    o->verbose = p.isSet(QStringLiteral("verbose"));
    o->plate = p.value(QStringLiteral("plate"));
    o->key.keepShadows = p.isSet(QStringLiteral("keep-shadows"));
    if (p.isSet(QStringLiteral("plate")) && o->plate.isEmpty()) {
        *problem = QStringLiteral("--plate needs a file name");
        return false;
    }
    if (!o->plate.isEmpty()) {
        if (!p.isSet(QStringLiteral("magic")))
            o->key.magic = 10;
        if (o->key.magic != 10) {
            *problem = QStringLiteral("--plate keys with Magic Number 10 only, not --magic %1")
                           .arg(o->key.magic);
            return false;
        }
    }
    if (o->key.keepShadows && o->plate.isEmpty()) {
        *problem = QStringLiteral("--keep-shadows needs --plate FILE");
        return false;
    }
    if (o->foregrounds.isEmpty() && o->watchDir.isEmpty()) {
        *problem = QStringLiteral("no foreground photo given");
        return false;
    }
    return true;
}

// The options a settings file may not give: they are about the command itself.
bool commandOnly(const QString& key) {
    return key == QLatin1String("settings") || key == QLatin1String("help") ||
           key == QLatin1String("version") || key == QLatin1String("help-all");
}

const Option* optionNamed(const QString& key) {
    for (const Option& o : kOptions)
        if (key == QLatin1String(o.name))
            return &o;
    return nullptr;
}

// `arguments` with the options of the settings file that the command line does not give put in
// front of them, and --settings taken out. False with `problem` naming the file and the key
// when the file cannot be read or holds what is not an option.
bool withSettingsFile(const QCommandLineParser& p, const QStringList& arguments,
                      QStringList* merged, QString* problem) {
    const QString file = p.value(QStringLiteral("settings"));
    const QString shown = QDir::toNativeSeparators(file);
    const QFileInfo info(file);
    if (file.isEmpty() || !info.isFile() || !info.isReadable()) {
        *problem = QStringLiteral("--settings %1: no such readable file").arg(shown);
        return false;
    }
    QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *problem = QStringLiteral("--settings %1: not an INI file").arg(shown);
        return false;
    }
    QStringList given;
    for (const QString& key : settings.allKeys()) {
        const Option* option = optionNamed(key);
        if (!option || commandOnly(key)) {
            *problem = QStringLiteral("--settings %1: \"%2\" is not an option").arg(shown, key);
            return false;
        }
        // The command line wins; its backgrounds replace the file's.
        const bool isBackground =
            key == QLatin1String("background") || key == QLatin1String("backgrounds");
        if (p.isSet(key) || (isBackground && (p.isSet(QStringLiteral("background")) ||
                                              p.isSet(QStringLiteral("backgrounds")))))
            continue;
        const QVariant value = settings.value(key);
        // A plain value with commas comes back as a list: "offset=40,-10".
        const QStringList parts = value.toStringList();
        if (!option->valueName) {
            const QString v = parts.join(QLatin1Char(',')).trimmed().toLower();
            if (v == QLatin1String("true") || v == QLatin1String("1") || v == QLatin1String("yes"))
                given << QStringLiteral("--") + key;
            else if (v != QLatin1String("false") && v != QLatin1String("0") &&
                     v != QLatin1String("no")) {
                *problem = QStringLiteral("--settings %1: %2 must be true or false, not \"%3\"")
                               .arg(shown, key, parts.join(QLatin1Char(',')));
                return false;
            }
        } else if (key == QLatin1String("background")) {
            for (const QString& one : parts)
                given << QStringLiteral("--background") << one;
        } else {
            given << QStringLiteral("--") + key << parts.join(QLatin1Char(','));
        }
    }
    // The program's name first, then the file's options, then the command line's own (without
    // --settings, which a file may not give again).
    *merged = arguments.mid(0, 1) + given;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--")) {
            *merged += arguments.mid(i);
            break;
        }
        if (a == QLatin1String("--settings")) {
            ++i;
            continue;
        }
        if (a.startsWith(QLatin1String("--settings=")))
            continue;
        *merged << a;
    }
    return true;
}

}  // namespace

Request parseArguments(const QStringList& arguments, Options* out, QString* problem) {
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        *problem = parser.errorText();
        return Request::UsageError;
    }
    if (parser.isSet(QStringLiteral("settings"))) {
        QStringList merged;
        if (!withSettingsFile(parser, arguments, &merged, problem))
            return Request::UsageError;
        return parseArguments(merged, out, problem);
    }
    if (parser.isSet(QStringLiteral("help")))
        return Request::Help;
    if (parser.isSet(QStringLiteral("version")))
        return Request::Version;
    Options o;
    o.jobs = qMax(1, QThread::idealThreadCount());
    if (!readAll(parser, &o, problem))
        return Request::UsageError;
    *out = o;
    return Request::Run;
}

QString helpText() {
    QCommandLineParser parser;
    addOptions(parser);
    return parser.helpText();
}

}  // namespace batch
