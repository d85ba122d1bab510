#pragma once

#include <QtGlobal>

#include "ui/main_window.h"

// Another program runs the schedule (it holds the scheduler lock, so the window tries
// to start its scheduler every 5 s and follows the file meanwhile) and, once the window
// is up, holds the schedule file's lock for `holdSeconds`: meanwhile an entry is deleted
// on the Schedule page, the window's retry comes, and Exit is pressed. A 2 ms timer on
// the user-interface thread measures how long that thread stalls from the moment the
// file is held to the end of the shut-down. Shared by the test and the benchmark.
struct ScheduleLockOutcome {
    bool Held = false;          // the other program had the locks
    qint64 MakeMs = 0;          // the window's construction (before the file is held)
    qint64 LongestStallMs = 0;  // between two ticks of the timer, beyond its period
    bool ShutDown = false;      // Exit ended in the shut-down
    int EntriesSaved = -1;      // in the file after the shut-down (2 planned, 1 deleted)
};

ScheduleLockOutcome RunScheduleLockScenario(MainWindowSetup setup, int holdSeconds);
