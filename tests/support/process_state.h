// The one reset of the process-wide state every suite shares: the board's
// configuration (address, family, channel and SBF counts, margin, register
// file) and the working directory. Everything else belongs to an object the
// suite builds.
//
// Call it only while no main window or thread exists.
#pragma once

void Reset_ProcessState();
