#include "production/ProductionTest.h"

#include <QMap>

#include "app/limits.h"
#include "app/regfile.h"
#include "data/SampleStream.h"
#include "link/BoardLink.h"
#include "link/commands.h"
#include "tuning/MonitorNarrowing.h"
#include "tuning/SnrMath.h"
#include "tuning/SnrProcedure.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"

namespace {

constexpr int kWatchMs = 100;

QString Hex(int v) { return QString::asprintf("%02X", static_cast<unsigned>(v) & 0xFFu); }

Measurement Judge(const ProductionLimits& limits, const QString& name, int channel, double value) {
    const LimitBound b = limits.bound(name, channel);
    Measurement m;
    m.name = name;
    m.channel = channel + 1;
    m.sbf = limits.sbf + 1;
    m.value = value;
    m.min = b.min;
    m.max = b.max;
    m.unit = Limits_Unit(name);
    m.pass = b.accepts(value);
    return m;
}

}  // namespace

QVector<Measurement> Production_EvaluateUntouched(const ProductionLimits& limits, int channel,
                                                  const QVector<int32_t>& reference, const QVector<int32_t>& diff) {
    const SnrStats ref = Snr_Stats(reference);
    const SnrStats d = Snr_Stats(diff);
    return {Judge(limits, QStringLiteral("reference"), channel, ref.mean),
            Judge(limits, QStringLiteral("noise_pp"), channel, d.peakToPeak),
            Judge(limits, QStringLiteral("noise_rms"), channel, d.rms),
            Judge(limits, QStringLiteral("untouched_diff"), channel, d.mean)};
}

QVector<Measurement> Production_EvaluateTouch(const ProductionLimits& limits, const SnrResult& r) {
    return {Judge(limits, QStringLiteral("signal"), r.channel, r.signal),
            Judge(limits, QStringLiteral("snr"), r.channel, r.snr)};
}

ProductionTest::ProductionTest(const ProductionLimits& limits, SampleStream* stream, QObject* parent)
    : QObject(parent), m_Limits(limits), m_Stream(stream), m_Watch(new QTimer(this)) {
    m_LinkOk = [this] { return portLive() && m_Session->chipPresent(); };
    m_SetSense = [this](bool on) {
        if (m_Session) m_Session->setSensing(on);
    };
    m_Record.limitsFile = limits.file;
    m_Record.limitsName = limits.name;
    m_Record.limitsSha256 = limits.sha256;
    connect(m_Stream, &SampleStream::sampleAdded, this, &ProductionTest::onSample);
    connect(m_Stream, &SampleStream::touchChanged, this, &ProductionTest::onTouch);
    connect(m_Watch, &QTimer::timeout, this, &ProductionTest::watch);
    connect(this, &ProductionTest::changed, this, [this] {
        const QString p = prompt();
        if (p == m_LastPrompt) return;
        m_LastPrompt = p;
        emit promptChanged(p);
    });
}

ProductionTest::~ProductionTest() {
    m_Snr.reset();
    // The owner of the Sense hook may be going away: only the flags go back.
    restore(false);
}

QString ProductionTest::prompt() const {
    switch (m_Phase) {
        case Phase::Idle:
            return QStringLiteral("Ready");
        case Phase::Registers:
            return QStringLiteral("Writing the golden registers");
        case Phase::Settling:
            return QStringLiteral("Settling: hands off");
        case Phase::HandsOff:
            return m_KeyBusy ? QStringLiteral("A key is touched: hands off every key") : QStringLiteral("Hands off");
        case Phase::Touch:
            return m_Snr ? m_Snr->prompt() : QString();
        case Phase::Done:
            return m_Record.outcome;
    }
    return QString();
}

bool ProductionTest::portLive() const { return m_Session != nullptr && m_Session->link().isLive(); }

ExchangeResult ProductionTest::retried(const std::function<ExchangeResult()>& exchange) {
    return Exchange_Retried(kExchangeAttempts, exchange,
                            [this] { return portLive() && !m_Abandoned.load(std::memory_order_acquire); });
}

QString ProductionTest::exchangeError(const QString& what, ExchangeResult result) const {
    if (result.cause() == ExchangeCause::NoPort || !portLive()) return QStringLiteral("%1: the port failed").arg(what);
    if (result.cause() == ExchangeCause::NoReply) return QStringLiteral("%1: no reply from the board").arg(what);
    return QStringLiteral("%1: the board reported status '%2'").arg(what, QChar::fromLatin1(result.letter()));
}

