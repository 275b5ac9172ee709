// The driver interface: one static descriptor per bootloader protocol, with its block
// parameters and what it does at each step, and the eight operations the programming
// commands call on the current driver.
//
// A serial driver supplies only what its protocol does differently: its connect on the
// open port, erase, write and start, its line work around open, connect and close, and
// its port-search options. The kit (drivers/kit/serial_driver.cpp) does the rest: the
// open (AUTO strings included), the close, the AUTO search before the connect, and one
// default for each operation a driver leaves out.
//
// How an operation ends:
//   - return false when the caller's own failure text says it all and the caller may
//     try again: a connect that got no answer (the connect loop retries until the
//     connection time-out), a write whose block was not taken after the driver's own
//     retries ("Programming failed."), an erase that was refused ("Erase FAILED.");
//   - end the run with an ERROR (MsgError) when the driver knows better what went wrong
//     than its caller would say, or when going on could program wrong data: an answer
//     that makes no sense, a target that stopped answering in mid-session, a request the
//     target can't do ("Block size >4096 not supported.");
//   - return true only when the target confirmed what was asked.
// A driver never prints "Failed to connect.", "Programming failed." or "Erase FAILED."
// itself. docs/drivers.md tells how to add one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "context/run_context.hpp"
#include "serial/auto_search.hpp"

constexpr unsigned kDriverInfoSize = 256;  // device text a connect may leave

// What a connect is given, and what it leaves behind.
struct ConnectCall {
    const char* key = "";  // the connect key (SECKEY, BOOTLDR), or what a driver hands on
    std::string options;   // the driver's option text (what followed its name in DRIVER)
    char* info = nullptr;  // room for device text (kDriverInfoSize bytes); null: none wanted
    // A connect that hands the line to another driver (a boot ROM that started a RAM
    // routine speaking another protocol, an application that dropped into its boot ROM)
    // names that driver and its option text: from then on it speaks to the target. A
    // driver handed the line may hand it on in turn; they take it in this order.
    struct HandOver {
        const DriverDescriptor* driver;
        std::string options;
    };
    std::vector<HandOver> handOvers;
};

// Target memory from `first` to `last`, both included.
struct MemoryRange {
    uint32_t first;
    uint32_t last;
};
using MemoryRanges = std::vector<MemoryRange>;

// Where the target's memory differs from what was expected there.
struct Difference {
    uint32_t address;
    uint8_t read;
    uint8_t expected;
};

// The first memory a blank check found programmed.
struct BlankFinding {
    int32_t sector;  // -1 where the target has no sectors
    uint32_t address;
    uint32_t value;  // as the target reports it (a word on the LPC boot ROM)
};

// What a driver is. Nothing here changes while the program runs; what a driver learns
// goes into its DriverSession. Build it with named fields; what is left out is the
// kit's default.
struct DriverDescriptor {
    int32_t classCode = 0;        // plain data: nothing reads it
    int32_t blockSize = 16;       // the block size a session starts with
    int32_t lengthMultiple = 0;   // the length multiple a session starts with; 0: none

    // The protocol on an open port. `argument` is the argument of the running command
    // (an ERASE item, the WRITE or EXEC value), null when it has none.
    bool (*connect)(ConnectCall& call) = nullptr;
    bool (*erase)(const char* argument) = nullptr;
    bool (*write)(const char* argument, uint32_t address, const uint8_t* data, uint32_t length) = nullptr;
    bool (*exec)(const char* argument) = nullptr;
    bool (*disconnect)() = nullptr;  // default: nothing to say, true

    // Looking at the target (READ, VERIFY, BLANKCHECK, DEVICEINFO). A driver without
    // `read` says "<tag>Function READ not supported." (likewise VERIFY and BLANKCHECK).
    // `read` fills `length` bytes from `address`: false when they did not come.
    bool (*read)(uint32_t address, uint8_t* data, uint32_t length) = nullptr;
    // Compares a block with the target's memory: false with the first difference. The
    // default reads the block and compares.
    bool (*verify)(uint32_t address, const uint8_t* data, uint32_t length, Difference& difference) = nullptr;
    // Before a READ or VERIFY: the image at hand (the one to compare with, or the one
    // loaded before a READ; null: none). A target that must be unlocked takes its key here.
    void (*startReading)(const CodeImage* image, bool verifying) = nullptr;
    // What READ reads without ranges, and what the protocol cannot read (the boot ROM's
    // vectors mapped over the start of the flash), both known once connected.
    MemoryRanges (*memory)() = nullptr;
    MemoryRanges (*hidden)() = nullptr;
    const char* hiddenReason = "";  // why the hidden memory cannot be read
    uint32_t readBlock = 0;    // bytes one read takes at most; 0: the session's block size
    uint32_t verifyBlock = 0;  // bytes one verify compares at most; 0: as readBlock
    // True when blank, else false with the first programmed memory found. `sectors` is
    // the command's argument (null: everything).
    bool (*blankCheck)(const char* sectors, BlankFinding& finding) = nullptr;
    // What the target tells about itself, a line each. Default: the block size.
    // `image`: the code loaded, which may hold the key to the target (null: none).
    std::vector<std::string> (*deviceInfo)(const CodeImage* image) = nullptr;
    // Whether the target on the line can be read now (null: whenever `read` is there).
    bool (*canRead)() = nullptr;

