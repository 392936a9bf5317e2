#pragma once

// The names this program has always had, kept in the code so that its logs, its error entries
// and the installation's other tools read the same. What each one is:
//
// Main window (Form)
//   IP, Port, Pollrate        the server address, its TCP port, the poll rate in seconds
//   Check1                    the "Poll" box: poll at Pollrate (Timer1) rather than once a minute
//   StopStart                 "Stop"/"Start": pauses and resumes polling
//   connectcmd                "Connect"                     Command1   "Get" (Reg and No)
//   showcmd                   "Controls"                    ForceChargecmd   "Charge" (ChargeRate)
//   SelType                   the register map: Auto, Manual-T (native), Manual-S (SunSpec)
//   WinState, Image1          the socket state in the classic numbers, the link picture
//   SNum, HW, FW, Protocol    the identity read once a run
//   BatteryToday, BatterySoC, RegisterDetails   the names of the state file, the SoC log and the
//                                               registers file
//   txtStatus                 the status pane
// Timers
//   Timer1                    the poll timer (Pollrate)
//   Timer2                    the minute timer: compact window, poll when Timer1 is off, arms Timer3
//   Timer3                    the one-second watch for midnight (DayRollover)
// Socket events (ModbusLink, Transport)
//   Winsock1_Connect, Winsock1_Close, Winsock1_DataArrival, Winsock1_Error
//                             connected, closed by the server, bytes arrived, a socket error
//   SendModbusRequest, SendWriteRegister, SendReadRegisters   a read, a single-register write, a
//                             read from two texts
//   HandleTimeout, ReconnectSocket    no answer in time; the paced reconnect
// Decoders
//   DecodeBlockA              96 registers at 60000: identity, rated powers, capacity, SoC, powers
//   DecodeBlockB              24 registers at 60166: the four lifetime counters, the battery file
//   DecodeBlockC, DecodeBlockD   18 at 60300 and 4 at 60200: the control editor's fields
//   DecodeOther               any other read: the register listing
// Files (energy/, support/)
//   writebattery              Battery.txt, the 16 keyed lines
//   readNight, DaySave        the night snapshot read, and the midnight save with its summary
//   ErrorHandle               one entry of "ModbusClient errors.log"
//   BinaryCopyFile, FileExists   a whole-file copy through a swap; a regular file is there
// Control register editor (Controlsfrm, ControlsForm)
//   F60301 ... F60316         the fields of registers 60300 ... 60316 (the first five one below
//                             their names), F60200 and F60202 the charge and discharge limits
//   Autoclose, AutoCloseTicks the countdown shown and the minute ticks that close the editor
//   SetupField, HandleFieldValidate   editing hooks that have never done anything
