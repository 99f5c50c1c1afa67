// One SBF's panel in the monitoring dialog: a caption column naming the rows
// and one SbfColumn column per channel. The dialog writes the numbers and
// colours through the column pointers.
#pragma once

#include <QWidget>

#include "app/globals.h"
#include "ui_SbfPanel.h"

class SbfColumn;

class SbfPanel : public QWidget, public Ui::SbfPanel {
    Q_OBJECT

public:
    SbfPanel(QWidget* parent, int sbf);
    ~SbfPanel() override;

    int sbf() const { return m_Sbf; }
    // Columns actually built; entries at and above stay null.
    int channelCount() const { return m_ChannelCount; }
    // Column c, or null when the panel has no such column.
    SbfColumn* column(int c) const;

    SbfColumn* widget_sense[kMaxChannels] = {};

private:
    int m_Sbf;
    int m_ChannelCount = 0;
};
