// The replay control bar: play/pause, speed, position and recorded time of
// the log being replayed.
#pragma once

#include <QWidget>

#include "ui_ReplayBar.h"

class LogPlayer;

class ReplayBar : public QWidget, public Ui::ReplayBar {
    Q_OBJECT
public:
    explicit ReplayBar(LogPlayer* player, QWidget* parent = nullptr);

    // "m:ss.s", hours in front when there are any.
    static QString TimeText(qint64 ms);

signals:
    void stopRequested();

private slots:
    void onPlayClicked();
    void onSpeedActivated(int index);
    void Show_Position(qint64 ms);

private:
    LogPlayer* m_Player;
    bool m_Dragging = false;
};
