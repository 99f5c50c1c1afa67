// What one exchange with the board came to: done, or the cause it was not.
// A board that answered with a status of its own keeps its letter.
#pragma once

enum class ExchangeCause {
    Done,
    NoPort,       // no port open (or the line failed, or exchanges were stopped)
    NoReply,      // no reply within the reply time-out
    BoardStatus,  // the board answered with a status other than done
};

class ExchangeResult {
public:
    constexpr ExchangeResult() = default;
    static constexpr ExchangeResult done() { return ExchangeResult(); }
    static constexpr ExchangeResult noPort() { return ExchangeResult(ExchangeCause::NoPort, 'A'); }
    static constexpr ExchangeResult noReply() { return ExchangeResult(ExchangeCause::NoReply, 'Z'); }
    static constexpr ExchangeResult boardStatus(char letter) {
        return ExchangeResult(ExchangeCause::BoardStatus, letter);
    }

    constexpr ExchangeCause cause() const { return m_Cause; }
    constexpr bool ok() const { return m_Cause == ExchangeCause::Done; }
    // The board's status letter; for the other causes the character the
    // board's log and the debug view have always shown for them: '0' done,
    // 'A' no port, 'Z' no reply.
    constexpr char letter() const { return m_Letter; }

    friend constexpr bool operator==(ExchangeResult a, ExchangeResult b) {
        return a.m_Cause == b.m_Cause && a.m_Letter == b.m_Letter;
    }
    friend constexpr bool operator!=(ExchangeResult a, ExchangeResult b) { return !(a == b); }

private:
    constexpr ExchangeResult(ExchangeCause cause, char letter) : m_Cause(cause), m_Letter(letter) {}

    ExchangeCause m_Cause = ExchangeCause::Done;
    char m_Letter = '0';
};
