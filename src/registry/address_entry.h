#pragma once

#include <string>

// How adding a device by its address ended, and the layout key ([PopuDlg] MacRepeat,
// [ErrorCode] Code_304 or Code_Other) of the message that tells the user.
enum class AddressEntryResult {
    Added,
    Unreachable,    // the device did not answer its system list or network page
    LoginRefused,   // the device refused the user name and password
    MacUsed,        // a device with this MAC address was already entered by hand
    Cancelled,      // the query was abandoned (a stop, the user's Cancel); nothing to say
    AlreadyListed,  // a range scan met a device that is listed already (found by a search)
};

struct MessageKey {
    const char* Section;
    const char* Key;
    const char* Default;
};

// The message for a result other than Added.
MessageKey AddressEntryMessage(AddressEntryResult result);
