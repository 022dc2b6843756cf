// The script runner: what the command line asks of the process, and the run
// of a script file named there. The interactive loop is not its business.
#pragma once

namespace vyx::script_runner {

// The command line read: the script to run, if any, and whether the console
// follows it.
struct Request {
    const char* script = nullptr;  // the script's path as given; null for none
    bool catch_ = false;           // "--catch": the console opens after the script
};

// Reads the leading switches: "--catch" keeps the console open after the
// script, any other "--" switch is passed over, and "--" ends the switches;
// the argument after them names the script (its own arguments follow it).
Request read_command_line(int argc, char** argv);

// Runs the script file: its header, then its body, evaluated. Answers the
// exit status: 0 when it ran through (or was no program), 1 when the file
// cannot be read, -2 when an error nothing caught ended it (its report is
// printed).
int run(const char* path);

}  // namespace vyx::script_runner
