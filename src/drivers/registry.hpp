// The drivers the program knows, one row each, and the selection of the current one.
// DRIVER, DRVLIST, the help screen's driver list and REQISP all read this table.
#pragma once

#include <string>

#include "drivers/driver.hpp"

struct DriverRow {
    const char* keyword;  // the DRIVER name, upper case
    int number;           // the driver number REQISP and the tests know
    const DriverDescriptor* descriptor;
    bool listed;           // shown by DRVLIST
    const char* drvList;   // its DRVLIST lines, each ended by '\n'
    const char* help;      // its part of the help screen's driver list (CR LF lines)
    // The driver whose open, connect and close send the REQISP request while this one
    // is current; the request then stays set for this one's connects (null: this one
    // sends it, and an answered request is done).
    const char* ispRequestBy = nullptr;
};

// Rows in DRVLIST order, ended by a row without a keyword.
const DriverRow* DriverRows();
// The row of that keyword (whole text, upper case), or null.
const DriverRow* DriverFind(const std::string& keyword);
// The descriptor of a driver another driver works with; a missing one is a FATAL ERROR.
const DriverDescriptor& DriverNamed(const char* keyword);

// The current driver; NoDriver() until one is selected.
const DriverDescriptor& CurrentDriver();
DriverSession& CurrentSession();
int CurrentDriverNumber();        // 0 while none is selected
const char* CurrentDriverName();  // "" while none is selected

// Makes the driver current. A non-null option text replaces the run's driver options;
// null keeps them. A driver with an image preparation marks it pending for the next
// WRITE; selecting another one drops the mark.
void DriverSelect(const DriverDescriptor& driver, const char* options);
// A driver handing its open line to another one (a boot ROM that started a RAM routine
// speaking another protocol): the same selection, but a pending image preparation
// stays, so that the code written through the new driver is still prepared for the
// part. The connection stands: the port stays open.
void DriverHandOver(const DriverDescriptor& driver, const char* options);

// The image preparation the next WRITE runs (null: none), and its end.
CodePreparation PendingCodePreparation();
// The image check ERASE and WRITE run (null: none): the current driver's, or the one of
// the driver that handed its line to it.
CodeCheck CurrentCodeCheck();
void ClearPendingCodePreparation();

// The current driver's row (null while none is selected).
const DriverRow* CurrentDriverRow();

// DRVLIST's lines and the help screen's driver list.
std::string DriverListText();
std::string DriverHelpText();
