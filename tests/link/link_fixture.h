// A live link over a pseudo-terminal: the receive thread running, its port
// open on the peer's slave side, the rings reset and the link marked live.
#pragma once

#include "app/globals.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "support/pty_peer.h"

#include <memory>

struct LiveLink {
    PtyPeer peer;
    // A started thread object lives on the heap. QThread::wait joins through
    // Qt's futex, which ThreadSanitizer cannot see, so the thread's last
    // stores to its object stay unordered for it; freed heap memory has its
    // history reset, stack memory that a later test reuses does not.
    std::unique_ptr<ReceiveThread> ownedUart = std::make_unique<ReceiveThread>();
    ReceiveThread& uart = *ownedUart;

    // Mirrors what the connect procedure does after a successful open.
    bool connect() {
        g_ThreadUART = &uart;
        if (!uart.isRunning()) uart.start();
        if (uart.Open_Port(peer.slavePath()) != 1) return false;
        Reset_Rings();
        g_UART_Connected.store(1);
        return true;
    }

    ~LiveLink() {
        g_UART_Connected.store(0);
        peer.stopResponder();
        uart.Stop();
        uart.wait();
        uart.Close_Port();
        if (g_ThreadUART == &uart) g_ThreadUART = nullptr;
        Link_AbortExchanges(false);
    }
};

inline QByteArray Stx(const QByteArray& body) { return QByteArray(1, '\x02') + body + QByteArray(1, '\x03'); }
