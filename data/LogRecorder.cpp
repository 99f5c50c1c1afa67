#include "data/LogRecorder.h"

#include "data/SampleStream.h"

LogRecorder::LogRecorder(SampleStream* stream, QObject* parent) : QObject(parent), m_Stream(stream) {
    connect(&m_Writer, &LogWriter::failedWith, this, &LogRecorder::onFailed);
}

LogRecorder::~LogRecorder() { m_Writer.close(); }

bool LogRecorder::start(const QString& path, const LogHeader& header) {
    stop();
    if (!m_Writer.open(path, header)) return false;
    m_StartMs = Steady_Ms();
    connect(m_Stream, &SampleStream::sampleAdded, this, &LogRecorder::onSample, Qt::UniqueConnection);
    connect(m_Stream, &SampleStream::touchChanged, this, &LogRecorder::onTouch, Qt::UniqueConnection);
    return true;
}

void LogRecorder::stop() {
    if (!m_Writer.isOpen()) return;
    disconnect(m_Stream, nullptr, this, nullptr);
    m_Writer.close();
    emit stopped(m_Writer.failed() ? m_Writer.error() : QString());
}

qint64 LogRecorder::elapsedMs() const { return Steady_Ms() - m_StartMs; }

qint64 LogRecorder::logMs(qint64 streamMs) const {
    // A sample queued before the recording started would count backwards.
    return std::max<qint64>(0, m_Stream->originMs() + streamMs - m_StartMs);
}

void LogRecorder::onSample(const MonitorSample& sample) {
    if (m_Stream->source() != SampleStream::Source::Live) return;
    m_Writer.writeSample(logMs(sample.tMs), sample);
}

void LogRecorder::onTouch(const TouchEvent& event) {
    if (m_Stream->source() != SampleStream::Source::Live) return;
    m_Writer.writeTouch(logMs(event.tMs), event);
}

void LogRecorder::addMark(const QString& text) {
    if (isRecording()) m_Writer.writeMark(elapsedMs(), Wall_Ms(), text);
}

void LogRecorder::addRegisterWrite(int reg, int value) {
    if (isRecording()) m_Writer.writeRegister(elapsedMs(), Wall_Ms(), reg, value);
}

void LogRecorder::onFailed(const QString& message) {
    disconnect(m_Stream, nullptr, this, nullptr);
    emit stopped(message);
}
