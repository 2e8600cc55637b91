// What the program does around the toolkit that differs by system
// (Startup_linux.cpp, Startup_windows.cpp): the process's entry, which hands
// the command line to the toolkit, and what is set and held while it runs.
#pragma once

// Called first thing in the application object's constructor, before the
// toolkit initialises its windowing.
void PrepareToolkit();

// Held while the program runs where the system needs a mark of it: on
// Windows a named mutex that the installer and the uninstaller look for, so
// that they ask for the program to be closed before they replace or remove
// its files.
class RunningMark {
public:
    RunningMark();
    ~RunningMark();
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    void* handle = nullptr;
};
