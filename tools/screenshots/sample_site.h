#pragma once

#include <QString>

class CUpgradePage;

// A technician's site as the program shows it, for pictures and for the tests that look
// at every page in every language: long names and paths, and every kind of status.

// A firmware store as a technician's store holds it: two series stored, two never
// downloaded.
void SeedFirmwareStore(const QString& folder);

// Tonight's plan after a few runs, written to `folder`/fw_config.xml: one upgraded, one
// refused, one missed, one whose image was moved away, two still to come. Returns the
// file's path.
QString WriteSampleSchedule(const QString& folder);

// A few rows as a search and its checks leave them: two passed, one refused.
void ListSampleDevices(CUpgradePage& page);

// The status list of a run under way: waiting, uploading, back and refused.
void ShowSampleRun(CUpgradePage& page);
