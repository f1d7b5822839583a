// mattora-batch: keys and composes a whole shoot with the window's engine, without a screen.
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <atomic>
#include <csignal>
#include <cstdio>

#include "batch/options.h"
#include "batch/progress.h"
#include "batch/runner.h"
#include "batch/terminaltext.h"
#include "batch/watch.h"
#include "core/hugepages.h"
#include "core/rows.h"
#include "core/startup.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<int> g_signal{0};  // the one that stopped the run; the exit status is 128 + it

// Ctrl-C (or SIGTERM) lets the photos in hand finish (a file is never left half-written
// either way) and stops the run; a second one ends the program at once.
extern "C" void onInterrupt(int signal) {
    g_signal = signal;
    g_stop = true;
    std::signal(signal, SIG_DFL);
}

void print(std::FILE* out, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
}

}  // namespace

int main(int argc, char* argv[]) {
    preferHugePages(argv);
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
    if (options.outputDir.isEmpty())
        options.outputDir = startup::outputFolder(QDir::homePath());

    core::shareCoresWith(int(std::min<qsizetype>(options.jobs, options.foregrounds.size())));
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    if (!options.watchDir.isEmpty())
        return batch::watchFolder(options, stderr, isatty(STDERR_FILENO), g_signal,
                                  batch::watchTimingFromEnvironment());
    batch::Progress progress(stderr, isatty(STDERR_FILENO), int(options.foregrounds.size()));
    const batch::Status status = batch::runBatch(options, progress, g_stop);
    progress.summary();
    const qsizetype left = options.foregrounds.size() - progress.written() - progress.failed();
    const QString notBegun =
        QStringLiteral("%1 of %2 photos not begun").arg(left).arg(options.foregrounds.size());
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
