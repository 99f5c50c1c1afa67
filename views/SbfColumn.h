// One channel's column in an SBF panel of the monitoring dialog. Columns of
// panel 0 also carry the check box that adds the channel to the set of
// channels the processing thread polls (g_MonChannelMask).
#pragma once

#include <QWidget>
#include <cstdint>

#include "ui_SbfColumn.h"

class QCheckBox;

class SbfColumn : public QWidget, public Ui::SbfColumn {
    Q_OBJECT

public:
    SbfColumn(QWidget* parent, int channel, int panel);
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

    int m_Channel;
    int m_Panel;
};