bool ProductionTest::writeGolden(uint8_t dev) {
    if (m_Session == nullptr) {
        fail(QStringLiteral("no chip answers: connect the board first"));
        return false;
    }
    RegFileReader reader;
    if (!reader.open(m_Limits.registers)) {
        fail(QStringLiteral("%1: cannot be read: %2").arg(m_Limits.registers, reader.errorString()));
        return false;
    }
    QMap<int, uint8_t> wanted;
    QString failure;
    const RegLoadResult r = RegFile_WriteToChip(
        m_Session->link(), &reader, dev, [&](const RegFileLine& line) { wanted.insert(line.address, line.value); },
        [&](uint8_t reg, uint8_t value) {
            const ExchangeResult c = retried([&] { return CMD_Write(m_Session->link(), dev, reg, 1, &value); });
            if (!c.ok() && failure.isEmpty())
                failure = exchangeError(QStringLiteral("writing register %1").arg(Hex(reg)), c);
            return c;
        });
    m_Record.registersWritten = r.written;
    if (reader.failed()) {
        fail(QStringLiteral("%1: reading stopped after line %2: %3")
                 .arg(m_Limits.registers)
                 .arg(reader.lineNumber())
                 .arg(reader.errorString()));
        return false;
    }
    if (!failure.isEmpty()) {
        fail(failure);
        return false;
    }
    for (const RegisterRun& run : Register_Runs(QVector<int>(wanted.keyBegin(), wanted.keyEnd()))) {
        uint8_t buf[kMaxRegsPerFrame] = {};
        const ExchangeResult c = retried([&] {
            return CMD_Read(m_Session->link(), dev, static_cast<uint8_t>(run.first), static_cast<uint8_t>(run.count),
                            buf);
        });
        if (!c.ok()) {
            fail(exchangeError(QStringLiteral("reading back register %1").arg(Hex(run.first)), c));
            return false;
        }
        for (int k = 0; k < run.count; ++k) {
            const int reg = run.first + k;
            if (buf[k] == wanted.value(reg))
                ++m_Record.registersVerified;
            else
                m_Record.mismatched.append({reg, wanted.value(reg), buf[k]});
        }
    }
    return true;
}

void ProductionTest::start(uint8_t dev) {
    if (running()) return;
    m_Record.started = QDateTime::currentDateTimeUtc();
    m_Record.outcome = QStringLiteral("ERROR");
    m_Record.error.clear();
    m_Record.mismatched.clear();
    m_Record.measurements.clear();
    m_Phase = Phase::Registers;
    emit changed();
    if (!m_LinkOk()) {
        fail(QStringLiteral("no chip answers: connect the board first"));
        return;
    }
    if (m_TouchPhase && !m_Limits.hasTouch) {
        fail(QStringLiteral("%1 has no \"touch\" section for the touch phase").arg(m_Limits.file));
        return;
    }
    if (!writeGolden(dev)) return;

    uint16_t mask = 0;
    for (int c : m_Limits.channels) mask |= static_cast<uint16_t>(1u << c);
    // A narrowing of its own: the test runs on its own thread, beside the
    // window's procedures, and puts back what it found when it ends.
    if (!m_Narrowing) m_Narrowing = new MonitorNarrowing(m_Session, this);
    m_Narrowing->narrow(this, QStringLiteral("The production test"), mask, m_SetSense);
    m_Reference = QVector<QVector<int32_t>>(m_Limits.channels.size());
    m_Diff = QVector<QVector<int32_t>>(m_Limits.channels.size());
    // Samples read before the settle time is over are not taken.
    m_FromMs = m_Stream->elapsedMs() + m_Limits.settleMs;
    m_KeyBusy = m_Stream->touchMask() != 0;
    m_LastProgressMs = Steady_Ms() + m_Limits.settleMs;
    m_Phase = m_Limits.settleMs > 0 ? Phase::Settling : Phase::HandsOff;
    m_Watch->start(kWatchMs);
    emit changed();
}

void ProductionTest::onSample(const MonitorSample& sample) {
    if (m_Phase != Phase::Settling && m_Phase != Phase::HandsOff) return;
    if (sample.tMs < m_FromMs || sample.sbfCount <= m_Limits.sbf || m_KeyBusy) return;
    const int idx = m_Limits.channels.indexOf(sample.channel);
    if (idx < 0 || m_Diff[idx].size() >= m_Limits.samples) return;
    if (m_Phase == Phase::Settling) {
        m_Phase = Phase::HandsOff;
        emit changed();
    }
    m_Reference[idx].append(sample.ref[m_Limits.sbf]);
    m_Diff[idx].append(sample.diff[m_Limits.sbf]);
    m_LastProgressMs = Steady_Ms();
    for (const QVector<int32_t>& d : m_Diff)
        if (d.size() < m_Limits.samples) return;
    endHandsOff();
}

