// The window of the guided sensitivity procedure of one channel: it shows
// what the procedure asks of the engineer and passes OK and Cancel on; the
// procedure (tuning/SensitivityProcedure) does the work. Cancel, closing the
// window or Escape put back what the chip held before. The dialog deletes
// itself once it has closed.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>

#include "tuning/SensitivityProcedure.h"

class QCloseEvent;

namespace Ui {
class SensitivityDialog;
}

class SensitivityDialog : public QDialog {
    Q_OBJECT

public:
    // The generated form; its widgets keep the object names scripts and tests use.
    std::unique_ptr<Ui::SensitivityDialog> ui;

    // Where the procedure stands, as the window shows it.
    enum State {
        STA_PREPARE = 0,
        STA_SAMPLE = 1,
        STA_EVALUATE = 2,
        STA_AWAIT_WRITE = 3,
        STA_AWAIT_RETRY = 4,
        STA_WRITE_VALUE = 5,
        STA_FINISH = 6,
        STA_ABORT = 7,
        STA_CLOSE_DIALOG = 100,
    };

    // Takes the procedure over and starts it once shown.
    SensitivityDialog(SensitivityProcedure* procedure, QWidget* parent);
    ~SensitivityDialog() override;

    int channel() const { return m_Proc->channel(); }
    int state() const;
    SensitivityProcedure* procedure() const { return m_Proc; }
    // True while this dialog's run narrows the monitoring.
    bool ownsRun() const { return m_Proc->holdsMonitoring(); }

    // Frame close button and Escape end up here: the run is cancelled and its
    // values restored before the dialog closes.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void onStateChanged(SensitivityProcedure::State state);
    void onOkClicked();
    void requestClose();
    void closeAfter(int ms);
    void closeNow();
    void showMessage(const QString& text, bool alarm);

    SensitivityProcedure* m_Proc;
    bool m_CloseRequested = false;  // the window was asked to close; acts as Cancel
    bool m_Closing = false;         // closing for good
    bool m_Ending = false;          // the run has ended; the window closes after its last message
};
