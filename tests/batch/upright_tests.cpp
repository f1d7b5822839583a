// The batch tool reads a portrait shot upright, as the window does.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include "batch_process.h"
#include "exif_jpeg.h"

TEST(BatchUpright, PortraitShotIsKeyedUprightWithTheColourOfItsUprightCorner) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString shot = dir.filePath("portrait.jpg");
    ASSERT_TRUE(writeOrientedJpeg(sidewaysShot(), 6, shot));
    const BatchResult r =
        runBatchTool({"--magic", "7", "--transparent", "--output-dir", dir.filePath("out"), shot},
                     dir.filePath("home"));
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QImage keyed(dir.filePath("out/portrait.png"));
    ASSERT_EQ(keyed.size(), QSize(24, 48));
    EXPECT_EQ(qAlpha(keyed.pixel(3, 3)), 0) << "green, the upright corner, is keyed";
    EXPECT_EQ(qAlpha(keyed.pixel(20, 3)), 255) << "blue stays";
}
