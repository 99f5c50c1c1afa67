#include "app/globals.h"

std::atomic<int> g_I2C_Addr{0xB0};
std::atomic<int> g_DeviceType{0};
std::atomic<int> g_SizeOfChannel{0};
std::atomic<int> g_SizeOfSBF{0};
std::atomic<float> g_AutoSen_Margin{0.0f};
QString g_RegFilePath;
QString g_WorkDir;
QByteArray g_WorkDirA;

uint8_t Chip_AddressByte() { return static_cast<uint8_t>(g_I2C_Addr.load(std::memory_order_acquire) & 0xFF); }
