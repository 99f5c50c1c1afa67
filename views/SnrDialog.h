// The guided signal-to-noise test: set-up, the prompts of the procedure, the
// result table, applying the recommended sensitivities and saving the report.
// Non-modal; the procedure (tuning/SnrProcedure) does the collecting, this
// window shows it. Closing the window, Cancel or the main window closing end
// a running test, which puts the monitored mask and Sense back.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QVector>
#include <functional>
#include <memory>

#include "tuning/SnrMath.h"
#include "tuning/SnrReport.h"

class BoardSession;
class MonitorNarrowing;
class QCheckBox;
class QCloseEvent;
class SampleStream;
class SnrProcedure;

namespace Ui {
class SnrDialog;
}

class SnrDialog : public QDialog {
    Q_OBJECT
public:
    // The generated form; its widgets keep the object names scripts and tests use.
    std::unique_ptr<Ui::SnrDialog> ui;

    // The test collects from stream and narrows the monitoring through
    // narrowing; the test runs on session's board, and Apply reads into and
    // writes through its register image. device names the chip in the
    // report. All belong to the parent window.
    SnrDialog(SampleStream* stream, MonitorNarrowing* narrowing, BoardSession* session, const QString& device,
              QWidget* parent);
    ~SnrDialog() override;

    SnrProcedure* procedure() const { return m_Proc; }
    // Switches Sense the way the owner does (its button follows); without
    // one, the test only sets the monitoring flag.
    void setSenseSwitch(std::function<void(bool)> f);
    const QVector<SnrResult>& results() const { return m_Results; }
    // Cancels a running test; nothing otherwise.
    void endTest();
    // Writes the report of the last completed test; false with a message shown.
    bool saveReportTo(const QString& path);

    void reject() override;

signals:
    // Apply read reg back into the register image.
    void registerReadBack(int reg);

public slots:
    void onStartClicked();
    void onTouchingNowClicked();
    void onCancelClicked();
    void onApplyClicked();
    void onSaveClicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void Show_Progress();
    void Test_Finished();

private:
    void Show_Results();
    void Show_Status(const QString& text, bool error);
    void Update_Buttons();

    QPointer<MonitorNarrowing> m_Narrowing;
    QPointer<BoardSession> m_Session;
    QString m_Device;
    SnrProcedure* m_Proc = nullptr;
    QVector<QCheckBox*> m_ChannelBoxes;
    QVector<SnrResult> m_Results;
    SnrReportInfo m_Info;
    bool m_Applying = false;  // Apply's writes are on their way; no second Apply meanwhile
};
