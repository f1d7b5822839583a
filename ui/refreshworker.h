// The preview's refreshes, off the GUI thread: decode and key the foreground, compose it over
// the background and fit the preview, on a worker thread of their own. The GUI thread only asks
// and shows. The newest request wins: one asked while another runs supersedes it, and only the
// result of the newest request is handed back. A new JPEG photo is first shown from a decode at
// a fraction of its size, as it decodes in a fraction of the time.
#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <memory>

#include "compose/composite.h"
#include "keying/keyer.h"
#include "photo/photometa.h"

// Everything a refresh reads, taken on the GUI thread when it is asked.
struct RefreshRequest {
    QString photo;  // the foreground file
    int rotation = 0;
    keying::KeySettings key;
    QString plate;       // the backdrop plate Magic Number 10 keys against, or empty
    QString background;  // the background file
    QPoint offset;       // committed foreground offset, preview pixels
    bool transparent = false;
    compose::ComposeSettings compose;
    QString overlay;  // the picture laid over the composite, or empty
};

// What a refresh made. `composite` is null when there is nothing to compose (no foreground, or
// no background without the transparent option); `preview` is then null too.
struct RefreshResult {
    quint64 serial = 0;
    QImage keyed;            // the rotated, keyed foreground
    QString photo;           // the foreground file it was keyed from
    QString keyNote;         // what the keyer had to say of it, or empty
    CameraInfo camera;       // the camera's description of the shot
    QImage background;       // the background layer the composite was built over
    QImage composite;        // full resolution, what Save Image writes
    QImage preview;          // the composite fitted into the preview frame
    QImage overlay;          // the overlay layer the composite was built with, or null
    QString overlayProblem;  // why the overlay asked for could not be used, or empty
    // The rescaled layers the composite was built from, so that the drags after it start
    // without rescaling a full-size background on the GUI thread.
    compose::ComposeCache layers;
};

class RefreshWorker : public QObject {
    Q_OBJECT

public:
    explicit RefreshWorker(QObject* parent = nullptr);
    // Waits for the refresh in hand (a keyer cannot stop half-way); a waiting one is dropped.
    ~RefreshWorker() override;

    // Asks for a refresh and returns its serial; any older one still waiting is dropped.
    quint64 request(const RefreshRequest& r);
    bool busy() const { return m_running; }
    // Runs the event loop, painting but holding back user input, until the newest request
    // has been handed back.
    void waitForNewest();

    // How many times a worker has keyed a photo at full resolution: a test hook, since the
    // keyed foreground of an unchanged photo and keying settings is reused.
    static int keyingRuns();

signals:
    // The result of the newest request; older ones never arrive.
    void ready(const RefreshResult& result);
    // A first look at the newest request while its photo is still being decoded: the preview
    // made from a reduced decode of a JPEG photo. The full result follows with ready().
    void previewReady(const QImage& preview);
    void busyChanged(bool busy);

private:
    struct Caches;
    void start(const RefreshRequest& r, quint64 serial);
    void offerPreview(const QImage& preview, quint64 serial);
    void finished();

    QThreadPool m_pool;                // one thread; the row bands of each step use the global pool
    std::unique_ptr<Caches> m_caches;  // touched only by the one refresh running
    QFutureWatcher<RefreshResult> m_watcher;
    std::atomic<quint64> m_latest{0};
    bool m_running = false;
    bool m_hasWaiting = false;
    RefreshRequest m_waiting;
};
