// Handlers of the application command table, grouped by the module that owns them.
#pragma once

// Small setting commands.
void CmdDevice(const char* value);
void CmdAccepted(const char* value);  // NOLOCALECHO, USERMODE, EXTMEM, NOEXEC
void CmdSecKey(const char* value);
void CmdConnection(const char* value);
void CmdClockFreq(const char* value);
void CmdHistory(const char* value);
void CmdBootLdr(const char* value);
void CmdContOut(const char* value);
void CmdCompress(const char* value);
void CmdStoreCtx(const char* value);
void CmdRestoreCtx(const char* value);
void CmdSleep(const char* value);
void CmdEcho(const char* value);
void CmdExit(const char* value);
void CmdAllowLock(const char* value);

// Code file commands.
void CmdImportCode(const char* value);
void CmdExportCode(const char* value);
void CmdListCode(const char* value);
void CmdFormat(const char* value);
void CmdCodeInfo(const char* value);
void CmdTestFunc(const char* value);
void CmdDriverBin(const char* value);
void CmdGetEntryAddr(const char* value);
void CmdCompactCode(const char* value);
void CmdListData(const char* value);
void CmdBslPassword(const char* value);  // the MSP430 BSL password: a code file, or ERASED
// Releases the program's code image (run at exit).
void ReleaseProgramCode();

// Driver selection.
void CmdDriver(const char* value);
void CmdDrvList(const char* value);

// Programming commands.
void CmdWrite(const char* value);
void CmdErase(const char* value);
void CmdExec(const char* value);
void CmdDisconnect(const char* value);
// Rewrites only the sectors whose contents differ from the image.
void CmdUpdate(const char* value);

// Commands that look at the target.
void CmdRead(const char* value);
void CmdVerify(const char* value);
void CmdBlankCheck(const char* value);
void CmdDeviceInfo(const char* value);

// A gang: the commands after GANG once per port, in parallel processes.
void CmdGang(const char* value);
void CmdGangReport(const char* value);
void CmdGangTimeout(const char* value);

// Reset and programming-enable line control.
void CmdResetTime(const char* value);
void CmdIspHoldTime(const char* value);
void CmdReqIsp(const char* value);
void CmdResetCtrl(const char* value);
void CmdPgmEnCtrl(const char* value);
void CmdCp210xTest(const char* value);

// Serial port commands.
void CmdLoopTest(const char* value);
void CmdPortList(const char* value);
