// Process-wide state shared by the GUI thread and the worker threads.
//
// Widget-free on purpose: the link, the workers, the simulated board and the
// command-line tools include this header. Every value that more than one
// thread touches is a std::atomic; a plain aligned word would still be a data
// race. Values only the GUI thread uses (paths) are plain.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>

constexpr int kMaxChannels = 16;  // monitor arrays, 16-bit channel masks
constexpr int kMaxSbf = 4;        // monitor values per channel

// --- configuration (system.ini, config.ini) ---------------------------------
extern std::atomic<int> g_I2C_Addr;        // 8-bit chip address; low byte is sent
extern std::atomic<int> g_DeviceType;      // chip family 0..4
extern std::atomic<int> g_SizeOfChannel;   // touch channels, 0..16 after clamping
extern std::atomic<int> g_SizeOfSBF;       // sensing blocks, 0..4 after clamping
extern std::atomic<float> g_AutoSen_Margin;
extern QString g_RegFilePath;              // GUI thread only
extern QString g_WorkDir;                  // working directory captured at start
extern QByteArray g_WorkDirA;              // the same in the local 8-bit encoding

// The chip address as it goes out on the wire: the low byte of g_I2C_Addr.
uint8_t Chip_AddressByte();
