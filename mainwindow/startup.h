// The start-up routine: everything main() does, callable from tests.
#pragma once

int Startup_Main(int argc, char* argv[]);

// Registers the embedded images (the core is a static library, so nothing
// registers them by itself). Safe to call more than once.
void Startup_InitResources();

// Font stand-ins so that the form's "Arial" and the Korean texts' "Gulim"
// render with fonts a Linux system has.
void Startup_InstallFontSubstitutes();
