// The monitoring dialog: one SbfPanel panel per SBF, stacked, each with a
// column per channel. The check boxes of panel 0 choose the channels that the
// processing thread polls; the main window pushes the live values through the
// four update operations while the dialog is visible.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>

#include "app/limits.h"

class SbfPanel;
class SbfColumn;

class BoardSession;

namespace Ui {
class MonitoringDialog;
}

class MonitoringDialog : public QDialog {
    Q_OBJECT

public:
    // The generated form; its widgets keep the object names scripts and tests use.
    std::unique_ptr<Ui::MonitoringDialog> ui;

    // The check boxes show and set session's monitored channels.
    MonitoringDialog(QWidget* parent, BoardSession* session);
    ~MonitoringDialog() override;

    // Each operation ignores a channel the dialog has no column for, and
    // reads at most one array entry per panel (never more than kMaxSbf).
    void Update_RefCnt(uint8_t ch, const uint16_t* ref);
    void Update_Channel(uint8_t ch, const uint16_t* sen, const int32_t* diff, const int32_t* offset);
    void Update_Touch(int mask);
    void Update_SbfStatus(uint8_t ch, uint8_t status);

    int sbfCount() const { return m_SbfCount; }
    int lastMarkedChannel() const { return m_LastMarked; }
    // Column c of panel s, or null when there is none.
    SbfColumn* column(int s, int c) const;

    SbfPanel* widget_SBF[kMaxSbf] = {};

private slots:
    void onEnableClicked();
    void onDisableClicked();

private:
    void SetAllChecked(bool checked);

    int m_SbfCount = 0;
    uint8_t m_LastMarked = 0;  // channel whose diff cells are red
};
