// Helpers shared by the mxbox commands: the edge between the terminal (UTF-8, host paths) and the
// module (the system code page, Windows paths).
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "MxModule/MxModule.h"

namespace mxbox {

// UTF-8 text from the command line in the system code page, exactly: text the code page cannot hold
// is a failure (CLI::RuntimeError) that names the argument: what, e.g. "--title", then the text.
CString Ansi(const std::string& utf8, const std::string& what);
// A path typed by the user: "X:\..." (or "X:/...") is a Windows path, anything else a host path that
// the drive map turns into one. False when no drive holds the host path; a path the code page
// cannot hold is a failure (CLI::RuntimeError).
bool ToWindowsPath(const std::string& arg, CString& winPath);
// As ToWindowsPath, but a path no drive holds is a failure (CLI::RuntimeError).
CString SongPath(const std::string& arg);
// The host path a Windows path names, for the terminal.
std::string Shown(const CString& winPath);
// The library, opened as the front end opens it at start-up, waiting up to g_waitSeconds for another
// process that holds it; failure is a CLI::RuntimeError.
CDBOperater* Library();
extern double g_waitSeconds;
// Text from the module for the terminal.
inline std::string Utf8(const CString& s) { return MxAnsiToUtf8(s, s.GetLength()); }
// A failure: one line on stderr, exit status 1.
int Fail(const std::string& message);
// JSON string literal of UTF-8 text.
std::string JsonString(const std::string& utf8);

// What a file operation's result code means, for the terminal.
const char* FileOperateText(int code);
// Downloads a song the online search found and files it into the library: 0, or 1 after saying why.
int DownloadSearchResult(const AUDIORESULTUINT& result);

void AddRegCommand(CLI::App& app);
void AddMd5Command(CLI::App& app);
void AddLibraryCommands(CLI::App& app);
void AddTagCommands(CLI::App& app);
void AddImportCommands(CLI::App& app);
void AddSettingsCommands(CLI::App& app);
void AddSearchCommands(CLI::App& app);
void AddDownloadCommands(CLI::App& app);
void AddRelocateCommand(CLI::App& app);
void AddPlayersCommands(CLI::App& app);
void AddMachineCommands(CLI::App& app);

}  // namespace mxbox
