// Files still being written: each settles on its own, however often others arrive.
#include <gtest/gtest.h>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "support/files.h"
#include "ui/settlewatch.h"

TEST(SettleWatch, EachFileSettlesOnItsOwnWhileOthersKeepArriving) {
    QTemporaryDir dir;
    const int settle = SettleWatch::settleMs;
    SettleWatch::settleMs = 100;
    SettleWatch watch;
    QSignalSpy settled(&watch, &SettleWatch::settled);
    const QString first = writeFile(dir.filePath("first.jpg"), "half");
    watch.watch(first);
    writeFile(first, "half and the rest");
    // A new arrival every 40 ms, for three times longer than the first needs to settle.
    QStringList heard;
    for (int i = 0; i < 30; ++i) {
        watch.watch(writeFile(dir.filePath(QString("next%1.jpg").arg(i)), "whole"));
        QTest::qWait(40);
        for (const QList<QVariant>& s : settled)
            heard << s[0].toString();
        settled.clear();
    }
    SettleWatch::settleMs = settle;
    EXPECT_EQ(heard, QStringList{first}) << "the unchanged arrivals are not told";
}
