// One channel's column in an SBF panel of the monitoring dialog. Columns of
// panel 0 also carry the check box that adds the channel to the set of
// channels the processing thread polls (g_MonChannelMask).
#pragma once

#include <QWidget>
#include <cstdint>

#include "ui_Widget_sense.h"

class QCheckBox;

class Widget_sense : public QWidget, public Ui::Widget_senseClass {
    Q_OBJECT

public:
    Widget_sense(QWidget* parent, int channel, int panel);
    ~Widget_sense() override;

    int channel() const { return m_Channel; }
    int panel() const { return m_Panel; }

    // Monitor switch of the channel; null outside panel 0.
    QCheckBox* CheckBox_MON_En = nullptr;

public slots:
    void CheckBox_MON_En_Toggled(bool checked);

private:
    // Bit of this channel in the 16-bit mask; 0 for a channel without one.
    uint16_t ChannelBit() const;

    int m_Channel;
    int m_Panel;
};
