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

    g_UART_Connected = 0;
    g_I2C_Connected = 0;
    Reset_Rings();
    Link_AbortExchanges(false);
    Link_SetReplyTimeout(kReplyTimeoutMs);

    g_SenseOn = 0;
    g_MonChannelMask = 0;
    g_MonChannel = 0;
    g_ProcChannel = 0;
    for (auto& v : g_Ref_Cnt) v = 0;
    for (auto& row : g_Sen_Cnt)
        for (auto& v : row) v = 0;
    for (auto& row : g_Diff_Per_Tick)
        for (auto& v : row) v = 0;
    for (auto& row : g_Offset_Per_Tick)
        for (auto& v : row) v = 0;
    for (auto& v : g_SbfStatus) v = 0;

    std::memset(g_EventFrame, 0, kEventFrameSize);
    g_EventFrameLen = 0;

    g_ThreadUART = nullptr;
    g_CMD_Thread = nullptr;
    g_Proc_Thread = nullptr;
}
