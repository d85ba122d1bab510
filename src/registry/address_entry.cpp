#include "registry/address_entry.h"

MessageKey AddressEntryMessage(AddressEntryResult result) {
    switch (result) {
        case AddressEntryResult::MacUsed:
        case AddressEntryResult::AlreadyListed:
            return {"PopuDlg", "MacRepeat", "This MAC is used."};
        case AddressEntryResult::LoginRefused:
            return {"ErrorCode", "Code_304", "Failed! Please check the username and password."};
        case AddressEntryResult::Added:
        case AddressEntryResult::Unreachable:
        case AddressEntryResult::Cancelled:
            break;
    }
    return {"ErrorCode", "Code_Other", "Failed! Please check the network connection."};
}