    // UPDATE, which rewrites only the sectors whose contents differ from the image: the
    // units the target erases one at a time (flash sectors, segments), in address order;
    // the CRC-16/CCITT-FALSE the target computes of its memory (false: no answer); and
    // the erase of the sectors that hold `first` to `last` (false: refused). A driver
    // without `memoryCrc` says "<tag>Function UPDATE not supported."; `canRead` applies
    // as for READ. `startUpdating` takes the image before the first CRC (a target that
    // must be unlocked takes its key from it).
    MemoryRanges (*sectors)() = nullptr;
    bool (*memoryCrc)(uint32_t address, uint32_t length, uint16_t& crc) = nullptr;
    bool (*eraseSectors)(uint32_t first, uint32_t last) = nullptr;
    void (*startUpdating)(const CodeImage& image) = nullptr;

    // Line work around the kit's steps.
    void (*opened)() = nullptr;      // a port was opened for the driver
    void (*connecting)() = nullptr;  // every connect, before the port search
    void (*closing)() = nullptr;     // before the port is closed

    AutoSearchOptions search = {};
    // The usual cause when the target does not answer, said after "Failed to connect.".
    const char* connectHint = "";
    const char* tag = "";  // the driver's messages start with it ("gen_iap: ")
    // Run on the image by the next WRITE after this driver was selected, even when the
    // driver has handed its line to another one by then (the LPC boot ROM's vectors).
    CodePreparation prepareCode = nullptr;
    // Run by ERASE and WRITE on the loaded image before they touch the part, as long as
    // this driver or one it handed its line to is current.
    CodeCheck checkCode = nullptr;
    // Why the driver cannot UPDATE, said with "Function UPDATE not supported.".
    const char* updateHint = "";
};

// The operations on a driver, as the commands call them.
bool DevOpenInterface(const DriverDescriptor& driver, const char* connection);
bool DevCloseInterface(const DriverDescriptor& driver, int unused);
// One connect with the run's driver options. The one place where a hand-over takes
// effect: the driver the connect named becomes the current one.
bool DevConnect(const DriverDescriptor& driver, const char* key, char* info);
bool DevDisconnect(const DriverDescriptor& driver);
bool DevRead(const DriverDescriptor& driver, uint32_t address, uint8_t* data, uint32_t length);
bool DevVerify(const DriverDescriptor& driver, uint32_t address, const uint8_t* data, uint32_t length,
               Difference& difference);
bool DevBlankCheck(const DriverDescriptor& driver, const char* sectors, BlankFinding& finding);
std::vector<std::string> DevDeviceInfo(const DriverDescriptor& driver, const CodeImage* image);
// Ends the run with "<tag>Function <what> not supported." unless the driver can read.
void RequireReading(const DriverDescriptor& driver, const char* what);
// Ends the run with "<tag>Function UPDATE not supported." unless the target computes the
// CRC of its memory.
void RequireUpdating(const DriverDescriptor& driver);
bool DevErase(const DriverDescriptor& driver, const char* argument);
bool DevWrite(const DriverDescriptor& driver, const char* argument, uint32_t address, const uint8_t* data,
              uint32_t length);
bool DevUserPgmExec(const DriverDescriptor& driver, const char* argument);

// Compares what the target holds with what was expected: false, with the first
// difference, where they differ.
bool SameBytes(uint32_t address, const uint8_t* target, const uint8_t* expected, uint32_t length,
               Difference& difference);
// One sector item of a command's argument: "3" or "2-5", decimal. False for anything else.
bool ParseSectorRange(const std::string& item, int32_t& first, int32_t& last);

// The descriptor that is current while no driver is selected: every operation but the
// close says "Use --driver switch to select driver." (an ERROR); the close succeeds.
const DriverDescriptor& NoDriver();

// The driver's learned values (created from its descriptor on first use).
DriverSession& SessionOf(const DriverDescriptor& driver);
