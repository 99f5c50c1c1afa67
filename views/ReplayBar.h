// The replay control bar: play/pause, speed, position and recorded time of
// the log being replayed.
#pragma once

#include <QWidget>
#include <memory>

class LogPlayer;

namespace Ui {
class ReplayBar;
}

class ReplayBar : public QWidget {
    Q_OBJECT
public:
    // The generated form; its widgets keep the object names scripts and tests use.
    std::unique_ptr<Ui::ReplayBar> ui;

    explicit ReplayBar(LogPlayer* player, QWidget* parent = nullptr);
    ~ReplayBar() override;

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
