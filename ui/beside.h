// Long work asked for by a click, done beside the window: the GUI thread goes on painting and
// hearing its timers and workers, and holds user input back until the work is done.
#pragma once

#include <QEventLoop>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <utility>

// Runs `work` on a thread of the global pool and returns its result once done. `work` must
// own what it reads (capture by value): the window's state may change meanwhile.
template <class F>
auto whileAnswering(F work) -> decltype(work()) {
    QFutureWatcher<decltype(work())> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(std::move(work)));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return watcher.result();
}
