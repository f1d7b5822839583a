// Runs the real mattora-batch program, as a photographer's shell would.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <functional>

struct BatchResult {
    int status = -1;
    QString out;
    QString err;
    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// Starts the tool in `p`. `home` stands in for the user's home folder, so that the default output
// folder of a test run never lands in the real one; `env` holds further NAME=value settings.
inline void startBatchTool(QProcess& p, const QStringList& args, const QString& home,
                           const QStringList& env = {}) {
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("HOME"), home);
    for (const QString& setting : env)
        e.insert(setting.section('=', 0, 0), setting.section('=', 1));
    p.setProcessEnvironment(e);
    p.start(QStringLiteral(MATTORA_BATCH_EXE), args);
}

inline BatchResult runBatchTool(const QStringList& args, const QString& home,
                                const QStringList& env = {}) {
    QProcess p;
    startBatchTool(p, args, home, env);
    BatchResult r;
    if (!p.waitForFinished(300000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// Waits up to `ms` until the running program `pid` holds open a file whose path `wanted` accepts.
inline bool waitForOpenFile(qint64 pid, const std::function<bool(const QString&)>& wanted,
                            int ms = 20000) {
    const QString fds = QStringLiteral("/proc/%1/fd/").arg(pid);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms && QFileInfo::exists(fds)) {
        for (const QString& fd : QDir(fds).entryList(QDir::Files | QDir::System))
            if (wanted(QFile::symLinkTarget(fds + fd)))
                return true;
        QThread::msleep(1);
    }
    return false;
}
