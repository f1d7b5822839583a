// mattora-batch: keys and composes a whole shoot with the window's engine, without a screen.
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <atomic>
#include <cstdio>

#include "batch/options.h"
#include "batch/progress.h"
#include "batch/runner.h"
#include "batch/stopsignals.h"
#include "batch/terminaltext.h"
#include "batch/watch.h"
#include "core/hugepages.h"
#include "keying/keyer.h"
#include "mattora_version.h"
#include "photo/photofile.h"
#include "results/resultfolder.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<int> g_signal{0};  // the one that stopped the run; the exit status is 128 + it

// The keyers' own debug messages would break the progress line: shown only with --verbose.
// Installed before the damage detector, which passes every other message on to it.
std::atomic<bool> g_verbose{false};
QtMessageHandler g_qtHandler = nullptr;
void quietDebug(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtDebugMsg && !g_verbose)
        return;
    if (g_qtHandler)
        g_qtHandler(type, context, text);
    else
        std::fprintf(stderr, "%s\n",
                     qFormatLogMessage(type, context, text).toLocal8Bit().constData());
}

void print(std::FILE* out, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
}

}  // namespace

int main(int argc, char* argv[]) {
    preferHugePages(argv);
    batch::handleStopSignals(&g_stop, &g_signal);
    g_qtHandler = qInstallMessageHandler(quietDebug);
    installDamageDetector();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mattora-batch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MATTORA_VERSION));

    batch::Options options;
    QString problem;
    switch (batch::parseArguments(QCoreApplication::arguments(), &options, &problem)) {
        case batch::Request::Help:
            print(stdout, batch::helpText());
            return 0;
        case batch::Request::Version:
            print(stdout,
                  QStringLiteral("mattora-batch %1\n").arg(QCoreApplication::applicationVersion()));
            return 0;
        case batch::Request::UsageError:
            print(stderr,
                  QStringLiteral("mattora-batch: %1\n\n").arg(batch::terminalText(problem)) +
                      batch::helpText());
            return 2;
        case batch::Request::Run:
            break;
    }
    g_verbose = options.verbose;
    if (options.outputDir.isEmpty())
        options.outputDir = results::outputFolder(QDir::homePath());

    // For the tests of a keyer that finds no memory: photos of this width fail as it would.
    keying::failKeyerBuffersAtWidth(qEnvironmentVariableIntValue("MATTORA_FAIL_KEY_WIDTH"));
    batch::setOutputFolder(options.outputDir);
    if (!options.watchDir.isEmpty())
        return batch::watchFolder(options, stderr, isatty(STDERR_FILENO), g_signal,
                                  batch::watchTimingFromEnvironment());
    // Progress counts results: one per photo and background.
    const int per = batch::resultsPerPhoto(options);
    const qsizetype total = options.foregrounds.size() * per;
    batch::Progress progress(stderr, isatty(STDERR_FILENO), int(total));
    const batch::Status status = batch::runBatch(options, progress, g_stop);
    progress.summary();
    const qsizetype left = total - progress.written() - progress.failed();
    const QString notBegun =
        QStringLiteral("%1 of %2 %3 not begun")
            .arg(left)
            .arg(total)
            .arg(per > 1 ? QStringLiteral("results") : QStringLiteral("photos"));
    switch (status) {
        case batch::AllWritten:
            return 0;
        case batch::SomeFailed:
            return 1;
        case batch::DiskFull:
            print(stderr, QStringLiteral("mattora-batch: stopped, no space left in %1; %2\n")
                              .arg(batch::terminalText(QDir::toNativeSeparators(options.outputDir)),
                                   notBegun));
            return 1;
        case batch::Interrupted:
            print(stderr, QStringLiteral("mattora-batch: interrupted; %1\n").arg(notBegun));
            return 128 + g_signal;
    }
    return 1;
}
