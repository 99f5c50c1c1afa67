// The start-up routine: everything main() does, callable from tests.
#pragma once

int Startup_Main(int argc, char* argv[]);
