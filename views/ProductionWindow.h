// The operator's window of the production station: a limits file, station
// and operator (kept in config.ini, [PRODUCTION]), a serial-number field that
// keeps the focus so that a barcode scanner's Enter starts the test, a large
// verdict, counts since opening and the last runs. The test is the
// widget-free ProductionTest on the window's board, run on a worker thread
// together with the storing of its record, so the GUI thread never waits.
#pragma once

#include <QPointer>
#include <QThread>
#include <QWidget>
#include <functional>

#include "production/LimitsFile.h"
#include "production/TestRecord.h"
#include "ui_ProductionWindow.h"

class BoardSession;
class ProductionTest;
class SampleStream;

class ProductionWindow : public QWidget, private Ui::ProductionWindow {
    Q_OBJECT
public:
    static constexpr int kRunsShown = 20;

    // Tests run on session's board; its working directory holds the
    // station's settings and, unless config.ini names a database, results.db.
    ProductionWindow(SampleStream* stream, BoardSession* session, QWidget* parent = nullptr);
    ~ProductionWindow() override;

    // Where the window's board is, for the record; asked at each start.
    void setPortSource(std::function<QString()> source) { m_PortSource = std::move(source); }
    // How the main window's Sense is switched, so its button shows what a run
    // does; called on the GUI thread.
    void setSenseSwitch(std::function<void(bool)> f) { m_SenseSwitch = std::move(f); }
    // Reads and checks a limits file; false (with the reason shown) when refused.
    bool setLimitsFile(const QString& path);
    // What a scanner would type into the serial field.
    void setSerial(const QString& serial) { lineEdit_Serial->setText(serial); }
    QWidget* serialField() const { return lineEdit_Serial; }
    // Starts a test of the serial in the field; false when one runs or cannot start.
    bool startTest();
    bool running() const { return m_Test != nullptr; }

    QString verdictText() const { return label_Verdict->text(); }
    int tested() const { return m_Tested; }
    int passed() const { return m_Passed; }
    int failed() const { return m_Failed; }

signals:
    // A run ended and its record was stored or spooled (storageLine says which).
    void runRecorded(const TestRecord& record, const QString& storageLine);

private slots:
    void browse();
    void onTestFinished();
    void onStored(const TestRecord& record, const QString& storageLine);

private:
    void showVerdict(const QString& outcome, const QString& detail);
    void saveSettings();
    void setBusy(bool busy);

    SampleStream* m_Stream;
    BoardSession* m_Session;  // the window's board, which the tests run on
    QString m_Device;
    QString m_WorkDir;
    ProductionLimits m_Limits;
    bool m_HaveLimits = false;
    QThread m_Worker;
    QObject* m_WorkerContext;  // lives on m_Worker: stores records there
    ProductionTest* m_Test = nullptr;
    std::function<QString()> m_PortSource;
    std::function<void(bool)> m_SenseSwitch;
    int m_Tested = 0;
    int m_Passed = 0;
    int m_Failed = 0;
};