void ProductionTest::onTouch(const TouchEvent& event) {
    if (m_Phase != Phase::Settling && m_Phase != Phase::HandsOff) return;
    if (event.mask != 0) {
        // Samples beside a touch are not untouched: start again once every key is free.
        m_KeyBusy = true;
        for (QVector<int32_t>& v : m_Reference) v.clear();
        for (QVector<int32_t>& v : m_Diff) v.clear();
    } else if (m_KeyBusy) {
        m_KeyBusy = false;
        m_FromMs = qMax(m_FromMs, event.tMs);
        m_LastProgressMs = Steady_Ms();
    }
    emit changed();
}

void ProductionTest::watch() {
    if (m_Phase != Phase::Settling && m_Phase != Phase::HandsOff) return;
    if (!m_LinkOk()) {
        fail(!portLive() ? QStringLiteral("%1: the port failed")
                               .arg(m_Record.port.isEmpty() ? QStringLiteral("the board") : m_Record.port)
                         : QStringLiteral("the chip stopped answering"));
        return;
    }
    if (Steady_Ms() - m_LastProgressMs <= m_StallMs) return;
    if (m_KeyBusy) {
        QStringList keys;
        for (int c = 0; c < kMaxChannels; ++c)
            if ((m_Stream->touchMask() >> c) & 1u) keys << QString::number(c + 1);
        fail(QStringLiteral("SIN %1 reported a touch for %2 s with hands off")
                 .arg(keys.join(QLatin1Char(',')))
                 .arg(m_StallMs / 1000.0));
    } else {
        fail(QStringLiteral("no monitoring data for %1 s").arg(m_StallMs / 1000.0));
    }
}

void ProductionTest::endHandsOff() {
    m_Watch->stop();
    for (int i = 0; i < m_Limits.channels.size(); ++i)
        m_Record.measurements +=
            Production_EvaluateUntouched(m_Limits, m_Limits.channels[i], m_Reference[i], m_Diff[i]);
    if (m_TouchPhase)
        beginTouch();
    else
        finish();
}

void ProductionTest::beginTouch() {
    m_Phase = Phase::Touch;
    m_Snr = std::make_unique<SnrProcedure>(m_Stream);
    m_Snr->setSession(m_Session);
    m_Snr->setLinkCheck(m_LinkOk);
    m_Snr->setSenseSwitch(m_SetSense);
    m_Snr->setStallTimeout(m_StallMs);
    connect(m_Snr.get(), &SnrProcedure::changed, this, &ProductionTest::changed);
    connect(m_Snr.get(), &SnrProcedure::finished, this, [this] {
        if (m_Phase != Phase::Touch) return;
        if (m_Snr->phase() != SnrProcedure::Phase::Done) {
            fail(QStringLiteral("touch phase: %1").arg(m_Snr->errorText()));
            return;
        }
        for (const SnrResult& r : m_Snr->results()) m_Record.measurements += Production_EvaluateTouch(m_Limits, r);
        finish();
    });
    SnrSettings s;
    s.channels = m_Limits.channels;
    s.sbf = m_Limits.sbf;
    s.samples = m_Limits.samples;
    s.minSnr = 0.0;  // the limits file judges
    s.margin = m_Session ? m_Session->margin() : 0.0f;
    emit changed();
    if (!m_Snr->start(s)) fail(QStringLiteral("touch phase: %1").arg(m_Snr->errorText()));
}

void ProductionTest::touchingNow() {
    if (m_Phase == Phase::Touch && m_Snr) m_Snr->touchingNow();
}

void ProductionTest::fail(const QString& why) {
    if (!running()) return;
    m_Record.outcome = QStringLiteral("ERROR");
    m_Record.error = why;
    m_Watch->stop();
    if (m_Snr && m_Snr->running()) {
        m_Phase = Phase::Done;  // its finished() is ours no more
        m_Snr->cancel();
    }
    m_Phase = Phase::Done;
    restore();
    m_Record.ended = QDateTime::currentDateTimeUtc();
    emit changed();
    emit finished();
}

void ProductionTest::finish() {
    m_Record.decide();
    m_Phase = Phase::Done;
    restore();
    m_Record.ended = QDateTime::currentDateTimeUtc();
    emit changed();
    emit finished();
}

void ProductionTest::restore(bool useHook) {
    if (m_Narrowing) m_Narrowing->restore(this, useHook ? m_SetSense : MonitorNarrowing::SenseSwitch());
}
