#include "views/SbfPanel.h"

#include <QHBoxLayout>
#include <algorithm>

#include "ui_ChannelIndicator.h"
#include "ui_SbfColumn.h"
#include "ui_SbfPanel.h"
#include "views/SbfColumn.h"
#include "workers/BoardSession.h"

SbfPanel::SbfPanel(QWidget* parent, int sbf, BoardSession* session) : QWidget(parent, Qt::WindowFlags()), m_Sbf(sbf) {
    ui = std::make_unique<Ui::SbfPanel>();
    ui->setupUi(this);

    auto* row = new QHBoxLayout(ui->frame_sense);
    row->setObjectName(QStringLiteral("HBoxLayout_SENSE"));
    row->setSpacing(0);
    row->setContentsMargins(0, 0, 0, 0);

    // The session keeps the count within the array.
    m_ChannelCount = session ? session->channelCount() : 0;
    for (int i = 0; i < m_ChannelCount; ++i) {
        auto* col = new SbfColumn(this, i, m_Sbf, session);
        widget_sense[i] = col;
        col->ui->label_SIN_TITLE->setText(QString::asprintf("SIN %d", i + 1));
        row->addWidget(col);
    }

    adjustSize();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

SbfPanel::~SbfPanel() = default;

SbfColumn* SbfPanel::column(int c) const {
    if (c < 0 || c >= m_ChannelCount) return nullptr;
    return widget_sense[c];
}
