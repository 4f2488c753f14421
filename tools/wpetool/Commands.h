#pragma once
// The subcommands of wpetool. Each takes the arguments after its name and returns the exit status.
#include <iosfwd>
#include <string>
#include <vector>

class TMyMemory;

using TArgs = std::vector<std::string>;

int CmdBuild(const TArgs& args);  // build TEXT OUT.wpe
int CmdDump(const TArgs& args);   // dump FILE.wpe
int CmdRender(const TArgs& args); // render FILE OUT.bmp [--scale S]

// Prints the stream that starts at the read cursor of `stream` in the text form, one event a line.
// Returns 0 for a valid stream; otherwise prints the valid events before the fault, the rest as a
// Raw line, writes "invalid at byte N" (N from the read cursor) to err and returns 1.
int DumpEvents(const TMyMemory& stream, std::ostream& out, std::ostream& err);

// A picture file (*.wpb) starts with its magic; DumpPictureEvents prints its embedded record
// as DumpEvents does, or a one-line reason and 1 when the file's layout is damaged.
bool IsPictureFile(const TMyMemory& file);
int DumpPictureEvents(const TMyMemory& file, std::ostream& out, std::ostream& err);
