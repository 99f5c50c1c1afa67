// The replay control bar: play/pause, speed, position and recorded time of
// the log being replayed.
#pragma once

#include <QWidget>

#include "ui_Widget_replay.h"

class LogPlayer;

class Widget_replay : public QWidget, public Ui::Widget_replay {
    Q_OBJECT
public:
    explicit Widget_replay(LogPlayer* player, QWidget* parent = nullptr);

    // "m:ss.s", hours in front when there are any.
    static QString TimeText(qint64 ms);

signals:
    void stopRequested();

private slots:
    void pushButton_Play_Clecked();
    void comboBox_Speed_activated(int index);
    void Show_Position(qint64 ms);

private:
    LogPlayer* m_Player;
    bool m_Dragging = false;
};
