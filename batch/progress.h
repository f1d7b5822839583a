// What the batch tool tells the person running it while it works: a redrawn progress bar on
// a terminal, one line per photo on a pipe or file, and a closing summary. Safe to call from
// several worker threads.
#pragma once

#include <QElapsedTimer>
#include <QMutex>
#include <QString>
#include <cstdio>

namespace batch {

class Progress {
public:
    Progress(std::FILE* out, bool terminal, int total);

    void started(const QString& photo);
    // One photo is done: written to `output`, or failed.
    void finished(const QString& photo, const QString& output, bool written);
    // A line about something that went wrong; it stays visible above the bar. Names and other
    // words from outside are printed with their control characters escaped, here as everywhere.
    void problem(const QString& line);
    // "N written, M failed, S seconds", and returns the number failed.
    int summary();

    int written() const { return m_written; }
    int failed() const { return m_failed; }

private:
    void drawBar();  // with m_mutex held
    void clearBar();

    std::FILE* m_out;
    bool m_terminal;
    int m_total;
    int m_written = 0;
    int m_failed = 0;
    QString m_current;
    QElapsedTimer m_clock;
    QMutex m_mutex;
};

}  // namespace batch
