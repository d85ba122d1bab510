#pragma once

#include <string>
#include <vector>

#include "schedule/schedule_info.h"

// The schedule file: "Strelvane/fw_config.xml" in the user's Documents folder, UTF-8
// XML in one exact form (see schedule_file.cpp). It holds device passwords, so it is
// readable by its owner only.

std::string ScheduleFilePath(const std::string& documentsFolder);

// The whole file text for `entries`, in array order. Queued entries are written as
// waiting; the upload fields are not written.
std::string ScheduleFileText(const std::vector<CScheduleInfo>& entries);

// Replaces the file (creating its folder when needed) so that a crash or a full disk
// leaves the old file or the new one, never a torn one. False when nothing was written.
bool SaveSchedule(const std::string& path, const std::vector<CScheduleInfo>& entries);

// True when every field an upgrade needs is filled and the time is set; only such
// entries are read from the file or added to the schedule.
bool IsCompleteScheduleEntry(const CScheduleInfo& entry);

// True when the entry's address can be used: IP an IPv4 address in dotted decimal or a
// host name (dot-separated labels of letters, digits and inner hyphens, at most 63
// characters each and 253 in all, the last not all digits) and Port a decimal number from
// 1 to 65535 as the program writes it. A hand-edited file may hold anything there, and the address
// goes into the requests of a run and into the page a double-click opens: an entry without a usable
// address is shown as invalid, never run and never opened. An OnvifService, when there, must be
// a plain path (IsUsableServicePath), so that no edit of the file sends a log-in elsewhere.
bool HasUsableAddress(const CScheduleInfo& entry);
// Its parts, for those who check an address as it is typed.
bool IsUsableHost(const std::string& host);
bool IsUsablePort(const std::string& port);
// A path that begins with one "/" and holds only the characters of a URL's path (letters,
// digits, "-._~%!$&'()*+,;=:@/").
bool IsUsableServicePath(const std::string& path);

// What reading a schedule file found.
enum class ScheduleFileState {
    Ok,          // a schedule (an empty file counts as an empty one)
    Missing,     // no file: an empty schedule
    Unreadable,  // the file is there but cannot be read
    Malformed,   // not well-formed XML
    Foreign,     // well-formed XML that holds no schedule
};

struct ScheduleFileRead {
    ScheduleFileState State = ScheduleFileState::Missing;
    std::vector<CScheduleInfo> Entries;  // the complete entries, in file order
    // The file holds something a rewrite does not keep: incomplete entries, other
    // elements or sections, attributes this program does not know.
    bool DropsSomething = false;
    std::string Error;  // for the user, when the file cannot be used

    // A file that may be replaced by a save of the entries.
    bool Usable() const {
        return State == ScheduleFileState::Ok || State == ScheduleFileState::Missing;
    }
};

// Parses the file as it is, without locking (see schedule_store.h for the locked use).
ScheduleFileRead ReadScheduleFile(const std::string& path);

// The complete entries of the file, in file order. A missing, unreadable or malformed
// file gives no entries; the file itself is left as it is.
std::vector<CScheduleInfo> LoadSchedule(const std::string& path);
