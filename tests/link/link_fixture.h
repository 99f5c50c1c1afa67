// A live link over a pseudo-terminal: the receive thread running, its port
// open on the peer's slave side, the rings reset and the link marked live.
#pragma once

#include "app/limits.h"
#include "link/BoardLink.h"
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
    std::unique_ptr<BoardLink> ownedLink = std::make_unique<BoardLink>();
    BoardLink& link = *ownedLink;
    ReceiveThread& uart = *link.receiver();

    // Mirrors what the connect procedure does after a successful open.
    bool connect() {
        if (!uart.isRunning()) uart.start();
        if (uart.Open_Port(peer.slavePath()) != 1) return false;
        link.resetRings();
        link.setLive(true);
        return true;
    }

    ~LiveLink() {
        link.setLive(false);
        peer.stopResponder();
        uart.Stop();
        uart.wait();
        uart.Close_Port();
    }
};

inline QByteArray Stx(const QByteArray& body) { return QByteArray(1, '\x02') + body + QByteArray(1, '\x03'); }
