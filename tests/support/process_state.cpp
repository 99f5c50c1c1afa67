#include "support/process_state.h"

#include <cstring>

#include "app/config.h"
#include "app/globals.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "link/event_frames.h"
#include "mainwindow/MainWindow.h"
#include "workers/ChipPollThread.h"
#include "workers/MonitorThread.h"

void Reset_ProcessState() {
    g_I2C_Addr = 0xB0;
    g_DeviceType = 0;
    g_SizeOfChannel = 0;
    g_SizeOfSBF = 0;
    g_AutoSen_Margin = 0.0f;
    g_RegFilePath.clear();
    g_WorkDir.clear();
    g_WorkDirA.clear();

    g_I2C_Connected = 0;

    g_SenseOn = 0;
    g_MonChannelMask = 0;
}
