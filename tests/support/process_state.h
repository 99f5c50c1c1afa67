// The one reset of the process-wide state every suite shares: configuration,
// connection flags, rings, register image and cells, monitor values, the
// event frame in assembly, the sensitivity run, the command-line ports, the
// exchange abort and the pointers to the window and the threads.
//
// Call it only while no main window, sensitivity dialog or thread exists:
// the pointers are cleared, not the objects they point to.
#pragma once

void Reset_ProcessState();
