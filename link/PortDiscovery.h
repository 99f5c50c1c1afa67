// Finds the ports the board may be on: the USB-to-UART bridge's ttys, then the
// device paths the user configured or named on the command line.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>

// Where Linux lists its ttys; tests pass a fake tree instead.
inline const char kSysClassTty[] = "/sys/class/tty";
// The kernel driver of the evaluation board's USB-to-UART bridge.
inline const char kBridgeDriver[] = "cp210x";
// The first entry of every port list: "not connected".
inline const char kNoPort[] = "NONE";

// "NONE", then /dev/NAME for every tty under sysfsRoot driven by the bridge
// driver (in name order), then extraPaths, then cmdLinePaths; each path once.
// A diagnostic listing of the scanned ttys goes to trace (nullptr: none).
QStringList Discover_Ports(const QString& sysfsRoot, const QStringList& extraPaths, const QStringList& cmdLinePaths,
                           FILE* trace = stdout);

// Splits a "PORT/EXTRA" style list: paths separated by ';', blanks dropped.
QStringList Split_PortList(const QString& list);

// The item to select for the open port's path: its index, or 0 ("NONE") when
// no port is open or the path is not listed.
int Port_IndexToSelect(const QStringList& ports, const QString& openPath);

// The USB serial number of the device behind a port (a /dev path, or a link
// to one), read from sysfsRoot; empty when the port is not a USB device or
// the device has no serial number.
QString Port_UsbSerial(const QString& sysfsRoot, const QString& path);

// /dev/NAME of the tty under sysfsRoot whose USB device carries that serial
// number; empty when none does (or serial is empty).
QString Port_FindBySerial(const QString& sysfsRoot, const QString& serial);
