#include "batch/progress.h"

#include <QFileInfo>
#include <QMutexLocker>

#include "batch/terminaltext.h"

namespace batch {

namespace {

constexpr int kBarWidth = 30;

QString clockText(qint64 seconds) {
    if (seconds >= 3600)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
    if (seconds >= 60)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 s").arg(seconds);
}

void put(std::FILE* out, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}

}  // namespace

Progress::Progress(std::FILE* out, bool terminal, int total)
    : m_out(out), m_terminal(terminal), m_total(total) {
    m_clock.start();
}

void Progress::started(const QString& photo) {
    QMutexLocker lock(&m_mutex);
    m_current = terminalText(QFileInfo(photo).fileName());
    if (m_terminal)
        drawBar();
}

void Progress::finished(const QString& photo, const QString& output, bool written) {
    QMutexLocker lock(&m_mutex);
    (written ? m_written : m_failed) += 1;
    const int done = m_written + m_failed;
    if (m_terminal) {
        drawBar();
        return;
    }
    const QString name = terminalText(photo);
    put(m_out, written
                   ? QStringLiteral("[%1/%2] %3 -> %4\n")
                         .arg(done)
                         .arg(m_total)
                         .arg(name, terminalText(output))
                   : QStringLiteral("[%1/%2] %3 not written\n").arg(done).arg(m_total).arg(name));
}

void Progress::problem(const QString& line) {
    QMutexLocker lock(&m_mutex);
    clearBar();
    put(m_out, terminalText(line) + QLatin1Char('\n'));
    if (m_terminal)
        drawBar();
}

int Progress::summary() {
    QMutexLocker lock(&m_mutex);
    clearBar();
    put(m_out, QStringLiteral("%1 written, %2 failed, %3 seconds\n")
                   .arg(m_written)
                   .arg(m_failed)
                   .arg(double(m_clock.elapsed()) / 1000.0, 0, 'f', 1));
    return m_failed;
}

void Progress::drawBar() {
    const int done = m_written + m_failed;
    const int filled = m_total > 0 ? done * kBarWidth / m_total : kBarWidth;
    QString left = QStringLiteral("estimating time left");
    if (done > 0 && done < m_total) {
        const qint64 perPhoto = m_clock.elapsed() / done;
        left = clockText((perPhoto * (m_total - done) + 999) / 1000) + QStringLiteral(" left");
    } else if (done == m_total) {
        left = QStringLiteral("done");
    }
    put(m_out,
        QStringLiteral("\r[%1%2] %3/%4  %5  %6\x1b[K")
            .arg(QString(filled, QLatin1Char('#')), QString(kBarWidth - filled, QLatin1Char('.')))
            .arg(done)
            .arg(m_total)
            .arg(m_current, left));
}

void Progress::clearBar() {
    if (m_terminal)
        put(m_out, QStringLiteral("\r\x1b[K"));
}

}  // namespace batch
