// One SBF's panel in the monitoring dialog: a caption column naming the rows
// and one SbfColumn column per channel. The dialog writes the numbers and
// colours through the column pointers.
#pragma once

#include <QWidget>
#include <memory>

#include "app/limits.h"

class SbfColumn;

namespace Ui {
class SbfPanel;
}

class BoardSession;

class SbfPanel : public QWidget {
    Q_OBJECT

public:
    // The generated form; its widgets keep the object names scripts and tests use.
    std::unique_ptr<Ui::SbfPanel> ui;

    // session: the board whose monitored channels panel 0's boxes set.
    SbfPanel(QWidget* parent, int sbf, BoardSession* session);
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
