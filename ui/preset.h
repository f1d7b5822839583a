// The hot-folder window: choose the folder whose new photos flow into the foreground list.
#pragma once

#include <QDialog>

class Ui_Preset;

class Preset : public QDialog {
    Q_OBJECT

public:
    explicit Preset(QWidget* parent = nullptr);
    ~Preset() override;

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void on_Browse_clicked();

private:
    Ui_Preset* ui;
};
