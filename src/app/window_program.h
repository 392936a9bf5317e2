#pragma once

// The windows live in a program of their own (ModbusClient-window), so that the headless client,
// which runs for months as a service, loads no widget, chart or GUI library. ModbusClient hands
// a run with a window over to it with the same arguments, before doing anything else.
// Returns only when that program cannot be started: the exit status, the reason on stderr.
int RunWindowProgram(char** argv);
