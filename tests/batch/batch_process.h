// Runs the real mattora-batch program, as a photographer's shell would.
#pragma once

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

struct BatchResult {
    int status = -1;
    QString out;
    QString err;
    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// `home` stands in for the user's home folder, so that the default output folder of a test run
// never lands in the real one. `wrapper` runs `program` through another (e.g. to drop
// privileges).
inline BatchResult runBatchTool(const QStringList& args, const QString& home,
                                const QStringList& wrapper = {},
                                const QString& program = QStringLiteral(MATTORA_BATCH_EXE)) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    if (!wrapper.isEmpty())
        env.remove(
            QStringLiteral("LSAN_OPTIONS"));  // its files may be out of the other user's reach
    p.setProcessEnvironment(env);
    QStringList command = wrapper;
    command << program << args;
    p.start(command.takeFirst(), command);
    BatchResult r;
    if (!p.waitForFinished(300000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}
