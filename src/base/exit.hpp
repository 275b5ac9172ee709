// The single way out of the process: run the registered exit handlers (newest first),
// flush the streams and end without static destructors, so that a command thread or
// a connection thread still running cannot touch torn-down objects.
#pragma once

using ExitHandler = void (*)();

void AppAtExit(ExitHandler handler);
[[noreturn]] void AppExit(int code);
