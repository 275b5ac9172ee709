// What a run has set, in one place below the drivers and the serial layer: the
// connection settings, the argument of the running programming command, and the
// selected driver with its option text and the values each driver learned from its
// target. The commands fill it; the drivers and the port search read it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct CodeImage;
struct DriverDescriptor;  // drivers/driver.hpp

// A connection string may hold a device path as long as a command line allows
// (/dev/serial/by-id/... names run to 80 characters and more).
constexpr unsigned kConnectionStringSize = 256;  // with the terminator
constexpr unsigned kConnectKeySize = 128;        // with the terminator
constexpr unsigned kCommandArgumentSize = 64;    // with the terminator
constexpr unsigned kDriverOptionsSize = 256;     // with the terminator

// Values a driver learns while it talks to its target. They start as its descriptor
// says and stay for the rest of the run, also when another driver was current in
// between: a driver that hands its open line to another one (a boot ROM starting a RAM
// routine) lets that one's connect fill its own.
struct DriverSession {
    int32_t blockSize;       // WRITE aligns and cuts the image to this size
    int32_t lengthMultiple;  // WRITE pads blocks with 0xFF to a multiple of this; 0: none
};

using CodePreparation = void (*)(CodeImage& image);
// Refuses (an ERROR) an image that must not reach the part as it is; `writing` when it
// is about to be written (warnings are said then), else before an erase.
using CodeCheck = void (*)(const CodeImage& image, bool writing);

struct RunContext {
    char connection[kConnectionStringSize] = "COM1,9600,8,N,1";
    char connectKey[kConnectKeySize] = "";
    int32_t connectTimeout = 0;  // seconds
    // The argument of the running WRITE, ERASE item or EXEC; empty between commands.
    char commandArgument[kCommandArgumentSize] = "";

    const DriverDescriptor* driver = nullptr;  // the current driver; null until one is selected
    // The text after the driver name in DRIVER: one buffer for all drivers, so a driver
    // that selects another one and comes back brings its own text along.
    char driverOptions[kDriverOptionsSize] = "";
    std::map<const DriverDescriptor*, DriverSession> sessions;
    // The image preparation a driver asked for when it was selected; the next WRITE runs
    // it, also after that driver handed its line to another one.
    CodePreparation pendingPreparation = nullptr;
    // The image check of the driver that owns the part, also after it handed its line on.
    CodeCheck pendingCheck = nullptr;
    // ALLOWLOCK: an image may lock the part out of its boot loader for good.
    bool allowLock = false;
    // BSLPASSWORD: the MSP430 BSL password (the 32 bytes of the part's interrupt
    // vectors) and where it came from; empty when none was given.
    std::vector<uint8_t> bslPassword;
    std::string bslPasswordSource;
    // The last DRIVER name that matched no driver ("" once one matched): a failure that
    // follows says so.
    char unknownDriver[64] = "";
    bool connectionGiven = false;  // CONNECTION was used (else the default string stands)
    // COMPRESS: fast mode sends packed blocks to a routine that takes them.
    bool compress = false;
    // UPDATE is connecting: fast mode loads a routine that erases single sectors.
    bool updating = false;
};

// The run's context (one per process: the program runs one target at a time).
RunContext& Run();

// Accessors under the names the rest of the program knows them by.
const char* ConnectionString();
void SetConnectionString(const char* text);  // cut to 255 characters; CONNECTION's setter
const char* ConnectKey();
void SetConnectKey(const char* text);     // cut to 17 characters (SECKEY)
void AppendConnectKey(const char* text);  // cut to the buffer (BOOTLDR)
int32_t ConnectTimeout();
void SetConnectTimeout(int32_t seconds);

void SetCommandArgument(const char* text);  // cut to 63 characters
void ClearCommandArgument();
// The argument of the running command, or null when it is empty.
const char* CmdArgGet();

// The option text of the current driver ("" until a DRIVER command gave one).
const char* DriverOptions();
void SetDriverOptions(const char* text);  // cut to 255 characters
