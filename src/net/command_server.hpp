// The daemon's command server: a TCP line protocol through which another program
// queues commands, polls the state of the daemon and ends it.
//
//   "QUIT:"       -> "OK"   stop the running write, drop queued commands, end
//   "STAT:"       -> "READY", or "BUSY: <kiB done>/<kiB total>" while a command runs
//                    or commands wait in the queue
//   "CMD:<line>"  -> "OK"   queue the command line; the run loop runs queued lines one
//                    at a time, in arrival order ("ERR" once QUIT:/KILL: was received)
//   "KILL:"       -> "OK"   end once the running and the queued commands are done
//   "RESULT:"     -> "RESULT: 0", or "RESULT: 70 <the ERROR text>": how the last
//                    command run ended
//   "AUTH:<secret>" -> "OK" when a secret is set and this is it; with a secret set,
//                    a connection's first line must be this, else "ERR" and it is closed
//   anything else -> "ERR"
// Lines end with CR LF or with LF alone.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.hpp"

constexpr uint16_t kDaemonDefaultPort = 8100;
// Overrides the daemon's TCP port; a started daemon inherits it with the environment.
constexpr const char* kDaemonPortVariable = "VORLO_DAEMON_PORT";
// Connections served at once; further clients find their connection closed.
constexpr int kDaemonMaxConnections = 64;

// The port of the command server: VORLO_DAEMON_PORT when set, else 8100. A value that
// is not a port number ends the run with an ERROR.
uint16_t CmdServerPort();

// Opens the command socket on the server bind address and port, starts the server
// thread and returns once the socket listens. A socket that cannot be opened (a busy
// port, say) ends the run with an ERROR after telling a waiting starter why.
void CmdServerStart();

// The shared secret clients must send first (AUTH:); empty: none. Read from the file the
// daemon was given (--secretfile or VORLO_SECRET_FILE) before the server starts: a file
// that cannot be read, or holds nothing, ends the run with an ERROR.
void CmdServerReadSecret(const char* path);

// Where the server listens, said at level NOTE, with a WARNING when it is every interface.
void CmdServerAnnounce();

// How the last command run ended, for RESULT: (0 and "", or 70 and the ERROR text).
void CmdServerSetResult(int code, const char* text);

// For the run loop: takes the oldest queued command line. Busy is set before the
// queue lock is released, so STAT: never sees READY between two queued commands.
// False when the queue is empty; new command is then cleared.
bool CmdServerTakeCommand(std::string& command);

// Serves one client connection until it ends (a stream socket of any kind).
void CmdServerConnection(SocketHandle socket);
