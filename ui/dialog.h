// The main window: foreground and background lists, the preview and the settings tabs.
#pragma once

#include <QDialog>
#include <QGraphicsScene>
#include <QImage>
#include <QModelIndex>
#include <QPointer>
#include <QSet>
#include <QString>

#include "photo/photofile.h"
#include "ui/plate.h"
#include "ui/refreshworker.h"
#include "ui/thumbnails.h"

class QFileSystemWatcher;
class QListWidget;
class QListWidgetItem;
class SettleWatch;
class Ui_Dialog;

class Dialog : public QDialog {
    Q_OBJECT

public:
    explicit Dialog(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~Dialog() override;

    void UpdateScene();
    QListWidgetItem* AddFileToDisplay(const QString& path);
    void addAllFilesinFolder(QString folder);
    // Photos and folders given on the command line or by the desktop's "Open With": added to
    // the foreground list as a drop adds them; anything else is named in a message.
    void openPhotos(const QStringList& paths);
    // Thumbnails still being made for either list.
    int pendingThumbnails() const { return m_thumbnails.pending(); }
    // A refresh of the preview is being made.
    bool refreshing() const { return m_refresh->busy(); }
    // Keeps the window painting, without taking input, until the newest refresh is shown.
    void waitForRefresh() { m_refresh->waitForNewest(); }

    // Keyers: read the tuning controls and the backdrop colour, then key `img` in place.
    void MaskOut(QImage& img, unsigned int keyColour);
    void MaskOut3(QImage& img, unsigned int keyColour);
    void MaskOut4(QImage& img, unsigned int keyColour);
    void MaskOut5(QImage& img, unsigned int keyColour);
    void MaskOut6(QImage& img, unsigned int keyColour);
    void MaskOut7(QImage& img, unsigned int keyColour);
    void MaskOut8(QImage& img, unsigned int keyColour);
    void MaskOut9(QImage& img, unsigned int keyColour);
    void MaskOut10(QImage& img, unsigned int keyColour);
    void MaskOutSoft(QImage& img, unsigned int keyColour);
    // A keyer's note on a photo (no backdrop found, say), shown in its entry's tooltip and the log.
    void noteKeying(const QString& photo, const QString& note);

signals:
    void newProgress(int);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Photos and folders dropped on either list are added as its "Add" button adds them.
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void on_refreshPreview_clicked();
    void on_transparentbkg_toggled(bool checked);
    void on_checkBox_clicked();
    void on_canv_fg_clicked();
    void on_canv_fg_2_clicked();
    void on_fg_size_valueChanged(int value);
    void on_fg_size_sliderMoved(int position);
    void on_bg_actualSize_clicked();
    void on_bg_scaletoFG_clicked();
    void on_bg_align11_clicked();
    void on_bg_align00_clicked();
    void on_radioBlue_clicked();
    void on_radioGreen_clicked();
    void on_Presets_clicked();
    // Qt 6 has no text form of currentIndexChanged; the index form fires just as often.
    void on_Rotation_currentIndexChanged(int index);
    void on_RemoveBackground_clicked();
    void on_AddBackground_clicked();
    void on_listWidget_Bk_clicked(QModelIndex index);
    void on_listWidget_clicked(QModelIndex index);
    void on_Help_clicked();
    void addfiles();
    void RemoveFiles();
    void Run();
    void GVClicked(int x, int y);
    void handleDirectoryChanged(QString dir);
    void InitAdvSettings();
    // A hot-folder photo has been written to the end: its thumbnail again, and the preview
    // when it is the current foreground.
    void photoSettled(const QString& path);
    // Asks the worker for the composite of the current photos and settings.
    void composeRefresh();
    void showRefresh(const RefreshResult& result);

private:
    // The preview's menu: the overlay, filling without stretching, the batch settings.
    void previewMenu(const QPoint& at);
    void chooseOverlay();
    // The refresh asked for now, as every composite of the window is made.
    RefreshRequest currentRequest() const;
    void copyBatchSettings();
    void saveBatchSettings();
    // Hands the preview a left-button release at the last clicked point.
    void sendRelease();
    QStringList choosePhotos();
    // Appends foregrounds; the last becomes current and is shown. Refreshes even when empty.
    void appendForegrounds(const QStringList& paths);
    // Appends backgrounds; the last becomes current, shown from the next refresh.
    void appendBackgrounds(const QStringList& paths);
    // Appends an entry at once; its thumbnail of `size` follows from the thread pool.
    QListWidgetItem* addEntry(QListWidget* list, const QString& path, const QSize& size);
    void showPendingThumbnails(int count);
    void fitTitles();

    QFileSystemWatcher* m_watcher = nullptr;
    SettleWatch* m_settle = nullptr;
    Ui_Dialog* ui = nullptr;
    QPointer<QGraphicsScene> m_scene;  // the first preview scene; the view owns it
    RefreshWorker* m_refresh = nullptr;
    QSet<QString> m_hotTaken;  // hot-folder photos already listed
    CameraInfo m_shotCamera;   // the camera's description of the shot shown, for Save Image
    PlateChoice m_plate;       // the backdrop plate the menu chose, and whether shadows are kept
    QString m_overlayTold;     // the overlay whose failure was last told
    // A member, not a child: it goes, with its pending work, before the lists it fills.
    ThumbnailLoader m_thumbnails;
};
