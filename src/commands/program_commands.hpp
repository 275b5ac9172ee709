// The programming commands' connect loop, also used by drivers that connect a second
// protocol on an open line.
#pragma once

struct CodeImage;

// Calls the current driver's DevConnect until it answers or the connection time-out
// has passed, with the countdown shown in place. True when the target answered.
bool DevConnectWait(const char* key);

// Opens the interface and connects through the current driver unless a connection
// stands; a target that does not answer ends the run ("Failed to connect.").
void ConnectTarget();
// The start of a command that works with the loaded code: "Command: <command>." at
// debug level; without code "WARNING: No code to <noCode>." and false; else the command's
// argument set and the target connected.
bool ConnectWithCode(const char* value, const char* command, const char* noCode);

// Reshapes the image into the blocks WRITE hands the current driver: aligned to its
// block size (holes inside a block filled), no block longer than one block, lengths
// padded to its multiple.
void ShapeForDriver(CodeImage& image);
// The current driver's check of the loaded image, before ERASE (`writing` false) or
// WRITE touches the part.
void CheckForDriver(bool writing);
// The image preparation the current driver asked for, or the one a driver asked for
// before it handed its line to the current one. A write marks it done.
void PrepareForDriver(CodeImage& image, bool writing);
// Ctrl-C during a write: "Terminating write", exit code 1.
[[noreturn]] void TerminateWrite();
