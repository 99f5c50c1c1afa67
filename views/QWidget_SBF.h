// One SBF's panel in the monitoring dialog: a caption column naming the rows
// and one Widget_sense column per channel. The dialog writes the numbers and
// colours through the column pointers.
#pragma once

#include <QWidget>

#include "app/globals.h"
#include "ui_QWidget_SBF.h"

class Widget_sense;

class QWidget_SBF : public QWidget, public Ui::QWidget_SBF {
    Q_OBJECT

public:
    QWidget_SBF(QWidget* parent, int sbf);
    ~QWidget_SBF() override;

    int sbf() const { return m_Sbf; }
    // Columns actually built; entries at and above stay null.
    int channelCount() const { return m_ChannelCount; }
    // Column c, or null when the panel has no such column.
    Widget_sense* column(int c) const;

    Widget_sense* widget_sense[kMaxChannels] = {};

private:
    int m_Sbf;
    int m_ChannelCount = 0;
};
