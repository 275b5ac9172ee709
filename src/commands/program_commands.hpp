// The programming commands' connect loop, also used by drivers that connect a second
// protocol on an open line.
#pragma once

// Calls the current driver's DevConnect until it answers or the connection time-out
// has passed, with the countdown shown in place. True when the target answered.
bool DevConnectWait(const char* key);
