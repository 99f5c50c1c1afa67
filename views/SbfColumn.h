// One channel's column in an SBF panel of the monitoring dialog. Columns of
// panel 0 also carry the check box that adds the channel to the set of
// channels the processing thread polls (the board session's monitored
// channels).
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

class BoardSession;
class QCheckBox;

namespace Ui {
class SbfColumn;
}

class SbfColumn : public QWidget {
    Q_OBJECT

public:
    // The generated form; its widgets keep the object names scripts and tests use.
    std::unique_ptr<Ui::SbfColumn> ui;

    // The check box shows and sets session's monitored channels; the
    // session must outlive the column.
    SbfColumn(QWidget* parent, int channel, int panel, BoardSession* session);
    ~SbfColumn() override;

    int channel() const { return m_Channel; }
    int panel() const { return m_Panel; }

    // Monitor switch of the channel; null outside panel 0.
    QCheckBox* CheckBox_MON_En = nullptr;

public slots:
    void onMonitorEnableToggled(bool checked);

private:
    // Bit of this channel in the 16-bit mask; 0 for a channel without one.
    uint16_t ChannelBit() const;

    BoardSession* m_Session;
    int m_Channel;
    int m_Panel;
};
