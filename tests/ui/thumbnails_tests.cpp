// Thumbnails of list entries: full-size decodes stay within their memory budget.
#include <gtest/gtest.h>
#include <QListWidget>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>

#include "support/photos.h"
#include "ui/thumbnails.h"

namespace {

QImage filled(const QSize& size, QRgb colour) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

bool idle(const ThumbnailLoader& loader) {
    return QTest::qWaitFor([&] { return loader.pending() == 0; }, 10000);
}

}  // namespace

TEST(Thumbnails, FullSizeDecodesStayWithinTheBudgetReducedOnesRunTogether) {
    const struct {
        const char* suffix;
        qint64 budget;
        int together;  // the most reads at once
    } cases[] = {
        {"png", 1, 1},                   // each alone needs more than the budget
        {"png", qint64(1) << 30, 2},     // both fit
        {"jpg", 1, 2},                   // JPEG decodes straight to a reduced size
        {"bmp", 160 * 120 * 4 + 10, 1},  // one fits, two do not
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.suffix) + " in " + std::to_string(c.budget));
        QTemporaryDir dir;
        QListWidget list;
        ThumbnailLoader loader(c.budget);
        std::atomic<int> now{0}, most{0};
        QSemaphore arrived;
        loader.setReader([&](const QString&, const QSize& size) {
            most = std::max(most.load(), ++now);
            arrived.release();
            arrived.tryAcquire(2, 1000);  // waits a while for a second read to join
            arrived.release(2);
            --now;
            PhotoLoad load;
            load.image = filled(size, qRgb(1, 2, 3));
            return load;
        });
        for (int i = 0; i < 4; ++i) {
            const QString path =
                photos::saved(dir.filePath(QString("p%1.%2").arg(i).arg(c.suffix)));
            loader.request(new QListWidgetItem(path, &list), QSize(74, 64));
        }
        ASSERT_TRUE(idle(loader));
        EXPECT_EQ(most.load(), c.together);
    }
}
