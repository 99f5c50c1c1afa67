#include "support/process_state.h"

#include "app/globals.h"

void Reset_ProcessState() {
    g_I2C_Addr = 0xB0;
    g_DeviceType = 0;
    g_SizeOfChannel = 0;
    g_SizeOfSBF = 0;
    g_AutoSen_Margin = 0.0f;
    g_RegFilePath.clear();
    g_WorkDir.clear();
    g_WorkDirA.clear();
}
